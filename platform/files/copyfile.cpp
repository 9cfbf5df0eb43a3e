#include "platform/files/copyfile.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/files/filedescriptor.h"

namespace {

// A named temporary copy: ".ferrix-copy.PID.HOST.SERIAL". The process and host tell whose
// leftover it is.
constexpr char TemporaryPrefix[] = ".ferrix-copy.";
constexpr int TemporaryNameAttempts = 8;
// The largest piece one copy_file_range call is asked for; the kernel caps it further.
constexpr size_t CopyPiece = size_t{1} << 30;

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

std::string OwnTemporaryPrefix(pid_t pid)
{
    return TemporaryPrefix + std::to_string(pid) + "." + HostName() + ".";
}

// A temporary name beside target that no other call of any process uses at the same time.
std::string TemporaryNameBeside(const std::string& target)
{
    static std::atomic<unsigned> serial{0};
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::string dir = DirectoryOf(target);
    return (dir == "/" ? "" : dir) + "/" + OwnTemporaryPrefix(::getpid()) +
           std::to_string(now.tv_sec * 1000000000LL + now.tv_nsec) + "-" + std::to_string(serial++);
}

// Whether the target may be replaced: missing (and then sets exists to false), or present and not
// read-only. A symbolic link is replaced as the name it is.
bool MayReplace(const std::string& target, bool failIfExists, bool& exists)
{
    struct stat st{};
    exists = ::lstat(target.c_str(), &st) == 0;
    if (!exists)
        return errno == ENOENT;
    if (failIfExists) {
        errno = EEXIST;
        return false;
    }
    if (S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
        errno = EACCES;
        return false;
    }
    return true;
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies from the current offset of in to the end through a buffer.
bool CopyThroughBuffer(int in, int out)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        if (!WriteAll(out, buffer, static_cast<size_t>(n)))
            return false;
    }
}

// Whether copy_file_range cannot copy between these two files at all (other file systems, old
// kernels, file systems that refuse it); the buffer loop then takes over from where it stopped.
bool KernelCopyUnsupported(int error)
{
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Copies in to out by the kernel's in-place copy and gives out the source's times, as the copy of
// a file always did.
bool CopyContent(int in, int out, const struct stat& st)
{
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, CopyPiece, 0);
        if (n > 0)
            continue;
        if (n == 0)
            break;
        if (errno == EINTR)
            continue;
        if (!KernelCopyUnsupported(errno) || !CopyThroughBuffer(in, out))
            return false;
        break;
    }
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out, times);
    return true;
}

// Gives the unnamed file behind fd the name path; fails with EEXIST when path exists.
bool LinkDescriptor(int fd, const std::string& path)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    // Without /proc: linking by descriptor needs more privilege, but may still be allowed.
    return errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0 &&
           ::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0;
}

// Moves the temporary file temp over target and removes it when that fails.
bool RenameOver(const std::string& temp, const std::string& target)
{
    if (::rename(temp.c_str(), target.c_str()) == 0)
        return true;
    const int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
    return false;
}

// Names the whole unnamed copy behind fd target: directly when target is new, else under a
// temporary name beside it that then replaces it.
bool LinkIntoPlace(int fd, const std::string& target, bool exists, bool failIfExists)
{
    if (!exists) {
        if (LinkDescriptor(fd, target))
            return true;
        if (errno != EEXIST || failIfExists)
            return false;
    }
    for (int attempt = 0; attempt < TemporaryNameAttempts; ++attempt) {
        const std::string temp = TemporaryNameBeside(target);
        if (LinkDescriptor(fd, temp))
            return RenameOver(temp, target);
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// Where the file system has no unnamed files: the copy is written under a temporary name and
// renamed (or, with failIfExists, linked) into place.
bool CopyThroughNamedFile(int in, const struct stat& st, const std::string& target, bool failIfExists)
{
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < TemporaryNameAttempts; ++attempt) {
        temp = TemporaryNameBeside(target);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    TFileDescriptor out(fd);
    bool ok = CopyContent(in, out.Get(), st);
    int error = errno;
    if (!out.Close() && ok) {
        ok = false;
        error = errno;
    }
    if (ok && !failIfExists)
        return RenameOver(temp, target);
    if (ok && ::link(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    ::unlink(temp.c_str());
    errno = error;
    return ok;
}

bool UnnamedFilesUnsupported(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

bool ProcessRunning(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

bool CopyFile(const std::string& source, const std::string& target, bool failIfExists)
{
    TFileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!in.Valid())
        return false;
    struct stat st{};
    if (::fstat(in.Get(), &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    bool exists = false;
    if (!MayReplace(target, failIfExists, exists))
        return false;
    TFileDescriptor out(::open(DirectoryOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (!out.Valid())
        return UnnamedFilesUnsupported(errno) && CopyThroughNamedFile(in.Get(), st, target, failIfExists);
    return CopyContent(in.Get(), out.Get(), st) && LinkIntoPlace(out.Get(), target, exists, failIfExists);
}

void RemoveCopyLeftovers(const std::string& dir)
{
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr)
        return;
    const std::string ownHost = "." + HostName() + ".";
    const size_t prefixLength = sizeof TemporaryPrefix - 1;
    while (const dirent* entry = ::readdir(d)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefixLength, TemporaryPrefix) != 0)
            continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefixLength, &end, 10);
        const size_t hostAt = static_cast<size_t>(end - name.c_str());
        if (hostAt == prefixLength || pid <= 0 || name.compare(hostAt, ownHost.size(), ownHost) != 0)
            continue;
        // Only this process's own copies, none of which is under way, and those of ended processes.
        if (pid == ::getpid() || !ProcessRunning(static_cast<pid_t>(pid)))
            ::unlinkat(::dirfd(d), entry->d_name, 0);
    }
    ::closedir(d);
}
