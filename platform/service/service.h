// The service framework: a service object whose start, execute, stop and shutdown events run on
// its own service thread. Whoever controls the service (a TServiceHost: the service manager, or the
// terminal for a program started by hand) hands control codes to the service's controller, which
// queues them to the service thread; that thread handles them when the service asks it to, and
// reports every change of status back to the host.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/eventlog/eventlog.h"
#include "platform/service/servicestate.h"

// The service thread's message that carries a control request; its parameter is the control code.
constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t CM_SERVICE_CONTROL_CODE = WM_USER + 1;

// Whoever controls a service. Receives every status report, in order, on the reporting thread; the
// last one of a service's run reports csStopped. Must not call back into the service.
class TServiceHost {
public:
    virtual ~TServiceHost() = default;
    virtual void SetServiceStatus(const TServiceStatus& status) = 0;
};

class TService;

// The thread that runs a service's events, with its queue of messages.
class TServiceThread {
public:
    TServiceThread(const TServiceThread&) = delete;
    TServiceThread& operator=(const TServiceThread&) = delete;

    // The termination flag: set after the stop event (answered stopped) and the shutdown event.
    bool Terminated() const { return FTerminated.load(); }
    void Terminate();

    // Service thread only. Removes and handles the waiting control requests: stop and shutdown set
    // the status to stop-pending and run their event, interrogate reports the status. Without
    // waiting it returns once the queue is empty; waiting, it handles requests as they arrive
    // until the termination flag is set.
    void ProcessRequests(bool waitForMessage);

    // The control code of the first waiting control request, left in the queue; false when none waits.
    bool PeekRequest(uint32_t& controlCode) const;

    // Queues a message for the service thread; any thread.
    void PostThreadMessage(uint32_t message, uint32_t wParam);

private:
    friend class TService;
    struct TMessage {
        uint32_t Message = 0;
        uint32_t WParam = 0;
    };

    explicit TServiceThread(TService& service) : Service(service) {}

    TService& Service;
    std::atomic<bool> FTerminated{false};
    mutable std::mutex QueueLock;
    std::condition_variable QueueChanged;
    std::deque<TMessage> Queue;
    std::thread Thread;
};

using TServiceEvent = std::function<void(TService* Sender)>;
using TStartEvent = std::function<void(TService* Sender, bool& Started)>;
using TStopEvent = std::function<void(TService* Sender, bool& Stopped)>;
using TServiceController = std::function<void(uint32_t CtrlCode)>;

class TService : public TLogEchoTarget {
public:
    TService();
    // The owner lets the service end before destroying it; a service thread still running is
    // told to terminate and joined, without further events.
    ~TService() override;
    TService(const TService&) = delete;
    TService& operator=(const TService&) = delete;

    std::string Name;         // the service name; also the source of its system-log lines
    std::string DisplayName;
    uint32_t WaitHint = 5000;  // milliseconds, reported with the pending states

    // Events, run on the service thread. The start event runs first; when it answers Started false
    // the service ends at once. Otherwise the execute event runs until it returns (without one the
    // thread handles control requests until terminated), and then the service ends.
    TStartEvent OnStart;
    TServiceEvent OnExecute;
    TStopEvent OnStop;
    TServiceEvent OnShutdown;

    TServiceThread& ServiceThread() { return FServiceThread; }
    TCurrentStatus Status() const { return FStatus.load(); }

    // Reports the current status to the host.
    void ReportStatus();

    // The handler the host calls with each control code; it should hand the code to Controller.
    virtual TServiceController GetServiceController() = 0;
    // Queues a control request to the service thread as message CM_SERVICE_CONTROL_CODE; any thread.
    void Controller(uint32_t CtrlCode);

    // The echo of log lines to the system log, under the service name.
    void LogMessage(const std::string& message, int eventType) override;

    // Host side: runs the service on a new service thread, reporting to host; returns at once.
    void StartServiceThread(TServiceHost& host);
    // Host side: waits until the service thread has ended.
    void WaitForServiceThread();

private:
    friend class TServiceThread;

    void ServiceMain();
    void SetStatus(TCurrentStatus status);
    void DoControl(uint32_t controlCode);
    void DoStop();
    void DoShutdown();
    void LogFailure(const char* action, const std::string& message);

    TServiceThread FServiceThread;
    std::atomic<TCurrentStatus> FStatus{csStopped};
    std::mutex StatusLock;  // keeps status reports whole and in order
    uint32_t CheckPoint = 0;
    TServiceHost* Host = nullptr;
    std::mutex EventLogLock;
    TEventLog EventLog;
};
