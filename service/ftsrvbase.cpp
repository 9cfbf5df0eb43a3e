#include "service/ftsrvbase.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <exception>
#include <thread>

#include "foundation/debuglog.h"
#include "foundation/ftconfigbase.h"
#include "foundation/sds.h"
#include "foundation/verinfo.h"
#include "platform/files/filecontent.h"
#include "platform/files/findfile.h"
#include "platform/time/timezone.h"
#include "service/dirdesc.h"
#include "service/ft_control.h"

namespace {

constexpr int InfoPipeInstances = 4;
constexpr int ControlPipeInstances = 1;
constexpr int IdlePauseMs = 100;
constexpr TDateTime FirstCheckDelay = 5 / SecsPerDay;

// Takes StateLock while it exists; after the stop steps only the service thread is left.
class TStateGuard {
public:
    explicit TStateGuard(TBaseFtrackerService& service) : Service(service) { Service.Lock(); }
    ~TStateGuard() { Service.Unlock(); }
    TStateGuard(const TStateGuard&) = delete;
    TStateGuard& operator=(const TStateGuard&) = delete;

private:
    TBaseFtrackerService& Service;
};

// Whole milliseconds of the absolute difference, truncated. A few microseconds of slack keep the
// rounding error of day fractions from costing a whole millisecond.
int32_t MillisecondsBetween(TDateTime a, TDateTime b)
{
    return static_cast<int32_t>(std::fabs(a - b) * MSecsPerDay + 0.005);
}

// "h:nn:ss:zzz" of a time span, with the locale's time separator.
std::string ElapsedText(TDateTime span)
{
    const int64_t ms = std::llround(std::fabs(span) * MSecsPerDay);
    const char sep = ferrix::LocaleTimeSeparator();
    return Format("%d%c%02d%c%02d%c%03d", static_cast<int>(ms / 3600000 % 24), sep, static_cast<int>(ms / 60000 % 60),
                  sep, static_cast<int>(ms / 1000 % 60), sep, static_cast<int>(ms % 1000));
}

// The file name, and in front of it the names of depth enclosing directories, each followed by
// the delimiter; a negative depth keeps the whole path.
std::string ShortPath(const std::string& path, int32_t depth)
{
    if (depth < 0)
        return path;
    const std::string local = ferrix::LocalPath(path);
    size_t start = local.rfind('/');  // the delimiter in front of the name
    if (start == std::string::npos)
        return local;
    for (int32_t level = 0; level < depth && start > 0; ++level) {
        const size_t previous = local.rfind('/', start - 1);
        if (previous == std::string::npos)
            return local;
        start = previous;
    }
    return local.substr(start + 1);
}

// Copies text into a NUL-terminated field of size bytes, cut at a character boundary.
void CopyText(char* field, size_t size, const std::string& text)
{
    size_t length = std::min(text.size(), size - 1);
    if (length < text.size())
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    std::memcpy(field, text.data(), length);
    std::memset(field + length, 0, size - length);
}

}  // namespace

ECancelServiceTask::ECancelServiceTask()
    : Exception("Current service task canceled due to urgent control request.")
{
}

TBaseFtrackerService::TBaseFtrackerService() : Clock([] { return Now(); })
{
    DisplayName = "File Tracker service";
    WaitHint = 10000;
    OnStart = [this](TService* sender, bool& started) { ServiceStart(sender, started); };
    OnStop = [this](TService* sender, bool& stopped) { ServiceStop(sender, stopped); };
    OnShutdown = [this](TService* sender) { ServiceShutdown(sender); };
    OnExecute = [this](TService* sender) { ServiceExecute(sender); };
}

TBaseFtrackerService::~TBaseFtrackerService()
{
    // The events use this object: let a thread still running end first.
    ServiceThread().Terminate();
    WaitForServiceThread();
    // After a failed start nothing stopped the pipe servers; they must not outlive the lock.
    ReleasePipeServers();
    if (LogTargetSet)
        ClearLogTarget();
}

// ---- service events

