#include "platform/files/copyfile.h"

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

// Whether the target may be replaced: missing (then exists is false), or present and not
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
        if (!ferrix::WriteAll(out, buffer, static_cast<size_t>(n)))
            return false;
    }
}

// Whether copy_file_range cannot copy between these two files at all (other file systems, old
// kernels, file systems that refuse it); the buffer then takes over from where it stopped.
bool KernelCopyUnsupported(int error)
{
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Copies in to out by the kernel's in-place copy and gives out the source's access and
// modification times, as the copy of a file always did.
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

}  // namespace

bool ferrix::CopyFileFrom(const TFileDescriptor& source, const std::string& target, bool failIfExists)
{
    struct stat st{};
    if (!source.Valid()) {
        errno = EBADF;
        return false;
    }
    if (::fstat(source.Get(), &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    bool exists = false;
    if (!MayReplace(target, failIfExists, exists))
        return false;
    TNewFile out(target, 0666);
    if (!out.Valid() || !CopyContent(source.Get(), out.Get(), st))
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

bool CopyFile(const std::string& source, const std::string& target, bool failIfExists)
{
    struct stat st{};
    const ferrix::TFileDescriptor in = ferrix::OpenRegularFile(source, false, st);
    return in.Valid() && ferrix::CopyFileFrom(in, target, failIfExists);
}
