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

// Looks one path up; false when it does not exist.
bool FindFile(const std::string& path, TSearchRec& rec);

// Whether name matches "*." + extension the way the original file system matched masks.
bool MatchesExtension(const std::string& name, const std::string& extension);

FILETIME TimespecToFileTime(int64_t seconds, int64_t nanoseconds);

bool IsSymbolicLink(const std::string& path);           // the path itself is a symbolic link
bool SetFileAttributesNormal(const std::string& path);  // adds the owner write bit

// A local path with any "\" turned into the platform delimiter.
std::string LocalPath(const std::string& path);

}  // namespace ferrix
