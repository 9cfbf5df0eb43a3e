// Shared by the suites of the generic file-tracking service: a clock the test moves by hand, a
// service whose hooks are scripted by the test, a host that records status reports, and log reading.
#pragma once

#include <algorithm>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ftconfigbase.h"
#include "base/sysutils.h"
#include "foundation/pipeproto.h"
#include "foundation/trconfig.h"
#include "ftpserver.h"
#include "service/ftsrvbase.h"
#include "testkit.h"

// FTP settings that send to the server's "central" directory in passive mode.
inline void UseFtpServer(TTransportConfig& config, const FtpServer& server)
{
    config.SetDestination(0, server.Host());
    config.Port = server.Port();
    config.PassiveMode = true;
    config.Username = server.User();
    config.Password = server.Password();
    config.DestinationDirectory = "central";
}

// The status record of a service as the statistics pipe would send it.
inline TServiceStatusInfo StatusOf(TBaseFtrackerService& service)
{
    TServiceStatusInfo info;
    service.GetStats(info);
    return info;
}

// Whether the service thread has scheduled its first check. It reports running before it reads the
// clock for that, so a test that moves the clock must wait for this first.
inline bool FirstCheckScheduled(TBaseFtrackerService& service)
{
    return WaitFor([&service] { return StatusOf(service).NextCheckTime.wYear != 0; });
}

// Local time as the test sets it; safe from any thread.
class TTestClock {
public:
    explicit TTestClock(TDateTime start) : Value(start) {}
    TDateTime operator()() const
    {
        std::lock_guard<std::mutex> guard(Lock);
        return Value;
    }
    void Set(TDateTime value)
    {
        std::lock_guard<std::mutex> guard(Lock);
        Value = value;
    }
    void Advance(TDateTime days)
    {
        std::lock_guard<std::mutex> guard(Lock);
        Value += days;
    }

private:
    mutable std::mutex Lock;
    TDateTime Value;
};

inline TDateTime Span(int hours, int minutes, int seconds, int ms = 0)
{
    return ((hours * 60.0 + minutes) * 60.0 + seconds + ms / 1000.0) / SecsPerDay;
}

// "yyyy-mm-dd hh:nn:ss.zzz"
inline std::string TimeText(TDateTime value)
{
    const TDateTimeParts p = DecodeDateTime(value);
    return Format("%04d-%02d-%02d %02d:%02d:%02d.%03d", p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.MSec);
}

inline std::string TimeText(const SYSTEMTIME& st)
{
    return Format("%04d-%02d-%02d %02d:%02d:%02d.%03d", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                  st.wSecond, st.wMilliseconds);
}

// A file-tracking service whose hooks record what the pass asks of them and run what the test
// scripts. Settings and log live in the test's directory.
class TScriptedService : public TBaseFtrackerService {
public:
    explicit TScriptedService(const TempDir& dir, TTestClock& clock)
    {
        Name = "FtTest";
        InfoPipeName = "FtTestInfo";
        ControlPipeName = "FtTestControl";
        ConfigFileName = dir / "fttest.ini";
        LogFileName = dir / "fttest.log";
        Config = std::make_unique<TBaseFtConfig>();
        Clock = [&clock] { return clock(); };
    }
    ~TScriptedService() override
    {
        ServiceThread().Terminate();
        WaitForServiceThread();
    }

    TServiceController GetServiceController() override
    {
        return [this](uint32_t CtrlCode) { Controller(CtrlCode); };
    }

    bool StartService() override
    {
        const bool result = TBaseFtrackerService::StartService();
        if (!Destinations.empty())
            StatusFiles = Destinations;
        return result;
    }
    void BeforeDestination() override
    {
        Record("before " + std::to_string(DestinationIndex));
        if (OnBefore)
            OnBefore();
    }
    void AfterDestination() override
    {
        Record("after " + std::to_string(DestinationIndex));
        if (OnAfter)
            OnAfter();
    }
    void SplitChain(const std::string& Directory, std::vector<std::string>& List) override
    {
        if (OnSplit)
            OnSplit(Directory, List);
        else
            TBaseFtrackerService::SplitChain(Directory, List);
    }
    // Records "send NAME@DESTINATION"; the script decides the result (default: sent).
    bool TransferFile(const std::string& Path, const std::string& EntryText, bool& Continue) override
    {
        if (StopAware && ServiceThread().Terminated()) {
            Continue = false;
            return false;
        }
        Record("send " + ExtractFileName(Path) + "@" + std::to_string(DestinationIndex));
        const bool result = OnTransfer ? OnTransfer(Path, EntryText, Continue) : true;
        if (result && ProcessRequestsAfterFile)
            ServiceThread().ProcessRequests(false);
        return result;
    }

    void Record(const std::string& call)
    {
        std::lock_guard<std::mutex> guard(CallsLock);
        CallList.push_back(call);
    }
    std::vector<std::string> Calls() const
    {
        std::lock_guard<std::mutex> guard(CallsLock);
        return CallList;
    }
    std::vector<std::string> Sent() const
    {
        std::vector<std::string> sent;
        for (const std::string& call : Calls())
            if (call.rfind("send ", 0) == 0)
                sent.push_back(call.substr(5));
        return sent;
    }
    void ClearCalls()
    {
        std::lock_guard<std::mutex> guard(CallsLock);
        CallList.clear();
    }

    // The status record as the statistics pipe would send it.
    TServiceStatusInfo Stats() { return StatusOf(*this); }

    std::vector<std::string> Destinations;  // status file names replacing the base's one after start
    bool StopAware = false;                 // a stopping service sends nothing more, as the real one
    bool ProcessRequestsAfterFile = false;  // lets the framework handle requests after each file sent
    std::function<void()> OnBefore;
    std::function<void()> OnAfter;
    std::function<void(const std::string&, std::vector<std::string>&)> OnSplit;
    std::function<bool(const std::string&, const std::string&, bool&)> OnTransfer;

private:
    mutable std::mutex CallsLock;
    std::vector<std::string> CallList;
};

// Stands in for the service manager: records every status report.
class TRecordingHost : public TServiceHost {
public:
    void SetServiceStatus(const TServiceStatus& status) override
    {
        std::lock_guard<std::mutex> guard(Lock);
        States.push_back(status.CurrentState);
    }
    std::vector<TCurrentStatus> Reports() const
    {
        std::lock_guard<std::mutex> guard(Lock);
        return States;
    }
    size_t Count(TCurrentStatus state) const
    {
        std::lock_guard<std::mutex> guard(Lock);
        return static_cast<size_t>(std::count(States.begin(), States.end(), state));
    }
    bool Ended() const
    {
        std::lock_guard<std::mutex> guard(Lock);
        return !States.empty() && States.back() == csStopped;
    }

private:
    mutable std::mutex Lock;
    std::vector<TCurrentStatus> States;
};

// The settings file: [General] values, then one tracked directory per entry of dirs.
inline void WriteSettings(const std::string& path, const std::vector<std::string>& dirs, bool detailed = true,
                          const std::string& general = "")
{
    std::string text = "[General]\r\nLogDetailed=" + std::string(detailed ? "1" : "0") + "\r\n" + general;
    for (size_t i = 0; i < dirs.size(); ++i)
        if (!dirs[i].empty())
            text += "[Directory" + std::to_string(i) + "]\r\nTrackDirectory=" + dirs[i] + "\r\n";
    WriteTextFile(path, text);
}

inline size_t CountOf(const std::vector<std::string>& messages, const std::string& message)
{
    return static_cast<size_t>(std::count(messages.begin(), messages.end(), message));
}

inline const std::string CancelText = "Current service task canceled due to urgent control request.";