void TBaseFtrackerService::ServiceStart(TService*, bool& started)
{
    StopDone = false;
    StopDeferred = false;
    PassRunning = false;
    try {
        StateLock = std::make_unique<std::mutex>();
    } catch (...) {
        started = false;
        return;
    }
    SetLogTarget(this, AppFilePath(LogFileName));
    LogTargetSet = true;
    TrimLogFile();
    ReportEvent(0, Name + " " + "service started");
    started = StartService();
}

void TBaseFtrackerService::ServiceStop(TService*, bool&)
{
    RunStopSteps(false);
}

void TBaseFtrackerService::ServiceShutdown(TService*)
{
    RunStopSteps(true);
}

void TBaseFtrackerService::ServiceExecute(TService*)
{
    try {
        ScheduleFirstCheck();
        UpdateNextCheckTime();
        while (!ServiceThread().Terminated()) {
            if (IsCheckDue()) {
                PassRunning = true;
                try {
                    ProcessChains();
                } catch (const std::exception& e) {
                    ReportEvent(3, e.what());
                }
                PassRunning = false;
                ScheduleNextCheck();
                UpdateNextCheckTime();
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(IdlePauseMs));
            }
            ServiceThread().ProcessRequests(false);
        }
    } catch (...) {
        PassRunning = false;
        RunDeferredStop();
        throw;
    }
    RunDeferredStop();
}

// ---- start and stop

void TBaseFtrackerService::LogMonitoredDirectories()
{
    for (int i = 0; i < TrackDirectoryCount; ++i) {
        const std::string path = Settings().GetTrackDirectory(i);
        if (!path.empty())
            ReportEvent(0, "Monitor directory " + path);
    }
}

// Runs one start step; a step that raises is logged and fails the start.
bool TBaseFtrackerService::RunStartStep(const std::function<void()>& Step)
{
    try {
        Step();
        return true;
    } catch (const std::exception& e) {
        ReportEvent(3, e.what());
        return false;
    }
}

bool TBaseFtrackerService::StartService()
{
    const bool reset = RunStartStep([this] {
        Idle = false;
        FilesOK = 0;
        FilesBad = 0;
        ElapsedMs = 0;
        LastFileOK.clear();
        LastFileBad.clear();
        LastEvent.clear();
        LastError.clear();
        LastFileOKTime = SYSTEMTIME{};
        LastFileBadTime = SYSTEMTIME{};
        LastEventTime = SYSTEMTIME{};
        LastErrorTime = SYSTEMTIME{};
        VersionInfo = std::make_unique<TVersionInfo>();
    });
    if (!reset)
        return false;

    // Every step runs even after one failed, so each failure is logged.
    bool result = RunStartStep([this] {  // the lists of the pass
        Entries.clear();
        StatusFiles.assign(1, "dirlist.dst");
        DestinationIndex = 0;
    });
    result = RunStartStep([this] {  // the settings
        Settings().LoadFromFile(AppFilePath(ConfigFileName));
        if (LogDetailed())
            ReportEvent(0, Format("Configuration loaded from \"%s\"", ConfigFileName.c_str()));
        LogMonitoredDirectories();
    }) && result;
    result = RunStartStep([this] {  // the statistics pipe
        InfoServer = std::make_unique<TFtrackerSrvInfo>(InfoPipeName, InfoPipeInstances);
        InfoServer->OnGetStats = [this](TPipeServer*, TServiceStatusInfo& info) { GetStats(info); };
        if (LogDetailed())
            ReportEvent(0, Format("Pipe server started \"%s\"", InfoPipeName.c_str()));
    }) && result;
    result = RunStartStep([this] {  // the settings pipe
        ControlServer = std::make_unique<TFtrackerSrvControl>(ControlPipeName, ControlPipeInstances, ConfigFileName);
        ControlServer->OnConfigRetrieved = [this](TPipeServer*) { ConfigRetrieved(); };
        ControlServer->OnConfigUpdated = [this](TPipeServer*) { ConfigUpdated(); };
        if (LogDetailed())
            ReportEvent(0, Format("Pipe server started \"%s\"", ControlPipeName.c_str()));
    }) && result;

    const bool idle = RunStartStep([this] {
        TStateGuard guard(*this);
        Idle = true;
        FilesOK = 0;
        FilesBad = 0;
        ElapsedMs = 0;
    });
    return idle && result;
}

