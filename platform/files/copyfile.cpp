#include "platform/files/copyfile.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files/filecontent.h"
#include "platform/files/filedescriptor.h"
#include "platform/files/newfile.h"

namespace {

// The largest piece one copy_file_range call is asked for; the kernel caps it further.
constexpr size_t CopyPiece = size_t{1} << 30;

// Whether the target of dirFd may be replaced: missing (then exists is false), or present and not
// read-only. A symbolic link is replaced as the name it is.
bool MayReplace(int dirFd, const std::string& target, bool failIfExists, bool& exists)
{
    struct stat st{};
    exists = ::fstatat(dirFd, target.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
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

// Copies from the current offset of in through a buffer: left bytes, or to the end when left is
// negative.
bool CopyThroughBuffer(int in, int out, off_t left = -1)
{
    char buffer[65536];
    while (left != 0) {
        const size_t want = left < 0 ? sizeof buffer : static_cast<size_t>(std::min<off_t>(left, sizeof buffer));
        const ssize_t n = ::read(in, buffer, want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        if (!ferrix::WriteAll(out, buffer, static_cast<size_t>(n)))
            return false;
        if (left > 0)
            left -= n;
    }
    return true;
}

// Whether copy_file_range cannot copy between these two files at all (other file systems, old
// kernels, file systems that refuse it); the buffer then takes over from where it stopped.
bool KernelCopyUnsupported(int error)
{
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Copies in from its offset to its end by the kernel's in-place copy.
bool CopyWhole(int in, int out)
{
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, CopyPiece, 0);
        if (n > 0)
            continue;
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        return KernelCopyUnsupported(errno) && CopyThroughBuffer(in, out);
    }
}

// Copies the bytes from..to of in to the same place, less shift, in out.
bool CopyRegion(int in, int out, off_t from, off_t to, off_t shift)
{
    off_t inOffset = from;
    off_t outOffset = from - shift;
    while (inOffset < to) {
        const size_t want = static_cast<size_t>(std::min<off_t>(to - inOffset, CopyPiece));
        const ssize_t n = ::copy_file_range(in, &inOffset, out, &outOffset, want, 0);
        if (n > 0)
            continue;
        if (n == 0)
            return true;  // the source was cut meanwhile
        if (errno == EINTR)
            continue;
        if (!KernelCopyUnsupported(errno) || ::lseek(in, inOffset, SEEK_SET) < 0 ||
            ::lseek(out, outOffset, SEEK_SET) < 0)
            return false;
        return CopyThroughBuffer(in, out, to - inOffset);
    }
    return true;
}

// Copies only the data regions of in, from its offset to its size, as cp does: the holes between
// them stay holes in out, which then takes no more room than the source.
bool CopySparse(int in, int out, off_t size)
{
    const off_t start = ::lseek(in, 0, SEEK_CUR);
    if (start < 0)
        return false;
    for (off_t at = start; at < size;) {
        const off_t data = ::lseek(in, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break;  // a hole up to the end
        const off_t hole = data < 0 ? -1 : ::lseek(in, data, SEEK_HOLE);
        if (hole < 0 || !CopyRegion(in, out, data, std::min(hole, size), start))
            return false;
        at = hole;
    }
    return ::ftruncate(out, std::max<off_t>(size - start, 0)) == 0;
}

// Copies in to out and gives out the source's access and modification times, as the copy of a
// file always did. Only a file with fewer blocks than its size needs can hold holes; any other
// goes whole.
bool CopyContent(int in, int out, const struct stat& st)
{
    const bool sparse = st.st_blocks * 512 < st.st_size;
    if (!(sparse ? CopySparse(in, out, st.st_size) : CopyWhole(in, out)))
        return false;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out, times);
    return true;
}

// Copies the open regular file in, whose status is st, to target of dirFd. The copy takes the
// source's permission bits less the umask, as cp does, so that it grants no one more than the
// source. Only the owner's write bit is always set: the owner may set it anyway, and without it the
// next copy would refuse the file as read-only.
bool CopyOpenFile(int in, const struct stat& st, int dirFd, const std::string& target, bool failIfExists)
{
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    bool exists = false;
    if (!MayReplace(dirFd, target, failIfExists, exists))
        return false;
    ferrix::TNewFile out(dirFd, target, (st.st_mode & 0777) | S_IWUSR);
    if (!out.Valid() || !CopyContent(in, out.Get(), st))
        return false;
    // A new target is named at once; one that appeared meanwhile is replaced like any other.
    if (!exists) {
        if (out.Create())
            return true;
        if (errno != EEXIST || failIfExists)
            return false;
    }
    return out.Replace();
}

}  // namespace

bool ferrix::CopyFileFrom(const TFileDescriptor& source, const std::string& target, bool failIfExists)
{
    struct stat st{};
    if (!source.Valid()) {
        errno = EBADF;
        return false;
    }
    return ::fstat(source.Get(), &st) == 0 && CopyOpenFile(source.Get(), st, AT_FDCWD, target, failIfExists);
}

bool ferrix::CopyFileFrom(const TOpenedFile& source, int dirFd, const std::string& name, bool failIfExists)
{
    if (!source.File.Valid()) {
        errno = EBADF;
        return false;
    }
    return CopyOpenFile(source.File.Get(), source.Status, dirFd, name, failIfExists);
}

bool CopyFile(const std::string& source, const std::string& target, bool failIfExists)
{
    struct stat st{};
    const ferrix::TFileDescriptor in = ferrix::OpenRegularFile(source, false, st);
    return in.Valid() && CopyOpenFile(in.Get(), st, AT_FDCWD, target, failIfExists);
}
