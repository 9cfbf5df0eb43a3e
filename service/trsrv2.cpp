#include "service/trsrv2.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <limits>
#include <thread>
#include <utility>

#include "foundation/rasserv.h"
#include "foundation/trcnst.h"
#include "foundation/trconfig.h"
#include "platform/files/copyfile.h"
#include "platform/files/filedescriptor.h"
#include "platform/files/findfile.h"
#include "platform/files/newfile.h"

TTransportSvc2* TransportSvc2 = nullptr;

namespace {

// Local paths use the platform's delimiter.
constexpr char LocalDelimiter = '/';

// The data sub-directories of a tracked directory, in the order they are processed.
struct TDataDirectory {
    const char* Name;
    const char* Extension;
};
constexpr TDataDirectory DataDirectories[] = {
    {"comptage", "scb"}, {"caisse", "txt"}, {"filters", "fif"}, {"messages", "msg"}, {"footfall", "txt"},
};

constexpr const char* ComptageDirectory = "comptage";
constexpr const char* ShopInfoFile = "shopinfo.arg";

// One step of the wait before a hang-up.
constexpr std::chrono::milliseconds HangUpWaitStep{10};

// Passwords never reach the log.
constexpr const char* MaskedPassword = "****";

[[noreturn]] void RaiseOSError(int code)
{
    if (code == 0)
        throw EOSError("A call to an OS function failed", code);
    throw EOSError(Format("System Error.  Code: %d.", code) + "\r\n" + SysErrorMessage(code), code);
}

// The last component of the directory that holds the file.
std::string HoldingDirectoryName(const std::string& path)
{
    std::string dir = ExtractFilePath(path);
    while (!dir.empty() && dir.back() == LocalDelimiter)
        dir.pop_back();
    return ExtractFileName(dir);
}

// The components of a local relative path, empty ones left out.
std::vector<std::string> PathComponents(const std::string& path)
{
    std::vector<std::string> components;
    const std::string local = ferrix::LocalPath(path);
    size_t start = 0;
    while (start <= local.size()) {
        size_t end = local.find(LocalDelimiter, start);
        if (end == std::string::npos)
            end = local.size();
        if (end > start)
            components.push_back(local.substr(start, end - start));
        start = end + 1;
    }
    return components;
}

// Whether FTP may send a file of this name: no "\" (many servers read it as a path delimiter)
// and no control character.
bool FtpNameAllowed(const std::string& name)
{
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto code = static_cast<unsigned char>(c);
        return c == '\\' || code < ' ' || code == 0x7F;
    });
}

}  // namespace

void ServiceController(uint32_t ctrlCode)
{
    if (TransportSvc2 != nullptr)
        TransportSvc2->Controller(ctrlCode);
}

TTransportSvc2::TTransportSvc2()
{
    ServiceCreate();
}

TTransportSvc2::~TTransportSvc2()
{
    // The hooks use this object's settings and FTP client: let a thread still running end first.
    ServiceThread().Terminate();
    WaitForServiceThread();
    ServiceDestroy();
    if (TransportSvc2 == this)
        TransportSvc2 = nullptr;
}

void TTransportSvc2::ServiceCreate()
{
    Name = "TransportSvc2";
    DisplayName = "TOLVANE Transport Service 2";
    ConfigFileName = "ferrix.ini";
    InfoPipeName = "TrSvc2Info";
    ControlPipeName = "TrSvc2Control";
    LogFileName = "ferrix.log";
    Config = std::make_unique<TTransportConfig>();
    // A control request, or the stop work under way, ends a wait on the server.
    IdFTP.Cancelled = [this] { return CheckUrgentRequest() || Status() == csStopPending; };
}

void TTransportSvc2::ServiceDestroy()
{
    Config.reset();
}

TTransportConfig& TTransportSvc2::TrConfig()
{
    return static_cast<TTransportConfig&>(*Config);
}

TServiceController TTransportSvc2::GetServiceController()
{
    return ServiceController;
}

bool TTransportSvc2::StartService()
{
    if (!TBaseFtrackerService::StartService())
        return false;
    try {
        StatusFiles.clear();
        StatusFiles.push_back("tr2list0.dst");
        if (!TrConfig().GetDestination(1).empty())
            StatusFiles.push_back("tr2list1.dst");
        ReportEvent(0, "Copy changed files from the data directory to " + DescribeDestinations());
        return true;
    } catch (...) {
        return false;
    }
}