void TBaseFtrackerService::StopService()
{
    if (LogDetailed())
        ReportEvent(0, "Stopping service...");
    try {
        if (ControlServer) {
            ControlServer->OnConfigRetrieved = nullptr;
            ControlServer->OnConfigUpdated = nullptr;
            ControlServer->Stop();
            ControlServer.reset();
            if (LogDetailed())
                ReportEvent(0, Format("Pipe server stopped \"%s\"", ControlPipeName.c_str()));
        }
        if (InfoServer) {
            InfoServer->OnGetStats = nullptr;
            InfoServer->Stop();
            InfoServer.reset();
            if (LogDetailed())
                ReportEvent(0, Format("Pipe server stopped \"%s\"", InfoPipeName.c_str()));
        }
        StatusFiles.clear();
        Entries.clear();
        VersionInfo.reset();
    } catch (const std::exception& e) {
        ReportEvent(3, e.what());
    }
}

// The stop steps run once. A request handled while a pass runs only marks them due: the pass
// still uses the lock, the lists and the pipe servers, and the loop runs them once it has ended.
void TBaseFtrackerService::RunStopSteps(bool shutdown)
{
    if (StopDone)
        return;
    if (PassRunning) {
        if (!StopDeferred) {
            StopDeferred = true;
            DeferredShutdown = shutdown;
        }
        return;
    }
    if (StopDeferred)
        shutdown = DeferredShutdown;
    StopDone = true;
    StopDeferred = false;
    StopService();
    ReportEvent(0, Name + " " + (shutdown ? "stopped at system shutdown" : "service stopped"));
    try {
        StateLock.reset();
    } catch (...) {
    }
    ClearLogTarget();
    LogTargetSet = false;
}

void TBaseFtrackerService::RunDeferredStop()
{
    if (StopDeferred)
        RunStopSteps(DeferredShutdown);
}

void TBaseFtrackerService::ReleasePipeServers()
{
    if (ControlServer) {
        ControlServer->OnConfigRetrieved = nullptr;
        ControlServer->OnConfigUpdated = nullptr;
        ControlServer.reset();
    }
    if (InfoServer) {
        InfoServer->OnGetStats = nullptr;
        InfoServer.reset();
    }
}

// ---- hooks of the pass

void TBaseFtrackerService::SplitChain(const std::string& directory, std::vector<std::string>& list)
{
    list.push_back(directory + ";*");
}

std::string TBaseFtrackerService::GetStatusFileName(const std::string& name, int)
{
    return name;
}

bool TBaseFtrackerService::TransferFile(const std::string&, const std::string&, bool&)
{
    return true;
}

// ---- status state

void TBaseFtrackerService::Lock()
{
    if (StateLock)
        StateLock->lock();
}

void TBaseFtrackerService::Unlock()
{
    if (StateLock)
        StateLock->unlock();
}

void TBaseFtrackerService::ReportEvent(uint32_t level, const std::string& text)
{
    const SYSTEMTIME now = DateTimeToSystemTime(Clock());
    {
        TStateGuard guard(*this);
        if (level >= 3) {
            LastError = text;
            LastErrorTime = now;
        } else {
            LastEvent = text;
            LastEventTime = now;
        }
    }
    WriteLog(static_cast<int>(level), text);
}

void TBaseFtrackerService::SetLastFile(const std::string& path, bool ok, int32_t depth)
{
    const std::string shortPath = ShortPath(path, depth);
    const SYSTEMTIME now = DateTimeToSystemTime(Clock());
    TStateGuard guard(*this);
    if (ok) {
        LastFileOK = shortPath;
        LastFileOKTime = now;
    } else {
        LastFileBad = shortPath;
        LastFileBadTime = now;
    }
}

