#include "platform/ras/ras.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <string>
#include <strings.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/files/filecontent.h"
#include "platform/files/filedescriptor.h"
#include "platform/process/spawn.h"


namespace {

struct TErrorText {
    DWORD Code;
    const char* Text;
};

const TErrorText ErrorTexts[] = {
    {RASERR_INVALID_PARAMETER, "A parameter of the dial-up call is invalid."},
    {RASERR_INVALID_SIZE, "The size of the dial-up record is invalid."},
    {RASERR_BUFFER_TOO_SMALL, "The buffer is too small."},
    {RASERR_CANNOT_OPEN_PHONEBOOK, "The phonebook cannot be read."},
    {RASERR_CANNOT_FIND_ENTRY, "The phonebook entry cannot be found."},
    {RASERR_CANNOT_LIST_CONNECTIONS, "The list of active connections cannot be read."},
    {RASERR_INVALID_HANDLE, "The connection handle is invalid."},
    {RASERR_HANGUP_FAILED, "The connection could not be closed."},
    {RASERR_CANNOT_START_PPPD, "pppd cannot be started."},
    {RASERR_PPPD_ABORTED, "pppd ended abnormally."},
    // pppd's exit statuses
    {RASERR_PPPD_EXIT + 1, "pppd stopped on a fatal error."},
    {RASERR_PPPD_EXIT + 2, "The options of the connection are invalid."},
    {RASERR_PPPD_EXIT + 3, "pppd lacks the privileges to run."},
    {RASERR_PPPD_EXIT + 4, "The kernel does not support PPP."},
    {RASERR_PPPD_EXIT + 5, "pppd was stopped by a signal."},
    {RASERR_PPPD_EXIT + 6, "The serial port could not be locked."},
    {RASERR_PPPD_EXIT + 7, "The serial port could not be opened."},
    {RASERR_PPPD_EXIT + 8, "The connect script failed."},
    {RASERR_PPPD_EXIT + 9, "The pty command could not be run."},
    {RASERR_PPPD_EXIT + 10, "The PPP negotiation failed."},
    {RASERR_PPPD_EXIT + 11, "The peer failed to authenticate itself."},
    {RASERR_PPPD_EXIT + 12, "The link was closed because it was idle."},
    {RASERR_PPPD_EXIT + 13, "The link was closed because the connect time limit was reached."},
    {RASERR_PPPD_EXIT + 14, "Callback was negotiated; an incoming call should arrive shortly."},
    {RASERR_PPPD_EXIT + 15, "The peer does not respond."},
    {RASERR_PPPD_EXIT + 16, "The modem hung up."},
    {RASERR_PPPD_EXIT + 17, "A serial loopback was detected."},
    {RASERR_PPPD_EXIT + 18, "The init script failed."},
    {RASERR_PPPD_EXIT + 19, "Authentication to the peer failed."},
};

const char* ErrorText(DWORD code)
{
    for (const TErrorText& entry : ErrorTexts)
        if (entry.Code == code)
            return entry.Text;
    return nullptr;
}

// Process file descriptors through the system calls: glibc 2.36's wrappers lack C++ linkage.
int PidfdOpen(pid_t pid)
{
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

int PidfdSendSignal(int pidFd, int sig)
{
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidFd, sig, nullptr, 0));
}

std::string EnvironmentOr(const char* name, const char* fallback)
{
    const char* value = getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::string PhonebookDir(const char* phonebook)
{
    return phonebook != nullptr ? phonebook : EnvironmentOr("RAS_PHONEBOOK_DIR", "/etc/ppp/peers");
}

std::string RunDir()
{
    return EnvironmentOr("RAS_RUN_DIR", "/run");
}

std::string PppdProgram()
{
    return EnvironmentOr("RAS_PPPD", "/usr/sbin/pppd");
}

class TDirectory {
public:
    explicit TDirectory(const std::string& path) : Dir(opendir(path.c_str())) {}
    ~TDirectory()
    {
        if (Dir != nullptr)
            closedir(Dir);
    }
    TDirectory(const TDirectory&) = delete;
    TDirectory& operator=(const TDirectory&) = delete;
    DIR* Get() const { return Dir; }

private:
    DIR* Dir;
};

// The names of the regular files (after following links) of dir, sorted. A missing directory
// has none; any other failure to read it gives errorCode.
DWORD ListRegularFiles(const std::string& dir, DWORD errorCode, std::vector<std::string>& names)
{
    names.clear();
    TDirectory d(dir);
    if (d.Get() == nullptr)
        return errno == ENOENT ? 0 : errorCode;
    const int dirFd = dirfd(d.Get());
    errno = 0;
    while (const dirent* entry = readdir(d.Get())) {
        struct stat st {};
        if (fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode))
            names.emplace_back(entry->d_name);
        errno = 0;
    }
    if (errno != 0)
        return errorCode;
    std::sort(names.begin(), names.end());
    return 0;
}

