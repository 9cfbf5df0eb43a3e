// The generic file-tracking service on its own service thread: control requests during a pass,
// the deferred release of a stop, a start that fails on its pipe server.
#include "service/ftsrvbase.h"

#include <atomic>
#include <gtest/gtest.h>

#include "foundation/sds.h"
#include "ftsrvkit.h"
#include "pipekit.h"
#include "platform/files/findfile.h"
#include "service/ft_control.h"

namespace {

const TDateTime Day = EncodeDate(2024, 3, 5);

// Lets the test hold the service thread inside a hook and release it again.
class TGate {
public:
    // Service thread: announces arrival and waits for the release.
    void Pass()
    {
        Arrived = true;
        EXPECT_TRUE(WaitFor([this] { return Released.load(); }));
    }
    bool WaitArrived() { return WaitFor([this] { return Arrived.load(); }); }
    void Release() { Released = true; }

private:
    std::atomic<bool> Arrived{false};
    std::atomic<bool> Released{false};
};

class FtrackerServiceThread : public ::testing::Test {
protected:
    PipeDirectory Pipes;
    TempDir Dir;
    TTestClock Clock{Day + Span(10, 0, 0)};
    TRecordingHost Host;
    std::unique_ptr<TScriptedService> Service = std::make_unique<TScriptedService>(Dir, Clock);

    ~FtrackerServiceThread() override
    {
        if (!Host.Ended())
            Service->GetServiceController()(SERVICE_CONTROL_STOP);
        Service->WaitForServiceThread();
    }

    std::string MakeDir(const std::string& name, const std::vector<std::string>& files)
    {
        return MakeDirWithFiles(Dir / name, files);
    }
    // Starts the service thread and waits until the service runs.
    void Start(const std::vector<std::string>& dirs)
    {
        WriteSettings(Service->ConfigFileName, dirs);
        Service->StartServiceThread(Host);
        ASSERT_TRUE(WaitFor([this] { return Host.Count(csRunning) > 0; }));
    }
    // The first check is due 5 seconds after it was scheduled.
    void MakeCheckDue()
    {
        ASSERT_TRUE(FirstCheckScheduled(*Service));
        Clock.Advance(Span(0, 0, 6));
    }
    bool LogHas(const std::string& message) const
    {
        return CountOf(LogMessages(Service->LogFileName), message) > 0;
    }
    // The busy byte of a "REQGETSTATS" answer over the statistics pipe; -1 without an answer.
    int BusyOverThePipe()
    {
        const TPipeReply reply = CallPipe("FtTestInfo", PipeMessage(REQGETSTATS));
        if (!reply.Ok || reply.Answer.size() != static_cast<size_t>(StatsAnswerLength))
            return -1;
        return static_cast<unsigned char>(reply.Answer[ServiceStatusOffset + offsetof(TServiceStatusInfo, Busy)]);
    }
};

TEST_F(FtrackerServiceThread, InterrogateDuringAPassIsAnsweredAndTheFilesGoOn)
{
    std::vector<std::string> entries;
    for (const char* name : {"e1", "e2", "e3"})
        entries.push_back(MakeDir(std::string("shop/") + name, {std::string(name) + ".txt"}) + ";txt");
    Service->OnSplit = [&](const std::string&, std::vector<std::string>& list) { list = entries; };
    TGate gate;
    size_t reportsInSecondEntry = 0;
    Service->OnTransfer = [&](const std::string& path, const std::string&, bool&) {
        if (ExtractFileName(path) == "e1.txt")
            gate.Pass();
        if (ExtractFileName(path) == "e2.txt")
            reportsInSecondEntry = Host.Count(csRunning);
        return true;
    };
    Start({Dir / "shop"});
    MakeCheckDue();
    ASSERT_TRUE(gate.WaitArrived());
    EXPECT_EQ(BusyOverThePipe(), 1);
    const size_t reportsBefore = Host.Count(csRunning);
    Service->GetServiceController()(SERVICE_CONTROL_INTERROGATE);
    gate.Release();

    ASSERT_TRUE(WaitFor([this] { return LogHas("processed 3 files OK, 0 files bad, elapsed 0:00:00:000"); }));
    EXPECT_EQ(Service->Sent(), (std::vector<std::string>{"e1.txt@0", "e2.txt@0", "e3.txt@0"}));
    // The pass looked at the waiting request before the second entry and reported the status then.
    EXPECT_GT(reportsInSecondEntry, reportsBefore);
    EXPECT_FALSE(LogHas(CancelText));
    EXPECT_TRUE(WaitFor([this] { return BusyOverThePipe() == 0; }));
}

// A stop handled after a file of the second of five entries ends the service only once the pass has
// returned: the pass winds down with the lock, lists, pipe servers and version information intact.
TEST_F(FtrackerServiceThread, StopDuringAPassReleasesAfterThePassAndOnlyOnce)
{
    std::vector<std::string> entries;
    entries.push_back(MakeDir("shop/e1", {"e1.txt"}) + ";txt");
    entries.push_back(MakeDir("shop/e2", {"e2a.txt", "e2b.txt"}) + ";txt");
    for (const char* name : {"e3", "e4", "e5"})
        entries.push_back(MakeDir(std::string("shop/") + name, {std::string(name) + ".txt"}) + ";txt");
    const std::string other = MakeDir("other", {"o.arg"});
    Service->Destinations = {"tr2list0.dst", "tr2list1.dst"};
    Service->StopAware = true;
    Service->ProcessRequestsAfterFile = true;
    Service->OnSplit = [&](const std::string& dir, std::vector<std::string>& list) {
        if (dir == Dir / "shop")
            list = entries;
        else
            list.push_back(dir + ";arg");
    };
    TGate gate;
    Service->OnTransfer = [&](const std::string& path, const std::string&, bool&) {
        if (ExtractFileName(path) == "e2b.txt")
            gate.Pass();
        return true;
    };
    // What the pass still has once the stop was handled.
    bool terminated = false, lock = false, servers = false, lists = false, version = false, stopLine = true;
    int busy = -1;
    Service->OnAfter = [&] {
        terminated = Service->ServiceThread().Terminated();
        lock = Service->HasStateLock();
        servers = Service->InfoServer != nullptr && Service->ControlServer != nullptr;
        lists = Service->StatusFiles.size() == 2;
        version = Service->VersionInfo != nullptr;
        stopLine = LogHas("FtTest service stopped");
        busy = BusyOverThePipe();
    };
    Start({Dir / "shop", other});
    MakeCheckDue();
    ASSERT_TRUE(gate.WaitArrived());
    Service->GetServiceController()(SERVICE_CONTROL_STOP);
    Service->GetServiceController()(SERVICE_CONTROL_STOP);
    gate.Release();
    ASSERT_TRUE(WaitFor([this] { return Host.Ended(); }));
    Service->WaitForServiceThread();

    EXPECT_TRUE(terminated);
    EXPECT_TRUE(lock);
    EXPECT_TRUE(servers);
    EXPECT_TRUE(lists);
    EXPECT_TRUE(version);
    EXPECT_FALSE(stopLine);
    EXPECT_EQ(busy, 1);

    EXPECT_EQ(Service->Calls(), (std::vector<std::string>{"before 0", "send e1.txt@0", "send e2b.txt@0", "after 0"}));
    // The file the stop kept back stays changed for the next pass.
    const std::string status = ReadTextFile(Dir / "shop/e2/tr2list0.dst");
    EXPECT_NE(status.find("e2b.txt"), std::string::npos);
    EXPECT_EQ(status.find("e2a.txt"), std::string::npos);

    const auto log = LogMessages(Service->LogFileName);
    EXPECT_EQ(CountOf(log, "Stopping service..."), 1u);
    EXPECT_EQ(CountOf(log, "Pipe server stopped \"FtTestControl\""), 1u);
    EXPECT_EQ(CountOf(log, "Pipe server stopped \"FtTestInfo\""), 1u);
    EXPECT_EQ(CountOf(log, "FtTest service stopped"), 1u);
    EXPECT_EQ(CountOf(log, CancelText), 2u);  // at the second destination, and for the other chain
    // The entry loop ended at the stop, so the chain ended by the cancellation: no summary.
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) { return line.find(" files OK, ") != std::string::npos; }),
              0);
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[log.size() - 4], "Stopping service...");
    EXPECT_EQ(log.back(), "FtTest service stopped");
    EXPECT_FALSE(Service->HasStateLock());
    EXPECT_EQ(Service->InfoServer, nullptr);
    EXPECT_EQ(Service->VersionInfo, nullptr);
    EXPECT_EQ(BusyOverThePipe(), -1);
}

