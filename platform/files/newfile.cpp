#include "platform/files/newfile.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int TemporaryNameAttempts = 8;

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

const std::string& HostName()
{
    static const std::string name = [] {
        char buffer[256] = {};
        if (::gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0')
            return std::string("localhost");
        return std::string(buffer);
    }();
    return name;
}

// A temporary name beside target that no other call of any process uses at the same time.
std::string TemporaryNameBeside(const std::string& target)
{
    static std::atomic<unsigned> serial{0};
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::string dir = DirectoryOf(target);
    return (dir == "/" ? "" : dir) + "/" + ferrix::TemporaryNamePrefix + std::to_string(::getpid()) + "." +
           HostName() + "." + std::to_string(now.tv_sec * 1000000000LL + now.tv_nsec) + "-" + std::to_string(serial++);
}

// An unnamed file in the target's directory; where the file system has none, a named one beside
// the target, its name in named.
int OpenNewFile(int dirFd, const std::string& target, mode_t mode, std::string& named)
{
    const int fd = ::openat(dirFd, DirectoryOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    for (int attempt = 0; attempt < TemporaryNameAttempts; ++attempt) {
        named = TemporaryNameBeside(target);
        const int out = ::openat(dirFd, named.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (out >= 0)
            return out;
        if (errno != EEXIST)
            break;
    }
    named.clear();
    return -1;
}

// Gives the unnamed file behind fd the name path of dirFd; EEXIST when path exists.
bool LinkDescriptor(int fd, int dirFd, const std::string& path)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), dirFd, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    // Without /proc only a process allowed to open any file by its descriptor may link it.
    return errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0 &&
           ::linkat(fd, "", dirFd, path.c_str(), AT_EMPTY_PATH) == 0;
}

bool ProcessRunning(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

ferrix::TNewFile::TNewFile(const std::string& target, mode_t mode) : TNewFile(AT_FDCWD, target, mode) {}

ferrix::TNewFile::TNewFile(int dirFd, const std::string& target, mode_t mode)
    : DirFd(dirFd), Target(target), File(OpenNewFile(dirFd, target, mode, Named))
{
}

ferrix::TNewFile::~TNewFile()
{
    if (Named.empty())
        return;
    const int saved = errno;
    ::unlinkat(DirFd, Named.c_str(), 0);
    errno = saved;
}

bool ferrix::TNewFile::NameTemporary()
{
    for (int attempt = 0; attempt < TemporaryNameAttempts; ++attempt) {
        const std::string name = TemporaryNameBeside(Target);
        if (LinkDescriptor(File.Get(), DirFd, name)) {
            Named = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool ferrix::TNewFile::Replace()
{
    // A named file is closed first: a network file system may report a failed write only there.
    if (Named.empty() ? !NameTemporary() : !File.Close())
        return false;
    // rename never follows a link at the target's name: it replaces the name itself.
    if (::renameat(DirFd, Named.c_str(), DirFd, Target.c_str()) != 0)
        return false;
    Named.clear();
    return true;
}

bool ferrix::TNewFile::Create()
{
    if (Named.empty())
        return LinkDescriptor(File.Get(), DirFd, Target);
    return File.Close() && ::linkat(DirFd, Named.c_str(), DirFd, Target.c_str(), 0) == 0;
}

bool ferrix::WriteAll(int fd, const void* data, size_t size)
{
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, next, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        next += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void ferrix::RemoveNewFileLeftovers(int dirFd)
{
    // The listing reads a descriptor of its own, which closedir closes; dirFd stays open.
    const int own = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return;
    DIR* d = ::fdopendir(own);
    if (d == nullptr) {
        ::close(own);
        return;
    }
    ::rewinddir(d);  // a duplicate shares the offset of an earlier listing
    const std::string ownHost = "." + HostName() + ".";
    const size_t prefixLength = sizeof ferrix::TemporaryNamePrefix - 1;
    while (const dirent* entry = ::readdir(d)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefixLength, ferrix::TemporaryNamePrefix) != 0)
            continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefixLength, &end, 10);
        const size_t hostAt = static_cast<size_t>(end - name.c_str());
        if (hostAt == prefixLength || pid <= 0 || name.compare(hostAt, ownHost.size(), ownHost) != 0)
            continue;
        if (pid == ::getpid() || !ProcessRunning(static_cast<pid_t>(pid)))
            ::unlinkat(::dirfd(d), entry->d_name, 0);
    }
    ::closedir(d);
}