// The phonebook's own spelling of an entry: the exact name when it is there, else the first
// name equal to it without regard to case.
DWORD FindEntry(const std::string& dir, const std::string& name, std::string& found)
{
    std::vector<std::string> names;
    if (const DWORD rc = ListRegularFiles(dir, RASERR_CANNOT_OPEN_PHONEBOOK, names); rc != 0)
        return rc;
    if (std::find(names.begin(), names.end(), name) != names.end()) {
        found = name;
        return 0;
    }
    for (const std::string& candidate : names)
        if (strcasecmp(candidate.c_str(), name.c_str()) == 0) {
            found = candidate;
            return 0;
        }
    return RASERR_CANNOT_FIND_ENTRY;
}

void CopyName(char* target, size_t size, const std::string& name)
{
    const size_t length = std::min(name.size(), size - 1);
    std::memcpy(target, name.data(), length);
    target[length] = '\0';
}

std::string NameOf(const char* field, size_t size)
{
    return std::string(field, strnlen(field, size));
}

// The phonebook entry that dial parameters of the right size name.
DWORD FindDialEntry(const char* phonebook, const RASDIALPARAMS& params, std::string& entry)
{
    if (params.dwSize != sizeof(RASDIALPARAMS))
        return RASERR_INVALID_SIZE;
    return FindEntry(PhonebookDir(phonebook), NameOf(params.szEntryName, sizeof(params.szEntryName)), entry);
}

// Whether the process runs. An ended process that its parent has not reaped yet counts as
// ended: its pidfd already reports the end.
bool ProcessRunning(pid_t pid)
{
    const ferrix::TFileDescriptor process(PidfdOpen(pid));
    if (!process.Valid())
        return errno != ESRCH && (kill(pid, 0) == 0 || errno == EPERM);
    pollfd ended{process.Get(), POLLIN, 0};
    return poll(&ended, 1, 0) == 0;
}

// The pid on the first line of a pid file; 0 when the file holds none.
pid_t ReadPidFile(const std::string& path)
{
    std::string content;
    if (!ferrix::ReadFileContent(path, content))
        return 0;
    const std::string line = content.substr(0, content.find('\n'));
    pid_t pid = 0;
    const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), pid);
    if (ec != std::errc() || end != line.data() + line.size() || pid <= 0)
        return 0;
    return pid;
}

struct TPppLink {
    std::string Name;
    pid_t Pid = 0;
};

// The links whose pid file ppp-NAME.pid names a running process, sorted by name.
DWORD ListLinks(std::vector<TPppLink>& links)
{
    links.clear();
    const std::string dir = RunDir();
    std::vector<std::string> files;
    if (const DWORD rc = ListRegularFiles(dir, RASERR_CANNOT_LIST_CONNECTIONS, files); rc != 0)
        return rc;
    const std::string prefix = "ppp-";
    const std::string suffix = ".pid";
    for (const std::string& file : files) {
        if (file.size() <= prefix.size() + suffix.size() || !file.starts_with(prefix) || !file.ends_with(suffix))
            continue;
        const pid_t pid = ReadPidFile(dir + "/" + file);
        if (pid > 0 && ProcessRunning(pid))
            links.push_back({file.substr(prefix.size(), file.size() - prefix.size() - suffix.size()), pid});
    }
    return 0;
}

// Waits until the process behind the pidfd has ended; false when the deadline passed first.
bool WaitForEnd(int pidFd, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const Clock::time_point now = Clock::now();
        const auto left = now < deadline ? std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count() : 0;
        pollfd ended{pidFd, POLLIN, 0};
        const int rc = poll(&ended, 1, static_cast<int>(left));
        if (rc > 0)
            return true;
        if (rc < 0 && errno != EINTR)
            return false;
        if (rc == 0 && left == 0)
            return false;
    }
}

// Runs pppd for the entry and waits for it to exit: with updetach it exits when the link is up
// or has failed. pppd starts with no blocked signals and the default actions for the signals
// that end it, whatever the calling thread has set, so that a hang-up's SIGTERM reaches it.
DWORD RunPppd(const std::string& entry)
{
    const std::string program = PppdProgram();
    pid_t pid = 0;
    if (ferrix::SpawnProcess({program, "call", entry, "linkname", entry, "updetach"}, {}, pid) != 0)
        return RASERR_CANNOT_START_PPPD;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return RASERR_PPPD_ABORTED;
    if (!WIFEXITED(status))
        return RASERR_PPPD_ABORTED;
    return WEXITSTATUS(status) == 0 ? 0 : RASERR_PPPD_EXIT + WEXITSTATUS(status);
}

}  // namespace

