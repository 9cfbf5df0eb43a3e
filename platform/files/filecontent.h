// Whole files: the one way the programs read a file, replace one and append a line to one.
// A file is never written through a symbolic link and never left half-written: a replace
// builds the new content in an unnamed file of the same directory and renames it into place.
// Every routine returns false with errno set on failure.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/files/filedescriptor.h"

namespace ferrix {

// Opens a regular file for reading; never blocks on a fifo. With followLinks false a symbolic
// link is refused (ELOOP). On failure the descriptor is not valid and errno is set (EISDIR for a
// directory, EINVAL for any other kind of file); st holds the file's status otherwise.
TFileDescriptor OpenRegularFile(const std::string& path, bool followLinks, struct stat& st);

// A regular file open for reading, with the status its open found.
struct TOpenedFile {
    TFileDescriptor File{-1};
    struct stat Status {};
};
// OpenRegularFile of the entry name of the open directory dirFd.
TFileDescriptor OpenRegularFileAt(int dirFd, const std::string& name, bool followLinks, struct stat& st);

// The whole content of a regular file. False for a missing path, for anything that is not a
// regular file (never blocks on a fifo) and for a read error; after a read error content holds
// what was read before it. With followLinks false a symbolic link is refused (ELOOP).
bool ReadFileContent(const std::string& path, std::string& content, bool followLinks = true);
// ReadFileContent of the entry name of the open directory dirFd.
bool ReadFileContentAt(int dirFd, const std::string& name, std::string& content, bool followLinks);

// Up to maxSize bytes from the start of a regular file into buffer; count is the number read. A
// longer file is cut at maxSize. False as ReadFileContent, count then holding what was read.
bool ReadFileHead(const std::string& path, void* buffer, size_t maxSize, size_t& count);

// Reads from the file's offset into buffer until maxSize bytes or the end of the file; count is
// the number read, fewer than maxSize only at the end. False with errno on a read error.
bool ReadFully(const TFileDescriptor& file, void* buffer, size_t maxSize, size_t& count);

struct TReplaceOptions {
    mode_t NewFileMode = 0644;  // the mode of a file that did not exist
    // Bits added to an existing file's mode. With S_IWUSR the file's owner may replace a file
    // without the owner write bit, as a read-only file is made writable before a rewrite.
    mode_t AddedModeBits = 0;
    // Whether the new content reaches the disk before it takes the file's place, so that a power
    // cut leaves the old or the new file; without it the replace is whole after a process crash.
    bool Durable = true;
};

// Replaces the file's content atomically: the file on disk is always either the old or the new
// whole file, also after a crash, and no temporary file is left behind. An existing file keeps
// its mode, owner and group (the group alone where the caller may not give the file away).
// Refused, with the file left as it was: a symbolic link (ELOOP), a directory (EISDIR) or other
// non-regular file (EINVAL), and an existing file the caller may not write (EACCES), even where
// the directory would allow the rename.
bool ReplaceFileContent(const std::string& path, const void* data, size_t size, const TReplaceOptions& options = {});
// ReplaceFileContent of the entry name of the open directory dirFd; the new file is made there.
bool ReplaceFileContentAt(int dirFd, const std::string& name, const void* data, size_t size,
                          const TReplaceOptions& options = {});

// Appends the line (which carries its own line break) in one write to the end of the file, so
// that lines of several writers never interleave; creates a missing file with newFileMode.
// A symbolic link is refused (ELOOP). False also when the write was cut short.
bool AppendFileLine(const std::string& path, std::string_view line, mode_t newFileMode = 0644);

}  // namespace ferrix