void TTransportSvc2::StopService()
{
    CloseLocalDirectories();
    if (TrConfig().Transport == TRANSPORT_FTP) {
        try {
            Disconnect();
        } catch (...) {
        }
    }
    TBaseFtrackerService::StopService();
}

std::string TTransportSvc2::DescribeDestinations()
{
    const TTransportConfig& config = TrConfig();
    const char delimiter = PathDelimiter();
    std::string result = config.GetDestination(0) + delimiter + config.DestinationDirectory;
    if (!config.GetDestination(1).empty())
        result += ", also to " + config.GetDestination(1) + delimiter + config.DestinationDirectory;
    return result;
}

char TTransportSvc2::PathDelimiter()
{
    return TrConfig().Transport == TRANSPORT_FTP ? '/' : LocalDelimiter;
}

void TTransportSvc2::SplitChain(const std::string& directory, std::vector<std::string>& list)
{
    if (TrConfig().DestinationDirectory.empty())
        return;
    list.push_back(directory + ";arg");
    // Looked up as themselves: a link in the place of a data directory counts as none.
    const ferrix::TFileDescriptor& tracked = TrackedDirectory(directory);
    for (const TDataDirectory& data : DataDirectories) {
        const std::string path = directory + LocalDelimiter + data.Name;
        TSearchRec rec;
        if (ferrix::FindFileAt(tracked.Get(), data.Name, rec) && (rec.Attr & faDirectory) != 0)
            list.push_back(path + ";" + data.Extension);
        else if (ferrix::IsSymbolicLinkAt(tracked.Get(), data.Name))
            ReportEvent(3, "Data directory is a symbolic link, skipped: " + ferrix::VisibleText(path));
    }
    // Before the pass reads any entry, so the renamed files go out in this pass.
    RenameCorToScb(directory + LocalDelimiter + ComptageDirectory);
}

// Every name is taken relative to the directory, opened without following a link, so a link in
// the place of the directory or of a file is never gone through.
void TTransportSvc2::RenameCorToScb(const std::string& directory)
{
    const ferrix::TFileDescriptor dir = OpenEntryDirectory(directory);
    if (!dir.Valid())
        return;
    for (const TSearchRec& rec : ferrix::FindFilesAt(dir.Get(), "cor")) {
        if ((rec.Attr & (faDirectory | faHidden | faSysFile)) != 0)
            continue;
        const std::string newName = AnsiLowerCase(ChangeFileExt(rec.Name, ".scb"));
        // A read-only file is not deleted: the counting file keeps its name until the old one may
        // be replaced, and a later pass renames it.
        TSearchRec target;
        if (ferrix::FindFileAt(dir.Get(), newName, target)) {
            if ((target.Attr & faReadOnly) != 0)
                continue;
            if ((target.Attr & (faDirectory | faSysFile)) == 0)
                ferrix::DeleteFileAt(dir.Get(), newName);
        }
        ferrix::RenameFileAt(dir.Get(), rec.Name, newName);
    }
}

void TTransportSvc2::BeforeDestination()
{
    CurrentRemoteDir.clear();
    CloseLocalDirectories();
    const TTransportConfig& config = TrConfig();
    if (config.Transport != TRANSPORT_FTP)
        return;
    IdFTP.TransferType = ftBinary;
    IdFTP.Host = config.GetDestination(DestinationIndex);
    IdFTP.Passive = config.PassiveMode;
    IdFTP.Port = config.Port;
    IdFTP.Username = config.Username;
    IdFTP.Password = config.Password;
    IdFTP.ReadTimeout = 3600000;
    IdFTP.ProxySettings.ProxyType = static_cast<TIdFtpProxyType>(config.ProxyType);
    IdFTP.ProxySettings.Host = config.ProxyHost;
    IdFTP.ProxySettings.Port = config.ProxyPort;
    IdFTP.ProxySettings.UserName = config.ProxyUser;
    IdFTP.ProxySettings.Password = config.ProxyPassword;
    if (!config.LogDetailed)
        return;
    std::string line = Format("Connecting to %s:%d as \"%s\" password \"%s\"", IdFTP.Host.c_str(), IdFTP.Port,
                              IdFTP.Username.c_str(), MaskedPassword);
    if (config.ProxyType != 0) {
        line += ' ';
        line += Format("via %s:%d as \"%s\" password \"%s\" (method %s)", IdFTP.ProxySettings.Host.c_str(),
                       IdFTP.ProxySettings.Port, IdFTP.ProxySettings.UserName.c_str(), MaskedPassword,
                       ProxyTypeToStr(config.ProxyType).c_str());
    }
    ReportEvent(0, line);
}

