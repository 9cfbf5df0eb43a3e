// Directory enumeration and file operations in the shape the units expect of the Windows
// file API. Attributes follow the Windows bits: a name beginning with "." is hidden, anything
// that is not a regular file is a directory or a "system" entry, and a file without the owner
// write bit is read-only. A directory listing never follows a symbolic link: the link itself is a
// "system" entry, so no data file is ever read through one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/sysutils.h"
#include "platform/files/filedescriptor.h"

constexpr int faReadOnly = 0x01;
constexpr int faHidden = 0x02;
constexpr int faSysFile = 0x04;
constexpr int faDirectory = 0x10;
constexpr int faArchive = 0x20;
constexpr int faNormal = 0x80;

struct TSearchRec {
    std::string Name;
    uint64_t Size = 0;
    FILETIME Time;  // last write, UTC
    int Attr = 0;
};

bool FileExists(const std::string& path);       // a regular file (after following links)
bool DirectoryExists(const std::string& path);
int GetFileAttributes(const std::string& path);  // -1 when missing
// Creates the directory and every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
bool DeleteFile(const std::string& path);

// The system's text for an error code.
std::string SysErrorMessage(int errorCode);

namespace ferrix {

// Every entry of dir whose name matches "*." + extension (case-insensitive; "*" matches every
// name), with its attributes. "." and ".." are never listed. A missing or unreadable directory
// yields an empty list.
std::vector<TSearchRec> FindFiles(const std::string& dir, const std::string& extension);
// FindFiles of an open directory, read from its start: one fstatat per listed entry.
std::vector<TSearchRec> FindFilesAt(int dirFd, const std::string& extension);

// Opens a directory for the ...At calls. With followLinks false a link as the last component is
// refused (ELOOP). Not valid, with errno set, when the path is no directory (ENOTDIR).
TFileDescriptor OpenDirectory(const std::string& path, bool followLinks);
// Opens the directory name of dirFd, never through a symbolic link: a link is refused (ELOOP),
// as is a name with a "/" in it (EINVAL), so nothing below dirFd is reached through a link.
TFileDescriptor OpenDirectoryAt(int dirFd, const std::string& name);
// OpenDirectoryAt, making the directory first (mode 0777 less the umask) where it is missing. A
// link in its place is refused (ELOOP) and left as it is.
TFileDescriptor OpenOrMakeDirectoryAt(int dirFd, const std::string& name);
// A second descriptor of the same open file; not valid, with errno set, on failure.
TFileDescriptor DuplicateDescriptor(const TFileDescriptor& file);

// Looks one path up; false when it does not exist.
bool FindFile(const std::string& path, TSearchRec& rec);
// Looks the entry name of dirFd up as itself, a link as a system entry; false when it does not exist.
bool FindFileAt(int dirFd, const std::string& name, TSearchRec& rec);

// Whether name matches "*." + extension the way the original file system matched masks.
bool MatchesExtension(const std::string& name, const std::string& extension);

FILETIME TimespecToFileTime(int64_t seconds, int64_t nanoseconds);

bool IsSymbolicLink(const std::string& path);           // the path itself is a symbolic link
bool IsSymbolicLinkAt(int dirFd, const std::string& name);
// Rename and delete within dirFd; a link is renamed or deleted as itself. False with errno set.
bool RenameFileAt(int dirFd, const std::string& from, const std::string& to);
bool DeleteFileAt(int dirFd, const std::string& name);
bool SetFileAttributesNormal(const std::string& path);  // adds the owner write bit

// A local path with any "\" turned into the platform delimiter.
std::string LocalPath(const std::string& path);

}  // namespace ferrix