void TBaseFtrackerService::SetLastCheckStats(int32_t filesOK, int32_t filesBad, int32_t elapsedMs)
{
    const SYSTEMTIME now = DateTimeToSystemTime(Clock());
    TStateGuard guard(*this);
    LastCheckFilesOK = filesOK;
    LastCheckFilesBad = filesBad;
    LastCheckElapsedMs = elapsedMs;
    LastCheckTime = now;
}

void TBaseFtrackerService::GetStats(TServiceStatusInfo& info)
{
    TStateGuard guard(*this);
    info = TServiceStatusInfo{};
    info.Size = sizeof(TServiceStatusInfo);
    if (VersionInfo) {
        info.VersionMajor = VersionInfo->Major;
        info.VersionMinor = VersionInfo->Minor;
        info.VersionRelease = VersionInfo->Release;
    }
    info.Busy = Idle ? 0 : 1;
    info.LastEventTime = LastEventTime;
    info.Reserved1 = 0;
    info.LastErrorTime = LastErrorTime;
    info.Reserved2 = 0;
    CopyText(info.LastEvent, sizeof info.LastEvent, LastEvent);
    CopyText(info.LastError, sizeof info.LastError, LastError);
    CopyText(info.LastFileOK, sizeof info.LastFileOK, LastFileOK);
    info.LastFileOKTime = LastFileOKTime;
    CopyText(info.LastFileBad, sizeof info.LastFileBad, LastFileBad);
    info.LastFileBadTime = LastFileBadTime;
    info.LastCheckFilesOK = LastCheckFilesOK;
    info.LastCheckFilesBad = LastCheckFilesBad;
    info.LastCheckElapsedMs = static_cast<uint32_t>(LastCheckElapsedMs);
    info.LastCheckTime = LastCheckTime;
    info.NextCheckTime = NextCheckTime;
}

void TBaseFtrackerService::ConfigRetrieved()
{
    ReportEvent(0, "Service configuration file retrieved by client");
}

void TBaseFtrackerService::ConfigUpdated()
{
    ReportEvent(0, "Service configuration file updated by client");
}

// ---- schedule

void TBaseFtrackerService::UpdateNextCheckTime()
{
    const SYSTEMTIME next = DateTimeToSystemTime(NextCheck);
    TStateGuard guard(*this);
    NextCheckTime = next;
}

bool TBaseFtrackerService::IsCheckDue() const
{
    return Clock() > NextCheck;
}

void TBaseFtrackerService::ScheduleFirstCheck()
{
    const TDateTime now = Clock();
    const TDateTime soon = now + FirstCheckDelay;
    const TBaseFtConfig& config = Settings();
    if (config.ExactTimeMode) {
        const TDateTime nearest = DateOf(now) + config.ExactTime.Nearest(now);
        NextCheck = nearest > soon ? nearest : soon;
    } else {
        NextCheck = soon;
    }
}

void TBaseFtrackerService::ScheduleNextCheck()
{
    const TDateTime now = Clock();
    const TBaseFtConfig& config = Settings();
    if (config.ExactTimeMode && config.ExactTime.Count() > 0) {
        const TDateTime next = config.ExactTime.NextAfter(now);
        if (next >= 0)
            NextCheck = DateOf(now) + next;
        else
            NextCheck = DateOf(now) + 1 + config.ExactTime.Nearest(0);
    } else {
        NextCheck = now + config.TimeBetweenActions / SecsPerDay;
    }
}

bool TBaseFtrackerService::CheckUrgentRequest()
{
    if (ServiceThread().Terminated())
        return true;
    uint32_t controlCode = 0;
    if (!ServiceThread().PeekRequest(controlCode))
        return false;
    if (controlCode == SERVICE_CONTROL_INTERROGATE) {
        ReportStatus();
        return false;
    }
    return true;
}

// ---- the check pass

