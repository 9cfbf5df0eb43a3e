#include "platform/namedpipe/pipename.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "base/sysutils.h"
#include "platform/files/filedescriptor.h"
#include "platform/files/findfile.h"

namespace {

thread_local int LastPipeError = 0;
thread_local std::string LastUnsafeDirectory;
thread_local std::string LastRemoteError;

constexpr const char* DefaultPipeDirectory = "/run/namedpipe";
constexpr const char* FallbackPipeDirectory = "/tmp/namedpipe";
constexpr mode_t PipeDirectoryMode = 0755;

bool IsTrustedOwner(uid_t owner)
{
    return owner == 0 || owner == ::geteuid();
}

// A default directory of ours: created when missing; one that we own but others may write to is
// made 0755 again, through a descriptor of the directory itself (never through a link). True when
// a directory exists afterwards; whether it is safe is checked where it is used.
bool MakePipeDirectory(const char* path)
{
    if (::mkdir(path, PipeDirectoryMode) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    const ferrix::TFileDescriptor dir(::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!dir.Valid() || ::fstat(dir.Get(), &st) != 0)
        return false;
    if (IsTrustedOwner(st.st_uid) && (st.st_mode & 022) != 0)
        ::fchmod(dir.Get(), PipeDirectoryMode);
    return true;
}

}  // namespace

int GetLastPipeError()
{
    return LastPipeError;
}

void SetLastPipeError(int code)
{
    LastPipeError = code;
}

void ferrix::SetRemotePipeError(const std::string& why)
{
    LastRemoteError = why;
    LastPipeError = PIPE_ERROR_REMOTE;
}

std::string ferrix::PipeErrorMessage(int code)
{
    switch (code) {
    case PIPE_ERROR_BAD_NAME:
        return "The pipe name is not of the form \\\\.\\pipe\\NAME";
    case PIPE_ERROR_REMOTE:
        return LastRemoteError.empty() ? "The other computer could not be reached" : LastRemoteError;
    case PIPE_ERROR_REFUSED:
        return "The pipe refused the connection: every instance is busy or the client is not admitted";
    case PIPE_ERROR_NO_ANSWER:
        return "The pipe was closed without an answer";
    case PIPE_ERROR_MORE_DATA:
        return "The answer is longer than the receive buffer";
    case PIPE_ERROR_ACCESS_DENIED:
        return "The client's user may not use this pipe";
    case PIPE_ERROR_UNSAFE_DIRECTORY:
        return "The pipe directory " + LastUnsafeDirectory +
               " is not safe: it must be a directory owned by root or this program's user that no one else may write to";
    case PIPE_ERROR_TIMEOUT:
        return "The pipe server took the request but did not answer in time";
    case PIPE_ERROR_UNTRUSTED_SERVER:
        return "The pipe is served by a program of another user than root, this program's user or the pipe directory's owner";
    default:
        return SysErrorMessage(code);
    }
}

bool ferrix::SplitPipeName(const std::string& pipeName, std::string& computer, std::string& name)
{
    // "\\" computer "\" "pipe" "\" name
    const size_t computerEnd = pipeName.rfind("\\\\", 0) == 0 ? pipeName.find('\\', 2) : std::string::npos;
    const size_t pipeEnd = computerEnd == std::string::npos ? computerEnd : pipeName.find('\\', computerEnd + 1);
    if (pipeEnd == std::string::npos || computerEnd == 2 ||
        !SameText(pipeName.substr(computerEnd + 1, pipeEnd - computerEnd - 1), "pipe")) {
        SetLastPipeError(PIPE_ERROR_BAD_NAME);
        return false;
    }
    name = pipeName.substr(pipeEnd + 1);
    if (name.empty() || name == "." || name == ".." || name.find_first_of(std::string("/\\\0", 3)) != std::string::npos) {
        SetLastPipeError(PIPE_ERROR_BAD_NAME);
        return false;
    }
    computer = pipeName.substr(2, computerEnd - 2);
    return true;
}

std::string ferrix::NamedPipeDirectory()
{
    const char* configured = std::getenv("NAMEDPIPE_DIR");
    if (configured != nullptr && *configured != '\0') {
        const std::string dir = ExcludeTrailingPathDelimiter(configured);
        const std::string parent = ExtractFilePath(dir);
        if (!DirectoryExists(dir) && (parent.empty() || ForceDirectories(parent)))
            ::mkdir(dir.c_str(), PipeDirectoryMode);
        return configured;
    }
    if (MakePipeDirectory(DefaultPipeDirectory))
        return DefaultPipeDirectory;
    MakePipeDirectory(FallbackPipeDirectory);
    return FallbackPipeDirectory;
}

std::string ferrix::ExistingPipeDirectory()
{
    const char* configured = std::getenv("NAMEDPIPE_DIR");
    if (configured != nullptr && *configured != '\0')
        return configured;
    return DirectoryExists(DefaultPipeDirectory) ? DefaultPipeDirectory : FallbackPipeDirectory;
}

bool ferrix::NamedPipeSocketPath(const std::string& pipeName, std::string& path)
{
    std::string computer, name;
    if (!ferrix::SplitPipeName(pipeName, computer, name))
        return false;
    if (computer != ".") {
        SetLastPipeError(PIPE_ERROR_REMOTE);
        return false;
    }
    path = ferrix::NamedPipeDirectory() + "/" + name;
    if (path.size() >= sizeof(sockaddr_un::sun_path)) {
        SetLastPipeError(ENAMETOOLONG);
        return false;
    }
    return true;
}

namespace {

// The directory's status, without following a link at its end.
bool DirectoryStatus(const std::string& path, struct stat& st)
{
    // Without a trailing "/", which would make lstat follow a link.
    const std::string dir = path.size() > 1 ? ExcludeTrailingPathDelimiter(path) : path;
    if (::lstat(dir.c_str(), &st) != 0) {
        SetLastPipeError(errno);
        return false;
    }
    return true;
}

bool Unsafe(const std::string& path)
{
    LastUnsafeDirectory = path;
    SetLastPipeError(PIPE_ERROR_UNSAFE_DIRECTORY);
    return false;
}

bool OnlyOwnerWrites(const struct stat& st)
{
    return S_ISDIR(st.st_mode) && (st.st_mode & 022) == 0;
}

}  // namespace

bool ferrix::IsSafePipeDirectory(const std::string& path)
{
    struct stat st {};
    if (!DirectoryStatus(path, st))
        return false;
    return (OnlyOwnerWrites(st) && IsTrustedOwner(st.st_uid)) || Unsafe(path);
}

bool ferrix::IsTrustedPipeDirectory(const std::string& path, uid_t& owner)
{
    struct stat st {};
    if (!DirectoryStatus(path, st))
        return false;
    owner = st.st_uid;
    if (!OnlyOwnerWrites(st))
        return Unsafe(path);
    if (IsTrustedOwner(st.st_uid))
        return true;
    struct stat parent {};
    const std::string parentPath = ExtractFilePath(path.size() > 1 ? ExcludeTrailingPathDelimiter(path) : path);
    return (!parentPath.empty() && ::lstat(parentPath.c_str(), &parent) == 0 && OnlyOwnerWrites(parent) &&
            parent.st_uid == 0) ||
           Unsafe(path);
}