void TTransportSvc2::AfterDestination()
{
    CloseLocalDirectories();
    if (TrConfig().Transport == TRANSPORT_FTP)
        Disconnect();
}

std::string TTransportSvc2::RemoteDirectoryOf(const std::string& path)
{
    const std::string& destinationDirectory = TrConfig().DestinationDirectory;
    const std::string holding = HoldingDirectoryOf(path);
    return holding.empty() ? destinationDirectory : destinationDirectory + PathDelimiter() + holding;
}

std::string TTransportSvc2::HoldingDirectoryOf(const std::string& path)
{
    return SameText(ExtractFileName(path), ShopInfoFile) ? std::string() : HoldingDirectoryName(path);
}

bool TTransportSvc2::TransferFile(const std::string& path, const std::string& /*entryText*/, bool& continueFlag)
{
    // A control request that cut the last file short hands no further file over.
    if (ServiceThread().Terminated() || CheckUrgentRequest()) {
        continueFlag = false;
        return false;
    }
    const TTransportConfig& config = TrConfig();
    if (config.LogDetailed)
        ReportEvent(0, "transmitting file " + path);
    const std::string name = ExtractFileName(path);
    const std::string remoteDir = RemoteDirectoryOf(path);
    const bool ftp = config.Transport == TRANSPORT_FTP;
    try {
        TransferActive = true;
        try {
            if (ftp && !FtpNameAllowed(name))
                throw Exception("not sent by FTP: the name holds \"\\\" or a control character");
            const ferrix::TOpenedFile file = OpenSourceFile(path, ftp);
            EnsureConnected();
            if (remoteDir != CurrentRemoteDir) {
                if (ftp)
                    ForceFtpDirectory("/" + remoteDir);
                else
                    PrepareLocalDirectory(HoldingDirectoryOf(path));
                CurrentRemoteDir = remoteDir;
            }
            if (ftp)
                FtpPutFile(file.File, path, "/" + remoteDir, name);
            else
                CopyLocalFile(file, LocalRemoteDir, name);
        } catch (...) {
            TransferActive = false;
            SetLastFile(path, false, 2);
            throw;
        }
        TransferActive = false;
        SetLastFile(path, true, 2);
    } catch (const std::exception& e) {
        ReportEvent(3, Format("Failed to copy %s to %s", ferrix::VisibleText(name).c_str(),
                              ferrix::VisibleText(remoteDir).c_str()) +
                           " : " + e.what());
        throw;
    }
    ServiceThread().ProcessRequests(false);
    return true;
}

ferrix::TFileDescriptor TTransportSvc2::ForceLocalDirectoryAt(const ferrix::TFileDescriptor& parent,
                                                              const std::string& path, const std::string& name)
{
    ferrix::TFileDescriptor dir = ferrix::OpenOrMakeDirectoryAt(parent.Get(), name);
    if (dir.Valid())
        return dir;
    const int code = errno;
    if (code == ELOOP)
        throw EOSError("Destination directory is a symbolic link: " + ferrix::VisibleText(path), code);
    throw EOSError("Can't create directory: " + path + " : " + SysErrorMessage(code), code);
}