void TBaseFtrackerService::ProcessChains()
{
    const TDateTime passStart = Clock();
    if (CheckUrgentRequest())
        throw ECancelServiceTask();
    SkippedFiles.clear();
    for (int chain = 0; chain < TrackDirectoryCount; ++chain) {
        ChainIndex = chain;
        const std::string directory = Settings().GetTrackDirectory(chain);
        if (directory.empty())
            continue;
        try {
            if (LogDetailed())
                ReportEvent(0, "Processing chain " + directory);
            {
                TStateGuard guard(*this);
                Idle = false;
                FilesOK = 0;
                FilesBad = 0;
                ElapsedMs = 0;
            }
            int32_t filesOK = 0;
            int32_t filesBad = 0;
            int32_t elapsedMs = 0;
            const auto finishChain = [&] {
                const int32_t elapsed = MillisecondsBetween(Clock(), passStart);
                TStateGuard guard(*this);
                Idle = true;
                ElapsedMs = elapsed;
                filesOK = FilesOK;
                filesBad = FilesBad;
                elapsedMs = ElapsedMs;
            };
            try {
                ProcessChain(directory, passStart);
            } catch (...) {
                finishChain();
                throw;
            }
            finishChain();
            if (filesOK != 0 || filesBad != 0) {
                ReportEvent(0, Format("processed %d files OK, %d files bad, elapsed ", filesOK, filesBad) +
                                   ElapsedText(elapsedMs / MSecsPerDay));
                SetLastCheckStats(filesOK, filesBad, elapsedMs);
            }
        } catch (const std::exception& e) {
            ReportEvent(3, e.what());
        }
    }
    CloseTrackedDirectory();
    ReportSkippedFiles();
    TrimLogFile();
}

void TBaseFtrackerService::ProcessChain(const std::string& directory, TDateTime passStart)
{
    // Opened anew for each chain, so that every pass reads the directory the path names then.
    CloseTrackedDirectory();
    TrackedDirectory(directory);
    Entries.clear();
    SplitChain(directory, Entries);
    for (size_t d = 0; d < StatusFiles.size(); ++d) {
        DestinationIndex = static_cast<int32_t>(d);
        if (CheckUrgentRequest())
            throw ECancelServiceTask();
        try {
            try {
                BeforeDestination();
                ProcessEntries(d, passStart);
            } catch (...) {
                FinishDestination();
                throw;
            }
            FinishDestination();
        } catch (const std::exception& e) {
            ReportEvent(3, e.what());
            if (CheckUrgentRequest())
                break;
        }
    }
}

void TBaseFtrackerService::ProcessEntries(size_t destination, TDateTime passStart)
{
    const TFileHandler handler = [this](const std::string& path, const std::string& entryText, bool& continueFlag) {
        return TransferFile(path, entryText, continueFlag);
    };
    for (size_t k = 0; k < Entries.size(); ++k) {
        if (CheckUrgentRequest())
            throw ECancelServiceTask();
        const std::string entry = Entries[k];
        const std::string directory = GetField(entry, ';', 0);
        std::string extension = GetField(entry, ';', 1);
        if (extension.empty())
            extension.assign(1, '*');  // assigned, not = "*": GCC 12 at -O2 warns falsely (-Wrestrict)
        const std::string statusFileName = GetStatusFileName(StatusFiles[destination], -1);
        const TDateTime entryStart = Clock();

        TDirectoryList list(OpenEntryDirectory(directory), directory, extension, entry, statusFileName);
        for (const std::string& name : list.SkippedNames())
            SkippedFiles.insert(list.DirPath() + "/" + name);
        for (const std::string& name : list.BadNames())
            ReportEvent(3, "File not sent, its time stamp is out of range: " +
                               ferrix::VisibleText(list.DirPath() + "/" + name));
        CurrentList = &list;
        list.ProcessChanged(handler);
        CurrentList = nullptr;
        // What was sent is counted also when the status file cannot be written; the error
        // then ends the destination.
        std::exception_ptr saveError;
        try {
            list.SaveStatusFile();
        } catch (...) {
            saveError = std::current_exception();
        }

        int32_t filesOK = 0;
        int32_t filesBad = 0;
        int32_t elapsedMs = 0;
        {
            const int32_t elapsed = MillisecondsBetween(Clock(), passStart);
            TStateGuard guard(*this);
            FilesOK += list.OKCount();
            FilesBad += list.BadCount();
            ElapsedMs = elapsed;
            filesOK = FilesOK;
            filesBad = FilesBad;
            elapsedMs = ElapsedMs;
        }
        if (LogDetailed() && (list.OKCount() != 0 || list.BadCount() != 0))
            ReportEvent(0, Format("processed directory %s, elasped ", directory.c_str()) +
                               ElapsedText(Clock() - entryStart));
        if (filesOK != 0 || filesBad != 0)
            SetLastCheckStats(filesOK, filesBad, elapsedMs);
        if (saveError)
            std::rethrow_exception(saveError);
        if (ServiceThread().Terminated())
            break;
    }
}

