#include "platform/service/service.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "base/sysutils.h"
#include "childproc.h"
#include "testkit.h"

namespace {

// Stands in for the service manager: records the status reports it receives.
class TScriptedManager : public TServiceHost {
public:
    void SetServiceStatus(const TServiceStatus& status) override
    {
        std::lock_guard<std::mutex> guard(Lock);
        Reports.push_back(status);
    }
    std::vector<TCurrentStatus> States() const
    {
        std::lock_guard<std::mutex> guard(Lock);
        std::vector<TCurrentStatus> states;
        for (const TServiceStatus& report : Reports)
            states.push_back(report.CurrentState);
        return states;
    }
    std::vector<TServiceStatus> All() const
    {
        std::lock_guard<std::mutex> guard(Lock);
        return Reports;
    }
    size_t Count() const
    {
        std::lock_guard<std::mutex> guard(Lock);
        return Reports.size();
    }
    bool Ended() const
    {
        std::lock_guard<std::mutex> guard(Lock);
        return !Reports.empty() && Reports.back().CurrentState == csStopped;
    }

private:
    mutable std::mutex Lock;
    std::vector<TServiceStatus> Reports;
};

// A service that records its events and the thread each ran on.
class TRecordingService : public TService {
public:
    TRecordingService()
    {
        Name = "FerrixTest";
        OnStart = [this](TService*, bool& started) {
            Record("start");
            started = StartAnswer;
        };
        OnStop = [this](TService*, bool& stopped) {
            Record("stop");
            StatusInStop = Status();
            stopped = StopAnswer;
        };
        OnShutdown = [this](TService*) { Record("shutdown"); };
    }
    ~TRecordingService() override { WaitForServiceThread(); }

    TServiceController GetServiceController() override
    {
        return [this](uint32_t CtrlCode) { Controller(CtrlCode); };
    }

    void Record(const std::string& event)
    {
        std::lock_guard<std::mutex> guard(Lock);
        Events.push_back(event);
        Threads.push_back(std::this_thread::get_id());
    }
    std::vector<std::string> RecordedEvents() const
    {
        std::lock_guard<std::mutex> guard(Lock);
        return Events;
    }
    bool Has(const std::string& event) const
    {
        std::lock_guard<std::mutex> guard(Lock);
        return std::find(Events.begin(), Events.end(), event) != Events.end();
    }
    std::vector<std::thread::id> RecordedThreads() const
    {
        std::lock_guard<std::mutex> guard(Lock);
        return Threads;
    }

    bool StartAnswer = true;
    bool StopAnswer = true;
    TCurrentStatus StatusInStop = csStopped;

private:
    mutable std::mutex Lock;
    std::vector<std::string> Events;
    std::vector<std::thread::id> Threads;
};

using States = std::vector<TCurrentStatus>;

}  // namespace