// The destination's own path is root's setting and may be a link; below it a user who may write
// there could plant one, so each directory is opened relative to its parent.
void TTransportSvc2::OpenLocalDestination()
{
    std::string path = ferrix::LocalPath(TrConfig().GetDestination(DestinationIndex));
    ferrix::TFileDescriptor dir = ferrix::OpenDirectory(path, true);
    if (!dir.Valid() && errno == ENOENT && ForceDirectories(path))
        dir = ferrix::OpenDirectory(path, true);
    if (!dir.Valid()) {
        const int code = errno;
        throw EOSError("Can't create directory: " + path + " : " + SysErrorMessage(code), code);
    }
    for (const std::string& name : PathComponents(TrConfig().DestinationDirectory)) {
        path += LocalDelimiter + name;
        dir = ForceLocalDirectoryAt(dir, path, name);
    }
    LocalDestinationDir = std::move(dir);
}

void TTransportSvc2::PrepareLocalDirectory(const std::string& holding)
{
    CurrentRemoteDir.clear();
    LocalRemoteDir = ferrix::TFileDescriptor(-1);
    if (!LocalDestinationDir.Valid())
        OpenLocalDestination();
    const TTransportConfig& config = TrConfig();
    std::string path =
        ferrix::LocalPath(config.GetDestination(DestinationIndex) + LocalDelimiter + config.DestinationDirectory);
    if (holding.empty()) {
        LocalRemoteDir = ferrix::DuplicateDescriptor(LocalDestinationDir);
        if (!LocalRemoteDir.Valid())
            RaiseOSError(errno);
    } else {
        path += LocalDelimiter + holding;
        LocalRemoteDir = ForceLocalDirectoryAt(LocalDestinationDir, path, holding);
    }
    // What a copy left when the program ended midway goes once per run: no copy of this run
    // leaves anything behind.
    if (LeftoversRemoved.insert(path).second)
        ferrix::RemoveNewFileLeftovers(LocalRemoteDir.Get());
}

void TTransportSvc2::CloseLocalDirectories()
{
    if (LocalRemoteDir.Valid())
        CurrentRemoteDir.clear();  // it named the directory closed here
    LocalRemoteDir = ferrix::TFileDescriptor(-1);
    LocalDestinationDir = ferrix::TFileDescriptor(-1);
}

void TTransportSvc2::ForceFtpDirectory(const std::string& path)
{
    // The reason is the server's refusal, not whatever system error was left behind.
    std::string reason;
    FtpWorkingDir.clear();
    if (!FtpForceDir(path, IdFTP, reason))
        throw Exception("Can't create directory: " + path + " : " + reason);
    FtpWorkingDir = path;  // FtpForceDir leaves the connection there
}

// The one open of a file to send. A link, a fifo or anything else but a regular file is refused;
// the text is the one of the transport's own open.
ferrix::TOpenedFile TTransportSvc2::OpenSourceFile(const std::string& path, bool ftp) const
{
    ferrix::TOpenedFile file = OpenHandedFile(path);
    if (file.File.Valid())
        return file;
    const int code = errno;
    if (ftp)
        throw EInOutError("Can't open " + path + ": " + SysErrorMessage(code), code);
    RaiseOSError(code);
}

// A copy that fails or is cut off midway leaves the previous file in place, never a torn one. A
// read-only target is refused, as the copy with overwrite this stands for refuses it.
void TTransportSvc2::CopyLocalFile(const ferrix::TOpenedFile& source, const ferrix::TFileDescriptor& directory,
                                   const std::string& name)
{
    if (!ferrix::CopyFileFrom(source, directory.Get(), name, false))
        RaiseOSError(errno);
}

// The working directory is changed only when the connection is elsewhere: once per directory and
// connection, not once per file.
void TTransportSvc2::FtpPutFile(const ferrix::TFileDescriptor& source, const std::string& sourcePath,
                                const std::string& directory, const std::string& name)
{
    if (directory != FtpWorkingDir) {
        FtpWorkingDir.clear();
        IdFTP.ChangeDir(directory);
        FtpWorkingDir = directory;
    }
    IdFTP.Put(source, sourcePath, name);
}

void TTransportSvc2::EnsureConnected()
{
    const TTransportConfig& config = TrConfig();
    if (config.Transport != TRANSPORT_FTP)
        return;
    if (!config.Connection.empty())
        RasConnect();
    if (!IdFTP.Connected()) {
        FtpWorkingDir.clear();  // a new connection starts in the account's home directory
        IdFTP.Connect();
    }
}

