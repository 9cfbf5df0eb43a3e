#include "platform/files/filecontent.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/files/filedescriptor.h"

namespace {

constexpr int TemporaryNameAttempts = 8;

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

void UnlinkKeepingErrno(const std::string& path)
{
    const int saved = errno;
    ::unlink(path.c_str());
    errno = saved;
}

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A hidden name beside the file, different for each process and call: ".name.PID.NUMBER.tmp".
std::string TemporaryNameFor(const std::string& path)
{
    static std::atomic<unsigned> counter{0};
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "." + name + "." + std::to_string(::getpid()) + "." +
           std::to_string(now.tv_sec * 1000000000LL + now.tv_nsec + counter.fetch_add(1)) + ".tmp";
}

// The file the replace takes the place of, looked up without following a link.
struct TTarget {
    bool Exists = false;
    struct stat Stat {};
};

// Whether the caller may replace the file at path: a regular file it may write (or own, where
// options allow making it writable), or no file yet.
bool CheckTarget(const std::string& path, const TReplaceOptions& options, TTarget& target)
{
    if (::lstat(path.c_str(), &target.Stat) != 0)
        return errno == ENOENT;
    target.Exists = true;
    if (!S_ISREG(target.Stat.st_mode)) {
        errno = S_ISLNK(target.Stat.st_mode) ? ELOOP : S_ISDIR(target.Stat.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    // Opening the file proves the right to write the file itself, not only its directory.
    const TFileDescriptor file(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.Valid()) {
        if (::fstat(file.Get(), &target.Stat) != 0)
            return false;
        return S_ISREG(target.Stat.st_mode) || (errno = EINVAL, false);
    }
    return errno == EACCES && (options.AddedModeBits & S_IWUSR) != 0 && target.Stat.st_uid == ::geteuid();
}

// An unnamed file in the directory (nothing is left of it after a crash); where the file
// system has none, a hidden named file beside the target, its name in named.
int OpenTemporary(const std::string& path, std::string& named)
{
    named.clear();
    const int fd = ::open(DirectoryOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    for (int attempt = 0; attempt < TemporaryNameAttempts; ++attempt) {
        named = TemporaryNameFor(path);
        const int out = ::open(named.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (out >= 0 || errno != EEXIST)
            return out;
    }
    return -1;
}

// Gives the temporary file the target's owner, group and mode, then the content, on disk.
bool FillTemporary(int fd, const TTarget& target, const TReplaceOptions& options, const void* data, size_t size)
{
    mode_t mode = options.NewFileMode;
    if (target.Exists) {
        // Only root may give a file away; a member of the file's group keeps at least the group.
        if (::fchown(fd, target.Stat.st_uid, target.Stat.st_gid) != 0)
            ::fchown(fd, static_cast<uid_t>(-1), target.Stat.st_gid);
        mode = (target.Stat.st_mode & 07777) | options.AddedModeBits;
    }
    return ::fchmod(fd, mode) == 0 && WriteAll(fd, static_cast<const char*>(data), size) && ::fsync(fd) == 0;
}

// Gives the unnamed file a hidden name beside the target.
bool LinkTemporary(int fd, const std::string& path, std::string& named)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < TemporaryNameAttempts; ++attempt) {
        named = TemporaryNameFor(path);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        // Without /proc only a process allowed to open any file by its descriptor may link it.
        if (errno == ENOENT && ::linkat(fd, "", AT_FDCWD, named.c_str(), AT_EMPTY_PATH) == 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    named.clear();
    return false;
}

}  // namespace

bool ReadFileContent(const std::string& path, std::string& content, bool followLinks)
{
    content.clear();
    const TFileDescriptor file(
        ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW)));
    if (!file.Valid())
        return false;
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    // One byte more than the size, so that a whole file is read, and seen to end, in one call.
    content.resize(static_cast<size_t>(st.st_size) + 1);
    size_t used = 0;
    for (;;) {
        if (used == content.size())
            content.resize(content.size() * 2);
        const ssize_t n = ::read(file.Get(), content.data() + used, content.size() - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            content.resize(used);
            return n == 0;
        }
        used += static_cast<size_t>(n);
    }
}

bool ReplaceFileContent(const std::string& path, const void* data, size_t size, const TReplaceOptions& options)
{
    TTarget target;
    if (!CheckTarget(path, options, target))
        return false;
    std::string named;
    const TFileDescriptor file(OpenTemporary(path, named));
    if (!file.Valid())
        return false;
    bool ok = FillTemporary(file.Get(), target, options, data, size);
    if (ok && named.empty())
        ok = LinkTemporary(file.Get(), path, named);
    // rename never follows a link at the target's name: it replaces the name itself.
    if (ok && ::rename(named.c_str(), path.c_str()) == 0)
        return true;
    if (!named.empty())
        UnlinkKeepingErrno(named);
    return false;
}

bool AppendFileLine(const std::string& path, std::string_view line, mode_t newFileMode)
{
    const TFileDescriptor file(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, newFileMode));
    if (!file.Valid())
        return false;
    ssize_t n;
    do
        n = ::write(file.Get(), line.data(), line.size());
    while (n < 0 && errno == EINTR);
    if (n >= 0 && static_cast<size_t>(n) != line.size())
        errno = ENOSPC;
    return n >= 0 && static_cast<size_t>(n) == line.size();
}
