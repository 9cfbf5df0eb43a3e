// The generic file-tracking service: life cycle, status state, schedule and the check pass.
// A concrete service derives from it and fills the destination and transfer hooks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/sysutils.h"
#include "platform/files/filecontent.h"
#include "platform/service/service.h"

class TBaseFtConfig;
class TDirectoryList;
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
    void ServiceStart(TService* Sender, bool& started);
    void ServiceStop(TService* Sender, bool& stopped);
    void ServiceShutdown(TService* Sender);
    void ServiceExecute(TService* Sender);

    // Hooks.
    virtual void LogMonitoredDirectories();
    virtual bool StartService();
    virtual void StopService();
    virtual void AfterDestination() = 0;
    virtual void BeforeDestination() = 0;
    virtual void SplitChain(const std::string& directory, std::vector<std::string>& list);
    virtual std::string GetStatusFileName(const std::string& name, int index);
    virtual bool TransferFile(const std::string& path, const std::string& entryText, bool& continueFlag);

    void Lock();
    void Unlock();
    void ReportEvent(uint32_t level, const std::string& text);
    void SetLastFile(const std::string& path, bool ok, int32_t depth);
    void SetLastCheckStats(int32_t filesOK, int32_t filesBad, int32_t elapsedMs);
    void UpdateNextCheckTime();
    bool IsCheckDue() const;
    void ScheduleFirstCheck();
    void ScheduleNextCheck();
    bool CheckUrgentRequest();
    void GetStats(TServiceStatusInfo& info);  // OnGetStats of InfoServer; the status state under its lock
    bool HasStateLock() const { return StateLock != nullptr; }  // from the start event to the end of the stop
    void ConfigRetrieved();                   // OnConfigRetrieved of ControlServer
    void ConfigUpdated();                     // OnConfigUpdated of ControlServer
    void ProcessChains();                     // one check pass

    // The tracked directory, opened once per chain of a pass (its own path may be a link); not
    // valid when it cannot be opened.
    const ferrix::TFileDescriptor& TrackedDirectory(const std::string& directory);
    // The directory of an entry: the tracked directory itself, or a directory in it opened without
    // following a link; another path is opened as it stands, a link as its last component refused.
    // Not valid, with errno set, on failure.
    ferrix::TFileDescriptor OpenEntryDirectory(const std::string& directory);
    // Opens a file handed over by the pass for reading, relative to its list's directory; outside a
    // pass by its path. Never through a link as the file's name, never blocking on a fifo: not
    // valid, with errno set, for anything but a regular file.
    ferrix::TOpenedFile OpenHandedFile(const std::string& path) const;

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
    std::string AppFilePath(const std::string& name) const;
    void ProcessChain(const std::string& directory, TDateTime passStart);
    void ProcessEntries(size_t destination, TDateTime passStart);
    void FinishDestination();
    void ReportSkippedFiles();
    void CloseTrackedDirectory();
    void RunStopSteps(bool shutdown);
    void RunDeferredStop();
    void ReleasePipeServers();

    // Service thread only: a pass is running, so a stop must leave the objects it uses alone.
    bool PassRunning = false;
    bool StopDone = false;           // the stop steps have run
    bool StopDeferred = false;       // a stop or shutdown came during a pass
    bool DeferredShutdown = false;   // ... and it was a shutdown
    bool LogTargetSet = false;
    // Files of this pass whose names a status file cannot hold, reported once at its end.
    std::set<std::string> SkippedFiles;
    std::string TrackedPath;  // the tracked directory of the chain in hand, when open
    ferrix::TFileDescriptor TrackedFd{-1};
    const TDirectoryList* CurrentList = nullptr;  // the list whose files are being handed over
};