void TTransportSvc2::Disconnect()
{
    FtpWorkingDir.clear();
    if (IdFTP.Connected()) {
        std::exception_ptr abortError;
        if (TransferActive) {
            try {
                IdFTP.Abort();
            } catch (...) {
                abortError = std::current_exception();
            }
        }
        IdFTP.Quit();
        if (abortError)
            std::rethrow_exception(abortError);
    }
    if (!TrConfig().Connection.empty())
        RasDisconnect();
}

// Keeps the line this service dialled, or dials the Connection entry. Every failure is logged and
// none is raised: the FTP connect follows in any case.
void TTransportSvc2::RasConnect()
{
    const std::string& connection = TrConfig().Connection;
    if (!ActiveRasConnection.empty()) {
        std::vector<TRasConnection> connections;
        if (RasGetConnections(connections)) {
            const bool up = std::any_of(connections.begin(), connections.end(), [this](const TRasConnection& conn) {
                return SameText(conn.Name, ActiveRasConnection);
            });
            if (up)
                return;
        } else {
            ReportEvent(3, Format("Failed to get list of active modem connections: %s", RasLastErrorText().c_str()));
        }
        // The line dropped (or cannot be seen): dial again.
        ActiveRasConnection.clear();
    }

    std::vector<std::string> entries;
    if (!RasGetEntries(entries)) {
        ReportEvent(3, Format("Failed to retrieve modem conections from default phonebook: %s",
                              RasLastErrorText().c_str()));
        return;
    }
    if (entries.empty()) {
        ReportEvent(3, "RAS connections were not found in default notebook");
        return;
    }
    const bool listed = std::any_of(entries.begin(), entries.end(),
                                    [&connection](const std::string& entry) { return SameText(entry, connection); });
    if (!listed) {
        ReportEvent(3, Format("RAS connection \"%s\" is not found in default phonebook", connection.c_str()));
        return;
    }
    if (RasDialEntry(connection)) {
        ReportEvent(0, Format("Connection to \"%s\" established", connection.c_str()));
        ActiveRasConnection = connection;
    } else {
        ReportEvent(3, Format("Failed to connect to \"%s\": %s", connection.c_str(), RasLastErrorText().c_str()));
    }
}

// Hangs up the line this service dialled, after the disconnection delay; at stop without delay.
void TTransportSvc2::RasDisconnect()
{
    if (ActiveRasConnection.empty())
        return;
    if (Status() != csStopPending) {
        const uint32_t delay = DisconnectDelayMs(TrConfig());
        ReportEvent(0, Format("Pause %u sec before disconnection from \"%s\"", delay / 1000,
                              ActiveRasConnection.c_str()));
        WaitBeforeHangUp(delay);
        // The stop work hangs up, without a pause, when it gets here with the status stop-pending.
        if (ServiceThread().Terminated())
            return;
    }
    if (RasHangUpByName(ActiveRasConnection))
        ReportEvent(0, Format("Connection to \"%s\" closed", ActiveRasConnection.c_str()));
    else
        ReportEvent(3, Format("Failed to disconnect from \"%s\": %s", ActiveRasConnection.c_str(),
                              RasLastErrorText().c_str()));
    // Not tried again, even after a failed hang-up.
    ActiveRasConnection.clear();
}

void TTransportSvc2::WaitBeforeHangUp(uint32_t delayMs)
{
    const uint32_t start = TickCount();
    // Unsigned subtraction is taken modulo 2^32: a wrap of the counter changes nothing.
    while (!ServiceThread().Terminated() && Status() != csStopPending && !CheckUrgentRequest() &&
           static_cast<uint32_t>(TickCount() - start) < delayMs) {
        ServiceThread().ProcessRequests(false);
        std::this_thread::sleep_for(HangUpWaitStep);
    }
}

uint32_t DisconnectDelayMs(const TTransportConfig& config)
{
    int64_t delay = int64_t{config.DisconnDelay} * 60000;
    if (!config.ExactTimeMode) {
        const int64_t halfInterval = int64_t{config.TimeBetweenActions} * 1000 / 2;
        if (halfInterval < delay)
            delay = halfInterval;
    }
    return static_cast<uint32_t>(std::clamp<int64_t>(delay, 0, std::numeric_limits<int32_t>::max()));
}
