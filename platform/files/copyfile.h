// Copying a file so that its target is never seen torn: the copy is a new file (newfile.h) that
// takes the target's name only once it is whole, by the kernel's in-place copy where the two
// files allow it. The holes of a sparse source stay holes in the copy. A failed or interrupted copy
// leaves the previous target, or none.
#pragma once

#include <string>

#include "platform/files/filecontent.h"
#include "platform/files/filedescriptor.h"

// Copies source to target with the source's access and modification times, replacing an existing
// target unless failIfExists (then EEXIST). A new target takes the source's permission bits less
// the umask, with the owner's write bit. An existing target without the owner write bit is a read-only file and is refused
// with EACCES, also for root. A source that is not a regular file (a symbolic link among them) is
// refused; a target that is a symbolic link is replaced, never written through. Sets errno on
// failure.
bool CopyFile(const std::string& source, const std::string& target, bool failIfExists);

namespace ferrix {
// CopyFile from a file opened before: source is a regular file open for reading, copied from its
// current offset (the whole file when just opened) to its end. The source is read with the rights
// it was opened with; only the target is reached with the calling thread's identity of now. EBADF
// for a descriptor that is not valid, EINVAL for a source that is not a regular file; otherwise
// fails as CopyFile.
bool CopyFileFrom(const TFileDescriptor& source, const std::string& target, bool failIfExists);
// CopyFileFrom with the status the source's open found, so that the file is not looked at again,
// to the entry name of the open directory dirFd: a plain name is reached through no link.
bool CopyFileFrom(const TOpenedFile& source, int dirFd, const std::string& name, bool failIfExists);
}  // namespace ferrix