TEST(Service, StartExecuteStopInOrderOnTheServiceThread)
{
    TScriptedManager manager;
    TRecordingService service;
    service.OnExecute = [&](TService*) {
        service.Record("execute");
        service.ServiceThread().ProcessRequests(true);
        service.Record("execute end");
    };
    service.StartServiceThread(manager);
    ASSERT_TRUE(WaitFor([&] { return service.Has("execute"); }));
    EXPECT_EQ(service.Status(), csRunning);
    EXPECT_FALSE(service.ServiceThread().Terminated());

    service.GetServiceController()(SERVICE_CONTROL_STOP);
    service.WaitForServiceThread();

    EXPECT_EQ(service.RecordedEvents(), (std::vector<std::string>{"start", "execute", "stop", "execute end"}));
    const auto threads = service.RecordedThreads();
    for (const auto& id : threads) {
        EXPECT_EQ(id, threads.front());
        EXPECT_NE(id, std::this_thread::get_id());
    }
    EXPECT_EQ(service.StatusInStop, csStopPending);
    EXPECT_TRUE(service.ServiceThread().Terminated());
    EXPECT_EQ(service.Status(), csStopped);
    EXPECT_EQ(manager.States(), (States{csStartPending, csRunning, csStopPending, csStopped}));

    const auto reports = manager.All();
    EXPECT_EQ(reports[1].ControlsAccepted, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
    EXPECT_EQ(reports[2].WaitHint, service.WaitHint);
    EXPECT_GT(reports[2].CheckPoint, 0u);
    EXPECT_EQ(reports[3].ControlsAccepted, 0u);
}

TEST(Service, FailedStartEndsWithoutExecuteOrStop)
{
    // Answered started = false, or raised: either way the service ends at once.
    for (const bool raise : {false, true}) {
        TScriptedManager manager;
        TRecordingService service;
        service.StartAnswer = false;
        if (raise)
            service.OnStart = [&](TService*, bool&) {
                service.Record("start");
                throw Exception("no lock");
            };
        service.OnExecute = [&](TService*) { service.Record("execute"); };
        service.Controller(SERVICE_CONTROL_STOP);  // waiting before the start: never handled
        service.StartServiceThread(manager);
        service.WaitForServiceThread();

        EXPECT_EQ(service.RecordedEvents(), (std::vector<std::string>{"start"})) << raise;
        EXPECT_EQ(manager.States(), (States{csStartPending, csStopped})) << raise;
    }
}

TEST(Service, RequestsAreQueuedPeekedAndProcessedWithoutWaiting)
{
    TScriptedManager manager;
    TRecordingService service;
    bool peekedInterrogateTwice = false;
    bool stopSeenAfterProcessing = true;
    size_t reportsBefore = 0;
    States statesAfter;
    service.OnExecute = [&](TService*) {
        TServiceThread& thread = service.ServiceThread();
        uint32_t first = 0, again = 0;
        peekedInterrogateTwice = thread.PeekRequest(first) && thread.PeekRequest(again) &&
                                 first == SERVICE_CONTROL_INTERROGATE && again == SERVICE_CONTROL_INTERROGATE;
        reportsBefore = manager.Count();
        thread.ProcessRequests(false);
        statesAfter = manager.States();
        uint32_t left = 0;
        stopSeenAfterProcessing = thread.PeekRequest(left);
        thread.ProcessRequests(false);  // nothing waits: returns at once
    };
    // The stop waits behind the interrogation.
    service.Controller(SERVICE_CONTROL_INTERROGATE);
    service.Controller(SERVICE_CONTROL_STOP);
    service.StartServiceThread(manager);
    service.WaitForServiceThread();

    EXPECT_TRUE(peekedInterrogateTwice);
    EXPECT_FALSE(stopSeenAfterProcessing);
    EXPECT_EQ(reportsBefore, 2u);
    EXPECT_EQ(statesAfter, (States{csStartPending, csRunning, csRunning, csStopPending}));
    EXPECT_EQ(service.RecordedEvents(), (std::vector<std::string>{"start", "stop"}));
    EXPECT_TRUE(service.ServiceThread().Terminated());
}

TEST(Service, RefusedStopAndCodesNotOffered)
{
    TScriptedManager manager;
    TRecordingService service;
    service.StopAnswer = false;
    uint32_t peeked = 0;
    bool terminatedAfterStop = true;
    service.OnExecute = [&](TService*) {
        service.ServiceThread().PeekRequest(peeked);
        service.ServiceThread().ProcessRequests(false);
        terminatedAfterStop = service.ServiceThread().Terminated();
    };
    service.Controller(200);                    // a custom code: ignored
    service.Controller(SERVICE_CONTROL_PAUSE);  // pause is not offered: ignored
    service.Controller(SERVICE_CONTROL_STOP);   // answered stopped = false
    service.StartServiceThread(manager);
    service.WaitForServiceThread();

    EXPECT_EQ(peeked, 200u);
    EXPECT_FALSE(terminatedAfterStop);
    EXPECT_EQ(service.RecordedEvents(), (std::vector<std::string>{"start", "stop"}));
    EXPECT_EQ(manager.States(), (States{csStartPending, csRunning, csStopPending, csRunning, csStopped}));
}

TEST(Service, ShutdownTerminatesWhateverItsEventDoes)
{
    TScriptedManager manager;
    TRecordingService service;
    service.OnShutdown = [&](TService*) {
        service.Record("shutdown");
        throw Exception("shutdown trouble");
    };
    service.OnExecute = [&](TService*) {
        service.ServiceThread().ProcessRequests(false);
        service.Record(service.ServiceThread().Terminated() ? "terminated" : "running");
    };
    service.Controller(SERVICE_CONTROL_SHUTDOWN);
    service.StartServiceThread(manager);
    service.WaitForServiceThread();
    EXPECT_EQ(service.RecordedEvents(), (std::vector<std::string>{"start", "shutdown", "terminated"}));
    EXPECT_EQ(manager.States(), (States{csStartPending, csRunning, csStopPending, csStopped}));
}

TEST(Service, StopEventThatRaisesLeavesTheServiceRunning)
{
    TScriptedManager manager;
    TRecordingService service;
    service.OnStop = [&](TService*, bool&) {
        service.Record("stop");
        throw Exception("stop trouble");
    };
    service.StartServiceThread(manager);  // no execute event: requests are handled as they come
    ASSERT_TRUE(WaitFor([&] { return service.Status() == csRunning; }));
    service.Controller(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(WaitFor([&] { return manager.Count() == 4; }));
    EXPECT_FALSE(service.ServiceThread().Terminated());
    EXPECT_EQ(service.Status(), csRunning);

    service.Controller(SERVICE_CONTROL_SHUTDOWN);
    service.WaitForServiceThread();
    EXPECT_EQ(service.RecordedEvents(), (std::vector<std::string>{"start", "stop", "shutdown"}));
    EXPECT_EQ(manager.States(), (States{csStartPending, csRunning, csStopPending, csRunning, csStopPending, csStopped}));
}

TEST(Service, RequestsFromManyThreadsWhileTheServiceWaits)
{
    TScriptedManager manager;
    TRecordingService service;
    service.StartServiceThread(manager);
    ASSERT_TRUE(WaitFor([&] { return service.Status() == csRunning; }));

    constexpr int Senders = 4;
    constexpr int PerSender = 50;
    std::vector<std::thread> senders;
    for (int i = 0; i < Senders; ++i)
        senders.emplace_back([&] {
            for (int n = 0; n < PerSender; ++n)
                service.Controller(SERVICE_CONTROL_INTERROGATE);
        });
    for (auto& sender : senders)
        sender.join();
    ASSERT_TRUE(WaitFor([&] { return manager.Count() == 2 + Senders * PerSender; }));
    service.Controller(SERVICE_CONTROL_STOP);
    service.WaitForServiceThread();
    EXPECT_EQ(manager.Count(), 2u + Senders * PerSender + 2);
    EXPECT_TRUE(manager.Ended());
}

// The sample program in the foreground, as a real process.
namespace {

TChild SpawnSample(const std::vector<std::string>& args)
{
    std::vector<std::string> all{FERRIX_SERVICE_SAMPLE};
    all.insert(all.end(), args.begin(), args.end());
    return SpawnChild(all);
}

bool LogHas(const std::string& path, const std::string& message)
{
    const auto messages = LogMessages(path);
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

}  // namespace

TEST(ForegroundService, StopSignalsEndTheProgramAfterTheStopEvent)
{
    for (const int signal : {SIGTERM, SIGINT}) {
        TempDir dir;
        const std::string log = dir / "sample.log";
        TChild child = SpawnSample({log});
        ASSERT_TRUE(WaitFor([&] { return LogHas(log, "execute"); }, std::chrono::seconds(30))) << signal;
        ASSERT_EQ(::kill(child.Pid, signal), 0);
        ASSERT_TRUE(WaitForExit(child)) << signal;
        ASSERT_TRUE(WIFEXITED(child.Status)) << signal;
        EXPECT_EQ(WEXITSTATUS(child.Status), 0);
        EXPECT_EQ(LogMessages(log), (std::vector<std::string>{"start", "execute", "stop", "execute end"}));
    }
}

TEST(ForegroundService, FailedStartEndsTheProgramWithStatus1)
{
    TempDir dir;
    const std::string log = dir / "sample.log";
    TChild child = SpawnSample({log, "fail-start"});
    ASSERT_TRUE(WaitForExit(child));
    ASSERT_TRUE(WIFEXITED(child.Status));
    EXPECT_EQ(WEXITSTATUS(child.Status), 1);
    EXPECT_EQ(LogMessages(log), (std::vector<std::string>{"start"}));
}

TEST(ForegroundService, InstallSwitchNeedsAServiceManager)
{
    TempDir dir;
    const std::string log = dir / "sample.log";
    TChild child = SpawnSample({log, "/Install"});
    ASSERT_TRUE(WaitForExit(child));
    ASSERT_TRUE(WIFEXITED(child.Status));
    EXPECT_EQ(WEXITSTATUS(child.Status), 1);
    EXPECT_FALSE(LogHas(log, "start"));
}
