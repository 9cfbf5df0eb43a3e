#include "platform/files/findfile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int AttributesOf(const std::string& name, const struct stat& st)
{
    int attr = 0;
    if (S_ISDIR(st.st_mode))
        attr |= faDirectory;
    else if (!S_ISREG(st.st_mode))
        attr |= faSysFile;
    if (!name.empty() && name[0] == '.')
        attr |= faHidden;
    if ((st.st_mode & S_IWUSR) == 0)
        attr |= faReadOnly;
    if (attr == 0)
        attr = faArchive;
    return attr;
}

void FillRecord(std::string name, const struct stat& st, TSearchRec& rec)
{
    rec.Name = std::move(name);
    rec.Size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    rec.Time = ferrix::TimespecToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    rec.Attr = AttributesOf(rec.Name, st);
}

}  // namespace

FILETIME ferrix::TimespecToFileTime(int64_t seconds, int64_t nanoseconds)
{
    // 1601-01-01 to 1970-01-01 in seconds; the time stamps keep milliseconds.
    constexpr int64_t EpochDifference = 11644473600LL;
    constexpr int64_t TicksPerSecond = 10000000;
    constexpr int64_t MaxSeconds = static_cast<int64_t>(UINT64_MAX / TicksPerSecond) - EpochDifference - 1;
    FILETIME ft;
    // A time before 1601 or beyond what the ticks hold becomes the largest value, which no date holds.
    if (seconds < -EpochDifference || seconds > MaxSeconds) {
        ft.Ticks = UINT64_MAX;
        return ft;
    }
    ft.Ticks = static_cast<uint64_t>(seconds + EpochDifference) * TicksPerSecond +
               static_cast<uint64_t>(nanoseconds / 1000000) * 10000;
    return ft;
}

bool ferrix::MatchesExtension(const std::string& name, const std::string& extension)
{
    if (extension == "*")
        return true;
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos)
        return extension.empty();
    return strcasecmp(name.c_str() + dot + 1, extension.c_str()) == 0;
}

std::vector<TSearchRec> ferrix::FindFiles(const std::string& dir, const std::string& extension)
{
    const TFileDescriptor d = OpenDirectory(dir.empty() ? "." : dir, true);
    if (!d.Valid())
        return {};
    return FindFilesAt(d.Get(), extension);
}

std::vector<TSearchRec> ferrix::FindFilesAt(int dirFd, const std::string& extension)
{
    std::vector<TSearchRec> result;
    // The listing reads a descriptor of its own, which closedir closes; dirFd stays open.
    const int own = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return result;
    DIR* d = fdopendir(own);
    if (d == nullptr) {
        ::close(own);
        return result;
    }
    rewinddir(d);  // a duplicate shares the offset of an earlier listing
    while (dirent* entry = readdir(d)) {
        std::string name = entry->d_name;
        if (name == "." || name == ".." || !ferrix::MatchesExtension(name, extension))
            continue;
        // A link is listed as itself, never as what it points at: a system entry.
        struct stat st {};
        if (fstatat(dirfd(d), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        TSearchRec rec;
        FillRecord(std::move(name), st, rec);
        result.push_back(std::move(rec));
    }
    closedir(d);
    return result;
}

ferrix::TFileDescriptor ferrix::OpenDirectory(const std::string& path, bool followLinks)
{
    return TFileDescriptor(
        ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW)));
}

ferrix::TFileDescriptor ferrix::OpenDirectoryAt(int dirFd, const std::string& name)
{
    if (name.empty() || name.find('/') != std::string::npos) {
        errno = EINVAL;
        return TFileDescriptor(-1);
    }
    TFileDescriptor dir(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    // With O_DIRECTORY the kernel refuses a link as no directory: tell it apart.
    if (!dir.Valid() && errno == ENOTDIR)
        errno = IsSymbolicLinkAt(dirFd, name) ? ELOOP : ENOTDIR;
    return dir;
}

ferrix::TFileDescriptor ferrix::OpenOrMakeDirectoryAt(int dirFd, const std::string& name)
{
    TFileDescriptor dir = OpenDirectoryAt(dirFd, name);
    if (dir.Valid() || errno != ENOENT)
        return dir;
    // Made by another meanwhile is as good; a link put there meanwhile is refused by the open.
    if (::mkdirat(dirFd, name.c_str(), 0777) != 0 && errno != EEXIST)
        return dir;
    return OpenDirectoryAt(dirFd, name);
}

ferrix::TFileDescriptor ferrix::DuplicateDescriptor(const TFileDescriptor& file)
{
    return TFileDescriptor(::fcntl(file.Get(), F_DUPFD_CLOEXEC, 0));
}

bool ferrix::FindFile(const std::string& path, TSearchRec& rec)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    const size_t slash = path.find_last_of('/');
    FillRecord(slash == std::string::npos ? path : path.substr(slash + 1), st, rec);
    return true;
}

bool ferrix::FindFileAt(int dirFd, const std::string& name, TSearchRec& rec)
{
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    FillRecord(name, st, rec);
    return true;
}

bool FileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ferrix::IsSymbolicLink(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool ferrix::IsSymbolicLinkAt(int dirFd, const std::string& name)
{
    struct stat st {};
    return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

bool DirectoryExists(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int GetFileAttributes(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    return AttributesOf(ExtractFileName(path), st);
}

bool ferrix::SetFileAttributesNormal(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    return ::chmod(path.c_str(), st.st_mode | S_IWUSR) == 0;
}

bool ForceDirectories(const std::string& path)
{
    if (path.empty())
        return false;
    if (DirectoryExists(path))
        return true;
    const std::string trimmed = ExcludeTrailingPathDelimiter(path);
    const std::string parent = ExcludeTrailingPathDelimiter(ExtractFilePath(trimmed));
    if (!parent.empty() && parent != trimmed && !ForceDirectories(parent))
        return false;
    return ::mkdir(trimmed.c_str(), 0777) == 0 || (errno == EEXIST && DirectoryExists(trimmed));
}

bool RenameFile(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool DeleteFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

bool ferrix::RenameFileAt(int dirFd, const std::string& from, const std::string& to)
{
    return ::renameat(dirFd, from.c_str(), dirFd, to.c_str()) == 0;
}

bool ferrix::DeleteFileAt(int dirFd, const std::string& name)
{
    return ::unlinkat(dirFd, name.c_str(), 0) == 0;
}

std::string SysErrorMessage(int errorCode)
{
    char buffer[256];
    return strerror_r(errorCode, buffer, sizeof buffer);
}

std::string ferrix::LocalPath(const std::string& path)
{
    std::string result = path;
    for (char& c : result)
        if (c == '\\')
            c = '/';
    return result;
}
