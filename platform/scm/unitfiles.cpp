#include "platform/scm/unitfiles.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <pwd.h>
#include <thread>
#include <unistd.h>

#include "base/sysutils.h"
#include "platform/files/filecontent.h"
#include "platform/files/findfile.h"
#include "platform/logon/logon.h"
#include "platform/scm/managerbus.h"
#include "platform/scm/programdir.h"

namespace ferrix {

namespace {

constexpr const char* AccountDropIn = "account.conf";
// How long UNINSTALL waits for a running service to stop.
constexpr auto StopDeadline = std::chrono::minutes(3);

[[noreturn]] void RaiseErrno(const std::string& what, int code)
{
    throw EOSError(what + ": " + std::strerror(code), code);
}

// A value in a unit file: "%" is the manager's specifier character.
std::string UnitValue(const std::string& text)
{
    std::string result;
    for (char c : text) {
        if (c == '%')
            result += '%';
        if (c != '\n' && c != '\r')
            result += c;
    }
    return result;
}

// A program path as one quoted word of ExecStart.
std::string ExecWord(const std::string& path)
{
    std::string result = "\"";
    for (char c : path) {
        if (c == '"' || c == '\\')
            result += '\\';
        else if (c == '%' || c == '$')
            result += c;  // "%%" and "$$" stand for the character itself
        result += c;
    }
    return result + "\"";
}

void WriteWholeFile(const std::string& path, const std::string& text)
{
    if (!ReplaceFileContent(path, text.data(), text.size())) {
        const int code = errno;
        RaiseErrno("Cannot write " + path, code);
    }
}

void MakeDirectory(const std::string& dir)
{
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error)
        RaiseErrno("Cannot create " + dir, error.value());
}

void RemoveFile(const std::string& path)
{
    if (::unlink(path.c_str()) != 0) {
        const int code = errno;
        if (code != ENOENT)
            RaiseErrno("Cannot remove " + path, code);
    }
}

// Removes the unit's drop-in directory with the files in it.
void RemoveDropIns(const std::string& unit)
{
    const std::string dir = DropInDirectory(unit);
    if (!DirectoryExists(dir))
        return;
    for (const TSearchRec& rec : FindFiles(dir, "*"))
        RemoveFile(dir + "/" + rec.Name);
    if (::rmdir(dir.c_str()) != 0) {
        const int code = errno;
        if (code != ENOENT)
            RaiseErrno("Cannot remove " + dir, code);
    }
}

// A user of this PC as the user database has it.
struct TAccount {
    std::string Name;  // empty for LocalSystem
    uid_t Uid = 0;
    gid_t Gid = 0;
};

// The text with its unprintable characters written as \xNN, so that an error shows them.
std::string VisibleText(const std::string& text)
{
    std::string result;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            result += Format("\\x%02X", byte);
        else
            result += c;
    }
    return result;
}

// Only a plain name reaches a unit file: a line break, a NUL or "=" there would start a
// directive of its own.
void CheckAccountCharacters(const std::string& accountName)
{
    for (char c : accountName) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '=')
            throw EOSError("The account name \"" + VisibleText(accountName) +
                               "\" is not a user name of this PC: it holds a control character, a blank or \"=\"",
                           EINVAL);
    }
}

TAccount LookUpAccount(const std::string& accountName)
{
    CheckAccountCharacters(accountName);
    std::string user = accountName;
    const size_t slash = accountName.find('\\');
    if (slash != std::string::npos) {
        const std::string domain = accountName.substr(0, slash);
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        if (domain != "." && !SameText(domain, host))
            throw EOSError("The account " + accountName + " is not an account of this PC", EINVAL);
        user = accountName.substr(slash + 1);
    }
    TAccount account;
    if (user.empty() || SameText(user, "LocalSystem"))
        return account;
    const passwd* entry = ::getpwnam(user.c_str());
    if (entry == nullptr)
        throw EOSError("The account name is invalid or does not exist: " + accountName, ENOENT);
    account.Name = entry->pw_name;
    account.Uid = entry->pw_uid;
    account.Gid = entry->pw_gid;
    return account;
}

// A wrong password refuses the account with the logon's own text.
void CheckAccountPassword(const TAccount& account, const std::string& password)
{
    HANDLE token = 0;
    if (!LogonUserA(account.Name, ".", password, LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, token)) {
        const DWORD code = GetLastLogonError();
        throw EOSError(LogonErrorText(code), static_cast<int>(code));
    }
    CloseHandle(token);
}

bool IsActive(const std::string& state)
{
    return state == "active" || state == "activating" || state == "deactivating" || state == "reloading";
}