TEST_F(FtrackerServiceThread, RequestsAfterTheStopReleaseNothingTwice)
{
    // Queued before the start: the loop handles all three in one go.
    Service->GetServiceController()(SERVICE_CONTROL_SHUTDOWN);
    Service->GetServiceController()(SERVICE_CONTROL_STOP);
    Service->GetServiceController()(SERVICE_CONTROL_SHUTDOWN);
    Start({});
    ASSERT_TRUE(WaitFor([this] { return Host.Ended(); }));
    Service->WaitForServiceThread();
    const auto log = LogMessages(Service->LogFileName);
    EXPECT_EQ(CountOf(log, "Stopping service..."), 1u);
    EXPECT_EQ(CountOf(log, "Pipe server stopped \"FtTestInfo\""), 1u);
    EXPECT_EQ(CountOf(log, "FtTest stopped at system shutdown"), 1u);
    EXPECT_EQ(CountOf(log, "FtTest service stopped"), 0u);
    EXPECT_EQ(log.back(), "FtTest stopped at system shutdown");
    EXPECT_EQ(Host.Count(csStopPending), 3u);
}

TEST_F(FtrackerServiceThread, StartEndsWhenAPipeServerCannotBeCreated)
{
    // The statistics pipe is already served by another server on the same pipe directory.
    TFtrackerSrvInfo other("FtTestInfo", 1);
    ASSERT_TRUE(WaitFor([] { return CallPipe("FtTestInfo", PipeMessage(REQGETSTATS)).Ok; }));
    WriteSettings(Service->ConfigFileName, {});
    Service->StartServiceThread(Host);
    ASSERT_TRUE(WaitFor([this] { return Host.Ended(); }));
    Service->WaitForServiceThread();

    EXPECT_EQ(Host.Count(csRunning), 0u);
    const auto log = LogMessages(Service->LogFileName);
    EXPECT_EQ(CountOf(log, "Pipe server started \"FtTestInfo\""), 0u);
    EXPECT_EQ(CountOf(log, "Pipe server started \"FtTestControl\""), 1u);
    const TServiceStatusInfo info = Service->Stats();
    ASSERT_NE(std::string(info.LastError), "");
    EXPECT_EQ(CountOf(log, info.LastError), 1u);
    // The check loop never ran: nothing was scheduled.
    EXPECT_EQ(TimeText(info.NextCheckTime), "0000-00-00 00:00:00.000");
    // The other server still serves its pipe.
    EXPECT_TRUE(CallPipe("FtTestInfo", PipeMessage(REQGETSTATS)).Ok);
}

}  // namespace
