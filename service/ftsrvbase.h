// The generic file-tracking service: life cycle, status state, schedule and the check pass.
// A concrete service derives from it and fills the destination and transfer hooks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/sysutils.h"
#include "platform/service/service.h"

class TBaseFtConfig;
class TFtrackerSrvInfo;
class TFtrackerSrvControl;
class TVersionInfo;
struct TServiceStatusInfo;

// Raised by the check pass when an urgent control request waits.
class ECancelServiceTask : public Exception {
public:
    ECancelServiceTask();  // "Current service task canceled due to urgent control request."
};

class TBaseFtrackerService : public TService {
public:
    TBaseFtrackerService();
    ~TBaseFtrackerService() override;

    std::string InfoPipeName;
    std::string ControlPipeName;
    std::string ConfigFileName;
    std::string LogFileName;
    std::unique_ptr<TBaseFtConfig> Config;  // created by the concrete service
    int32_t ChainIndex = 0;
    std::vector<std::string> Entries;       // "directory;extension" of the current chain
    std::vector<std::string> StatusFiles;   // one status file name per destination
    int32_t DestinationIndex = 0;
    std::unique_ptr<TFtrackerSrvInfo> InfoServer;
    std::unique_ptr<TFtrackerSrvControl> ControlServer;
    TDateTime NextCheck = 0;
    std::unique_ptr<TVersionInfo> VersionInfo;
    // Local time as the schedule and the status times see it; tests replace it.
    std::function<TDateTime()> Clock;

    // Service events (bound to OnStart, OnStop, OnShutdown, OnExecute by the constructor).
    void ServiceStart(TService* Sender, bool& Started);
    void ServiceStop(TService* Sender, bool& Stopped);
    void ServiceShutdown(TService* Sender);
    void ServiceExecute(TService* Sender);

    // Hooks.
    virtual void LogMonitoredDirectories();
    virtual bool StartService();
    virtual void StopService();
    virtual void AfterDestination() = 0;
    virtual void BeforeDestination() = 0;
    virtual void SplitChain(const std::string& Directory, std::vector<std::string>& List);
    virtual std::string GetStatusFileName(const std::string& Name, int Index);
    virtual bool TransferFile(const std::string& Path, const std::string& EntryText, bool& Continue);

    void Lock();
    void Unlock();
    void ReportEvent(uint32_t Level, const std::string& Text);
    void SetLastFile(const std::string& Path, bool Ok, int32_t Depth);
    void SetLastCheckStats(int32_t FilesOK, int32_t FilesBad, int32_t ElapsedMs);
    void UpdateNextCheckTime();
    bool IsCheckDue() const;
    void ScheduleFirstCheck();
    void ScheduleNextCheck();
    bool CheckUrgentRequest();
    void GetStats(TServiceStatusInfo& Info);  // OnGetStats of InfoServer; the status state under its lock
    bool HasStateLock() const { return StateLock != nullptr; }  // from the start event to the end of the stop
    void ConfigRetrieved();                   // OnConfigRetrieved of ControlServer
    void ConfigUpdated();                     // OnConfigUpdated of ControlServer
    void ProcessChains();                     // one check pass

private:
    std::unique_ptr<std::mutex> StateLock;  // exists from the start event to the end of the stop

    // Status state: written under StateLock once the pipe servers exist.
    bool Idle = false;
    int32_t FilesOK = 0;
    int32_t FilesBad = 0;
    int32_t ElapsedMs = 0;
    std::string LastFileOK;
    SYSTEMTIME LastFileOKTime{};
    std::string LastFileBad;
    SYSTEMTIME LastFileBadTime{};
    int32_t LastCheckFilesOK = 0;
    int32_t LastCheckFilesBad = 0;
    int32_t LastCheckElapsedMs = 0;
    SYSTEMTIME LastCheckTime{};
    SYSTEMTIME NextCheckTime{};
    SYSTEMTIME LastEventTime{};
    SYSTEMTIME LastErrorTime{};
    std::string LastEvent;
    std::string LastError;


    bool RunStartStep(const std::function<void()>& Step);
    bool LogDetailed() const;
    TBaseFtConfig& Settings();
    std::string AppFilePath(const std::string& Name) const;
    void ProcessChain(const std::string& Directory, TDateTime PassStart);
    void ProcessEntries(size_t Destination, TDateTime PassStart);
    void FinishDestination();
    void RunStopSteps(bool Shutdown);
    void RunDeferredStop();
    void ReleasePipeServers();

    // Service thread only: a pass is running, so a stop must leave the objects it uses alone.
    bool PassRunning = false;
    bool StopDone = false;           // the stop steps have run
    bool StopDeferred = false;       // a stop or shutdown came during a pass
    bool DeferredShutdown = false;   // ... and it was a shutdown
    bool LogTargetSet = false;
};