void StopAndWait(TManagerBus& bus, const std::string& unit)
{
    const std::string path = bus.LoadUnit(unit);
    if (!IsActive(bus.QueryUnit(path).ActiveState))
        return;
    bus.StopUnit(unit);
    const auto deadline = std::chrono::steady_clock::now() + StopDeadline;
    for (;;) {
        const TUnitState state = bus.QueryUnit(path);
        if (!IsActive(state.ActiveState) && state.JobType.empty())
            return;
        if (std::chrono::steady_clock::now() > deadline)
            throw EOSError("The service " + unit + " did not stop", ETIMEDOUT);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace

std::string ServiceUnitName(const std::string& serviceName)
{
    return serviceName + ".service";
}

std::string UnitDirectory()
{
    if (!UseUserManager())
        return "/etc/systemd/system";
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && *config == '/')
        return std::string(config) + "/systemd/user";
    const char* home = std::getenv("HOME");
    std::string homeDir = home != nullptr ? home : "";
    if (homeDir.empty()) {
        const passwd* user = ::getpwuid(::getuid());
        homeDir = user != nullptr ? user->pw_dir : "/";
    }
    return homeDir + "/.config/systemd/user";
}

std::string UnitFilePath(const std::string& unit)
{
    return UnitDirectory() + "/" + unit;
}

std::string DropInDirectory(const std::string& unit)
{
    return UnitFilePath(unit) + ".d";
}

std::string ServiceUnitText(const std::string& displayName, const std::string& programPath, bool userManager)
{
    std::string text = "[Unit]\nDescription=" + UnitValue(displayName) + "\n\n[Service]\nType=notify\nExecStart=" +
                       ExecWord(programPath) + "\n";
    if (userManager)
        text += "Environment=FERRIX_SERVICE_MANAGER=user\n";
    else  // the pipe directory, owned by whichever account the service runs under
        text += "RuntimeDirectory=namedpipe\nRuntimeDirectoryMode=0755\nRuntimeDirectoryPreserve=yes\n";
    text += std::string("\n[Install]\nWantedBy=") + (userManager ? "default.target" : "multi-user.target") + "\n";
    return text;
}

std::string InstallServiceUnit(TManagerBus& bus, const std::string& serviceName, const std::string& displayName,
                               const std::string& programPath)
{
    const std::string unit = ServiceUnitName(serviceName);
    CheckProgramPath(programPath);
    const std::string dir = UnitDirectory();
    MakeDirectory(dir);
    const std::string path = UnitFilePath(unit);
    WriteWholeFile(path, ServiceUnitText(displayName, programPath, UseUserManager()));
    bus.Reload();
    bus.EnableUnitFile(unit);
    bus.Reload();
    return path;
}

void UninstallServiceUnit(TManagerBus& bus, const std::string& serviceName)
{
    const std::string unit = ServiceUnitName(serviceName);
    const std::string path = UnitFilePath(unit);
    if (!FileExists(path))
        throw EOSError("The service " + serviceName + " is not installed (no unit file " + path + ")", ENOENT);
    StopAndWait(bus, unit);
    bus.DisableUnitFile(unit);
    RemoveDropIns(unit);
    RemoveFile(path);
    bus.Reload();
    // A unit that failed stays listed until its failure is forgotten.
    try {
        bus.ResetFailedUnit(unit);
    } catch (const EOSError&) {
    }
}

std::string AccountUser(const std::string& accountName)
{
    return LookUpAccount(accountName).Name;
}

void SetUnitAccount(TManagerBus& bus, const std::string& unit, const std::string& accountName,
                    const std::string& password)
{
    const TAccount account = LookUpAccount(accountName);
    const bool asRoot = account.Name.empty() || account.Uid == 0;
    if (!asRoot)
        CheckAccountPassword(account, password);
    const std::string program = bus.ServiceProgram(bus.LoadUnit(unit));
    CheckProgramPath(program);
    // The account will write in the program's directory; root takes it back without a look.
    if (!asRoot)
        CheckProgramDirectoryOfItsOwn(program);
    const std::string dir = DropInDirectory(unit);
    const std::string path = dir + "/" + AccountDropIn;
    // What the old account may write goes before root runs the service, and what the new one
    // needs comes only once it runs as that account.
    if (asRoot) {
        TakeBackProgramDirectory(program);
        RemoveFile(path);
        ::rmdir(dir.c_str());  // only when nothing else is in it
        bus.Reload();
    } else {
        MakeDirectory(dir);
        WriteWholeFile(path, "[Service]\nUser=" + UnitValue(account.Name) + "\n");
        bus.Reload();
        HandProgramDirectoryTo(program, account.Uid, account.Gid);
    }
}

}  // namespace ferrix