DWORD RasEnumEntriesA(const char* /*reserved*/, const char* phonebook, RASENTRYNAME* entries, DWORD* cb, DWORD* count)
{
    if (entries == nullptr || cb == nullptr || count == nullptr)
        return RASERR_INVALID_PARAMETER;
    if (entries->dwSize != sizeof(RASENTRYNAME))
        return RASERR_INVALID_SIZE;
    std::vector<std::string> names;
    if (const DWORD rc = ListRegularFiles(PhonebookDir(phonebook), RASERR_CANNOT_OPEN_PHONEBOOK, names); rc != 0)
        return rc;
    const DWORD needed = static_cast<DWORD>(names.size() * sizeof(RASENTRYNAME));
    *count = static_cast<DWORD>(names.size());
    if (*cb < needed) {
        *cb = needed;
        return RASERR_BUFFER_TOO_SMALL;
    }
    for (size_t i = 0; i < names.size(); ++i) {
        entries[i].dwSize = sizeof(RASENTRYNAME);
        CopyName(entries[i].szEntryName, sizeof(entries[i].szEntryName), names[i]);
    }
    *cb = needed;
    return 0;
}

DWORD RasEnumConnectionsA(RASCONN* conns, DWORD* cb, DWORD* count)
{
    if (conns == nullptr || cb == nullptr || count == nullptr)
        return RASERR_INVALID_PARAMETER;
    if (conns->dwSize != sizeof(RASCONN))
        return RASERR_INVALID_SIZE;
    std::vector<TPppLink> links;
    if (const DWORD rc = ListLinks(links); rc != 0)
        return rc;
    const DWORD needed = static_cast<DWORD>(links.size() * sizeof(RASCONN));
    *count = static_cast<DWORD>(links.size());
    if (*cb < needed) {
        *cb = needed;
        return RASERR_BUFFER_TOO_SMALL;
    }
    for (size_t i = 0; i < links.size(); ++i) {
        conns[i] = RASCONN{};
        conns[i].dwSize = sizeof(RASCONN);
        conns[i].hrasconn = static_cast<HRASCONN>(links[i].Pid);
        CopyName(conns[i].szEntryName, sizeof(conns[i].szEntryName), links[i].Name);
    }
    *cb = needed;
    return 0;
}

DWORD RasHangUpA(HRASCONN conn)
{
    return RasHangUpWithin(conn, RasHangUpTimeoutMs);
}

DWORD RasHangUpWithin(HRASCONN conn, int timeoutMs)
{
    // A pid of 0 or -1 would signal whole process groups, and a stale handle someone else's
    // process: only the pid of a listed link is ever signalled. The pidfd is taken first, so a
    // pid reused after the check cannot be hit.
    const pid_t pid = static_cast<pid_t>(conn);
    if (pid <= 0)
        return RASERR_INVALID_HANDLE;
    const ferrix::TFileDescriptor process(PidfdOpen(pid));
    if (!process.Valid())
        return RASERR_INVALID_HANDLE;
    std::vector<TPppLink> links;
    if (const DWORD rc = ListLinks(links); rc != 0)
        return rc;
    if (std::none_of(links.begin(), links.end(), [pid](const TPppLink& link) { return link.Pid == pid; }))
        return RASERR_INVALID_HANDLE;
    if (PidfdSendSignal(process.Get(), SIGTERM) != 0)
        return errno == ESRCH ? 0 : RASERR_HANGUP_FAILED;
    return WaitForEnd(process.Get(), timeoutMs) ? 0 : RASERR_HANGUP_FAILED;
}

DWORD RasGetEntryDialParamsA(const char* phonebook, RASDIALPARAMS* params, bool* passwordStored)
{
    if (params == nullptr || passwordStored == nullptr)
        return RASERR_INVALID_PARAMETER;
    std::string entry;
    if (const DWORD rc = FindDialEntry(phonebook, *params, entry); rc != 0)
        return rc;
    *passwordStored = false;
    return 0;
}

DWORD RasDialA(const void* /*extensions*/, const char* phonebook, const RASDIALPARAMS* params, DWORD /*notifierType*/,
               const void* notifier, HRASCONN* conn)
{
    if (params == nullptr || conn == nullptr || notifier != nullptr)
        return RASERR_INVALID_PARAMETER;
    *conn = 0;
    std::string entry;
    if (const DWORD rc = FindDialEntry(phonebook, *params, entry); rc != 0)
        return rc;
    if (const DWORD rc = RunPppd(entry); rc != 0)
        return rc;
    std::vector<TPppLink> links;
    if (ListLinks(links) == 0)
        for (const TPppLink& link : links)
            if (link.Name == entry)
                *conn = static_cast<HRASCONN>(link.Pid);
    return 0;
}

DWORD RasGetErrorStringA(DWORD code, char* buffer, DWORD size)
{
    const char* text = ErrorText(code);
    if (text == nullptr || buffer == nullptr)
        return RASERR_INVALID_PARAMETER;
    if (std::strlen(text) + 1 > size)
        return RASERR_BUFFER_TOO_SMALL;
    std::memcpy(buffer, text, std::strlen(text) + 1);
    return 0;
}
