// A file written beside its target and given the target's name only once whole, so that the
// target is never seen half-written. It is an unnamed file of the target's directory, of which
// nothing remains after a crash; where the file system has no unnamed files, a hidden file with
// a temporary name. A temporary name is ".ferrix-tmp.PID.HOST.SERIAL": the process and host tell
// whose leftover it is.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

#include "platform/files/filedescriptor.h"

namespace ferrix {

// How every temporary name begins.
inline constexpr char TemporaryNamePrefix[] = ".ferrix-tmp.";

class TNewFile {
public:
    // Opens the file with mode (less the umask); Valid() is false, with errno set, on failure.
    TNewFile(const std::string& target, mode_t mode);
    // The same for target relative to the open directory dirFd, which must stay open while this
    // file lives.
    TNewFile(int dirFd, const std::string& target, mode_t mode);
    // Closes the file and removes a temporary name that did not take the target's place.
    ~TNewFile();
    TNewFile(const TNewFile&) = delete;
    TNewFile& operator=(const TNewFile&) = delete;

    bool Valid() const { return File.Valid(); }
    int Get() const { return File.Get(); }

    // Puts the file in the target's place, replacing an existing target (a symbolic link is
    // replaced, never followed).
    bool Replace();
    // Gives the file the target's name only where no target exists; EEXIST otherwise.
    bool Create();

private:
    // Gives the unnamed file a temporary name beside the target.
    bool NameTemporary();

    int DirFd;
    std::string Target;
    std::string Named;  // the temporary name, while the file has one
    TFileDescriptor File;
};

// Writes all of data, going on after interrupts and short writes.
bool WriteAll(int fd, const void* data, size_t size);

// Removes the temporary files this host's processes left in the open directory dirFd when they
// ended before the file was in place (a crash between naming and renaming it): those of ended
// processes, and this process's own. Each is removed as the name it is, never through a link.
// Call it while this process writes no new file into the directory; an invalid dirFd does nothing.
void RemoveNewFileLeftovers(int dirFd);

}  // namespace ferrix
