#include "testkit.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <gtest/gtest.h>

#include "base/sysutils.h"
#include "platform/files/filedescriptor.h"

TempDir::TempDir()
{
    std::string templ = (std::filesystem::temp_directory_path() / "ferrix-test-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    Root = templ;
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Restore write bits so read-only leftovers can be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(Root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(Root, ec);
}

TFileSizeLimit::TFileSizeLimit(unsigned long limit) : OldHandler(std::signal(SIGXFSZ, SIG_IGN))
{
    rlimit current{};
    if (::getrlimit(RLIMIT_FSIZE, &current) != 0)
        throw std::runtime_error("getrlimit failed");
    OldCurrent = current.rlim_cur;
    current.rlim_cur = limit;
    if (::setrlimit(RLIMIT_FSIZE, &current) != 0)
        throw std::runtime_error("setrlimit failed");
}

TFileSizeLimit::~TFileSizeLimit()
{
    rlimit current{};
    ::getrlimit(RLIMIT_FSIZE, &current);
    current.rlim_cur = OldCurrent;
    ::setrlimit(RLIMIT_FSIZE, &current);
    std::signal(SIGXFSZ, OldHandler);
}

bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (cond())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return cond();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void WriteTextFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out << content;
}

std::vector<std::string> NamesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string MakeDirWithFiles(const std::string& dir, const std::vector<std::string>& files)
{
    std::filesystem::create_directories(dir);
    for (const std::string& file : files)
        WriteTextFile(dir + "/" + file, file);
    return dir;
}

std::string ReadTextFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void SetFileTime(const std::string& path, int64_t unixSeconds, int milliseconds)
{
    const timespec times[2] = {{unixSeconds, milliseconds * 1000000L}, {unixSeconds, milliseconds * 1000000L}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw std::runtime_error("utimensat failed for " + path);
}

std::vector<std::string> LogMessages(const std::string& path)
{
    std::vector<std::string> messages;
    std::istringstream lines(ReadTextFile(path));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t tab = line.find('\t');
        messages.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
    }
    return messages;
}

uid_t UnprivilegedUid()
{
    const passwd* user = ::getpwnam("nobody");
    return user != nullptr ? user->pw_uid : 65534;
}

gid_t UnprivilegedGid()
{
    const passwd* user = ::getpwnam("nobody");
    return user != nullptr ? user->pw_gid : 65534;
}

namespace {

int RunChild(const std::function<int()>& step, bool dropPrivileges, pid_t* child = nullptr)
{
    const uid_t uid = UnprivilegedUid();
    const gid_t gid = UnprivilegedGid();
    const pid_t pid = ::fork();
    if (child != nullptr)
        *child = pid;
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (dropPrivileges && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(255);
        int result = 254;
        try {
            result = step();
        } catch (...) {
        }
        ::_exit(result);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    const int code = WEXITSTATUS(status);
    return code == 255 ? -1 : code;
}

}  // namespace

int RunAsUnprivileged(const std::function<int()>& step, pid_t* child)
{
    return RunChild(step, true, child);
}

int RunInChild(const std::function<int()>& step, pid_t* child)
{
    return RunChild(step, false, child);
}

std::string Refusal(const std::function<void()>& call)
{
    int code = 0;
    return Refusal(call, code);
}

std::string Refusal(const std::function<void()>& call, int& code)
{
    try {
        call();
    } catch (const EOSError& e) {
        code = e.ErrorCode;
        return e.what();
    }
    return std::string();
}

std::string PatternBytes(size_t size, unsigned seed)
{
    std::string text(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : text) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return text;
}

std::string HostName()
{
    char buffer[256] = {};
    ::gethostname(buffer, sizeof buffer - 1);
    return buffer;
}

namespace {

// A seccomp filter for the calling thread: openat with O_TMPFILE fails with EOPNOTSUPP.
bool RefuseUnnamedFiles()
{
#if defined(__x86_64__)
    constexpr uint32_t arch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr uint32_t arch = AUDIT_ARCH_AARCH64;
#else
    return false;
#endif
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        // The flags' low half (little-endian): the bit that makes O_TMPFILE of O_DIRECTORY.
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EOPNOTSUPP & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    // Both belong to the calling thread alone.
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

}  // namespace

void RunWithoutUnnamedFiles(const std::function<void()>& step)
{
    std::thread thread([&step] {
        if (!RefuseUnnamedFiles())
            throw std::runtime_error(std::string("cannot refuse unnamed files: ") + std::strerror(errno));
        step();
    });
    thread.join();
}

SmallFileSystem::SmallFileSystem(size_t bytes)
{
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", Dir.Path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
        throw std::runtime_error("cannot mount a tmpfs on " + Dir.Path() + ": " + std::strerror(errno));
    Mounted = true;
}

SmallFileSystem::~SmallFileSystem()
{
    if (Mounted)
        ::umount2(Dir.Path().c_str(), MNT_DETACH);
}

bool SmallFileSystem::Fill(const std::string& name) const
{
    const ferrix::TFileDescriptor file(::open((Dir / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file.Valid())
        return false;
    const std::string block(4096, 'f');
    ssize_t n = 0;
    while ((n = ::write(file.Get(), block.data(), block.size())) > 0) {
    }
    return n < 0 && errno == ENOSPC;
}

TCurrentDirectory::TCurrentDirectory(const std::string& dir)
{
    Saved = getcwd(Previous, sizeof Previous) != nullptr && chdir(dir.c_str()) == 0;
}

TCurrentDirectory::~TCurrentDirectory()
{
    if (Saved && chdir(Previous) != 0)
        ADD_FAILURE() << "cannot return to " << Previous;
}