void TBaseFtrackerService::FinishDestination()
{
    const TDateTime destinationEnd = Clock();
    AfterDestination();
    int32_t filesOK = 0;
    {
        TStateGuard guard(*this);
        filesOK = FilesOK;
    }
    if (filesOK > 0 && LogDetailed())
        ReportEvent(0, Format("postprocessing after %d source files finished, elapsed ", filesOK) +
                           ElapsedText(Clock() - destinationEnd));
}

// One line per pass, whatever the number of destinations: the names, with their control
// characters written out, so that the line stays one line.
void TBaseFtrackerService::ReportSkippedFiles()
{
    if (SkippedFiles.empty())
        return;
    constexpr size_t NamesShown = 20;
    std::string names;
    size_t shown = 0;
    for (const std::string& path : SkippedFiles) {
        if (shown++ == NamesShown) {
            names += Format(" and %d more", static_cast<int>(SkippedFiles.size() - NamesShown));
            break;
        }
        if (!names.empty())
            names += ", ";
        names += '"' + ferrix::VisibleText(path) + '"';
    }
    ReportEvent(3, Format("%d files not sent: a status file cannot hold their names (TAB or line break): ",
                          static_cast<int>(SkippedFiles.size())) +
                       names);
    SkippedFiles.clear();
}

void TBaseFtrackerService::CloseTrackedDirectory()
{
    TrackedPath.clear();
    TrackedFd = ferrix::TFileDescriptor(-1);
}

const ferrix::TFileDescriptor& TBaseFtrackerService::TrackedDirectory(const std::string& directory)
{
    const std::string path = ExcludeTrailingPathDelimiter(ferrix::LocalPath(directory));
    if (TrackedPath.empty() || path != TrackedPath) {
        TrackedFd = ferrix::OpenDirectory(path, true);
        TrackedPath = path;
    }
    return TrackedFd;
}

ferrix::TFileDescriptor TBaseFtrackerService::OpenEntryDirectory(const std::string& directory)
{
    const std::string path = ExcludeTrailingPathDelimiter(ferrix::LocalPath(directory));
    if (!TrackedPath.empty() && path == TrackedPath)
        return ferrix::DuplicateDescriptor(TrackedFd);
    if (!TrackedPath.empty() && ExtractFileDir(path) == TrackedPath)
        return ferrix::OpenDirectoryAt(TrackedFd.Get(), ExtractFileName(path));
    return ferrix::OpenDirectory(path, false);
}

ferrix::TOpenedFile TBaseFtrackerService::OpenHandedFile(const std::string& path) const
{
    ferrix::TOpenedFile opened;
    if (CurrentList != nullptr && ExtractFileDir(path) == CurrentList->DirPath())
        opened.File = ferrix::OpenRegularFileAt(CurrentList->Directory().Get(), ExtractFileName(path), false,
                                                opened.Status);
    else
        opened.File = ferrix::OpenRegularFile(path, false, opened.Status);
    return opened;
}

// ---- helpers

bool TBaseFtrackerService::LogDetailed() const
{
    return Config && Config->LogDetailed;
}

TBaseFtConfig& TBaseFtrackerService::Settings()
{
    if (!Config)
        throw Exception("The service has no settings object");
    return *Config;
}

// Settings and log live in the program directory; a name with a directory of its own is kept.
std::string TBaseFtrackerService::AppFilePath(const std::string& name) const
{
    if (!name.empty() && name[0] == '/')
        return name;
    return IncludeTrailingPathDelimiter(AppDir()) + name;
}
