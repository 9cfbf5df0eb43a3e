#include "platform/files/filecontent.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files/filedescriptor.h"
#include "platform/files/newfile.h"

namespace {

// The file the replace takes the place of, looked up without following a link.
struct TTarget {
    bool Exists = false;
    struct stat Stat {};
};

// Whether the caller may replace the file name of dirFd: a regular file it may write (or own,
// where options allow making it writable), or no file yet.
bool CheckTarget(int dirFd, const std::string& name, const ferrix::TReplaceOptions& options, TTarget& target)
{
    if (::fstatat(dirFd, name.c_str(), &target.Stat, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    target.Exists = true;
    if (!S_ISREG(target.Stat.st_mode)) {
        errno = S_ISLNK(target.Stat.st_mode) ? ELOOP : S_ISDIR(target.Stat.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    // Opening the file proves the right to write the file itself, not only its directory.
    const ferrix::TFileDescriptor file(::openat(dirFd, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.Valid()) {
        if (::fstat(file.Get(), &target.Stat) != 0)
            return false;
        return S_ISREG(target.Stat.st_mode) || (errno = EINVAL, false);
    }
    return errno == EACCES && (options.AddedModeBits & S_IWUSR) != 0 && target.Stat.st_uid == ::geteuid();
}

// Gives the temporary file the target's owner, group and mode, then the content, on disk.
bool FillTemporary(int fd, const TTarget& target, const ferrix::TReplaceOptions& options, const void* data, size_t size)
{
    mode_t mode = options.NewFileMode;
    if (target.Exists) {
        // Only root may give a file away; a member of the file's group keeps at least the group.
        if (::fchown(fd, target.Stat.st_uid, target.Stat.st_gid) != 0)
            ::fchown(fd, static_cast<uid_t>(-1), target.Stat.st_gid);
        mode = (target.Stat.st_mode & 07777) | options.AddedModeBits;
    }
    return ::fchmod(fd, mode) == 0 && ferrix::WriteAll(fd, data, size) && (!options.Durable || ::fsync(fd) == 0);
}

}  // namespace

ferrix::TFileDescriptor ferrix::OpenRegularFile(const std::string& path, bool followLinks, struct stat& st)
{
    return OpenRegularFileAt(AT_FDCWD, path, followLinks, st);
}

ferrix::TFileDescriptor ferrix::OpenRegularFileAt(int dirFd, const std::string& name, bool followLinks, struct stat& st)
{
    TFileDescriptor file(
        ::openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW)));
    if (!file.Valid())
        return file;
    if (::fstat(file.Get(), &st) != 0)
        return TFileDescriptor(-1);
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return TFileDescriptor(-1);
    }
    return file;
}

bool ferrix::ReadFileContent(const std::string& path, std::string& content, bool followLinks)
{
    return ReadFileContentAt(AT_FDCWD, path, content, followLinks);
}

bool ferrix::ReadFileContentAt(int dirFd, const std::string& name, std::string& content, bool followLinks)
{
    content.clear();
    struct stat st {};
    const ferrix::TFileDescriptor file = ferrix::OpenRegularFileAt(dirFd, name, followLinks, st);
    if (!file.Valid())
        return false;
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

bool ferrix::ReadFileHead(const std::string& path, void* buffer, size_t maxSize, size_t& count)
{
    count = 0;
    struct stat st {};
    const ferrix::TFileDescriptor file = ferrix::OpenRegularFile(path, true, st);
    return file.Valid() && ReadFully(file, buffer, maxSize, count);
}

bool ferrix::ReadFully(const TFileDescriptor& file, void* buffer, size_t maxSize, size_t& count)
{
    count = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (count < maxSize) {
        const ssize_t n = ::read(file.Get(), bytes + count, maxSize - count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        count += static_cast<size_t>(n);
    }
    return true;
}

bool ferrix::ReplaceFileContent(const std::string& path, const void* data, size_t size, const ferrix::TReplaceOptions& options)
{
    return ReplaceFileContentAt(AT_FDCWD, path, data, size, options);
}

bool ferrix::ReplaceFileContentAt(int dirFd, const std::string& name, const void* data, size_t size,
                                  const ferrix::TReplaceOptions& options)
{
    TTarget target;
    if (!CheckTarget(dirFd, name, options, target))
        return false;
    ferrix::TNewFile file(dirFd, name, 0600);
    return file.Valid() && FillTemporary(file.Get(), target, options, data, size) && file.Replace();
}

bool ferrix::AppendFileLine(const std::string& path, std::string_view line, mode_t newFileMode)
{
    const ferrix::TFileDescriptor file(
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
