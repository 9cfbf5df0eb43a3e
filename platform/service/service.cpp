#include "platform/service/service.h"

#include <exception>

#include "base/sysutils.h"

void TServiceThread::Terminate()
{
    {
        std::lock_guard<std::mutex> guard(QueueLock);
        FTerminated = true;
    }
    QueueChanged.notify_all();
}

void TServiceThread::ProcessRequests(bool waitForMessage)
{
    for (;;) {
        TMessage message;
        {
            std::unique_lock<std::mutex> lock(QueueLock);
            if (waitForMessage) {
                QueueChanged.wait(lock, [this] { return FTerminated.load() || !Queue.empty(); });
                if (FTerminated)
                    return;
            } else if (Queue.empty()) {
                return;
            }
            message = Queue.front();
            Queue.pop_front();
        }
        if (message.Message == CM_SERVICE_CONTROL_CODE)
            Service.DoControl(message.WParam);
    }
}

bool TServiceThread::PeekRequest(uint32_t& controlCode) const
{
    std::lock_guard<std::mutex> guard(QueueLock);
    for (const TMessage& message : Queue)
        if (message.Message == CM_SERVICE_CONTROL_CODE) {
            controlCode = message.WParam;
            return true;
        }
    return false;
}

void TServiceThread::PostThreadMessage(uint32_t message, uint32_t wParam)
{
    {
        std::lock_guard<std::mutex> guard(QueueLock);
        Queue.push_back(TMessage{message, wParam});
    }
    QueueChanged.notify_all();
}

TService::TService() : FServiceThread(*this) {}

TService::~TService()
{
    if (FServiceThread.Thread.joinable()) {
        FServiceThread.Terminate();
        FServiceThread.Thread.join();
    }
}

void TService::ReportStatus()
{
    std::lock_guard<std::mutex> guard(StatusLock);
    if (Host == nullptr)
        return;
    TServiceStatus status;
    status.CurrentState = FStatus;
    if (status.CurrentState != csStartPending && status.CurrentState != csStopped)
        status.ControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    if (status.CurrentState == csStartPending || status.CurrentState == csStopPending) {
        status.CheckPoint = ++CheckPoint;
        status.WaitHint = WaitHint;
    } else {
        CheckPoint = 0;
    }
    Host->SetServiceStatus(status);
}

void TService::Controller(uint32_t CtrlCode)
{
    FServiceThread.PostThreadMessage(CM_SERVICE_CONTROL_CODE, CtrlCode);
}

void TService::LogMessage(const std::string& message, int eventType)
{
    std::lock_guard<std::mutex> guard(EventLogLock);
    EventLog.Report(Name, message, eventType);
}

void TService::StartServiceThread(TServiceHost& host)
{
    if (FServiceThread.Thread.joinable())
        throw Exception("Service " + Name + " is already running");
    {
        std::lock_guard<std::mutex> guard(StatusLock);
        Host = &host;
    }
    FServiceThread.Thread = std::thread([this] { ServiceMain(); });
}

void TService::WaitForServiceThread()
{
    if (FServiceThread.Thread.joinable())
        FServiceThread.Thread.join();
}

void TService::ServiceMain()
{
    SetStatus(csStartPending);
    bool started = true;
    try {
        if (OnStart)
            OnStart(this, started);
    } catch (const std::exception& e) {
        LogFailure("start", e.what());
        started = false;
    } catch (...) {
        LogFailure("start", "unknown error");
        started = false;
    }
    if (started) {
        SetStatus(csRunning);
        try {
            if (OnExecute)
                OnExecute(this);
            else
                FServiceThread.ProcessRequests(true);
        } catch (const std::exception& e) {
            LogFailure("execute", e.what());
        } catch (...) {
            LogFailure("execute", "unknown error");
        }
    }
    SetStatus(csStopped);
}

void TService::SetStatus(TCurrentStatus status)
{
    FStatus = status;
    ReportStatus();
}

void TService::DoControl(uint32_t controlCode)
{
    switch (controlCode) {
    case SERVICE_CONTROL_STOP:
        DoStop();
        break;
    case SERVICE_CONTROL_SHUTDOWN:
        DoShutdown();
        break;
    case SERVICE_CONTROL_INTERROGATE:
        ReportStatus();
        break;
    default:
        // Pause, continue and custom controls are not offered.
        break;
    }
}

void TService::DoStop()
{
    const TCurrentStatus previous = Status();
    SetStatus(csStopPending);
    bool stopped = true;
    try {
        if (OnStop)
            OnStop(this, stopped);
    } catch (const std::exception& e) {
        LogFailure("stop", e.what());
        stopped = false;
    } catch (...) {
        LogFailure("stop", "unknown error");
        stopped = false;
    }
    if (stopped)
        FServiceThread.Terminate();
    else
        SetStatus(previous);
}

void TService::DoShutdown()
{
    SetStatus(csStopPending);
    try {
        if (OnShutdown)
            OnShutdown(this);
    } catch (const std::exception& e) {
        LogFailure("shutdown", e.what());
    } catch (...) {
        LogFailure("shutdown", "unknown error");
    }
    FServiceThread.Terminate();
}

void TService::LogFailure(const char* action, const std::string& message)
{
    LogMessage(Format("Service %s failed on %s: %s", Name.c_str(), action, message.c_str()), EVENTLOG_ERROR_TYPE);
}
