#include "platform/namedpipe/pipeclient.h"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/files/filedescriptor.h"
#include "platform/remote/relayclient.h"

namespace {

using Clock = std::chrono::steady_clock;

// The directory this thread last found safe, and the $NAMEDPIPE_DIR it was found for; looked up
// again after a call that could not connect, so that a call costs no look-up of the directory
// while its pipes answer.
thread_local std::string SafeDirectory;
thread_local std::string SafeDirectoryFor;
thread_local uid_t SafeDirectoryOwner = 0;

// The socket address of a local pipe, in a directory that is safe.
bool LocalSocketAddress(const std::string& name, sockaddr_un& address, socklen_t& length)
{
    const char* configured = std::getenv("NAMEDPIPE_DIR");
    const char* setting = configured != nullptr ? configured : "";
    if (SafeDirectory.empty() || SafeDirectoryFor != setting) {
        const std::string dir = ferrix::ExistingPipeDirectory();
        if (!ferrix::IsTrustedPipeDirectory(dir, SafeDirectoryOwner))
            return false;
        SafeDirectory = dir;
        SafeDirectoryFor = setting;
    }
    const std::string& dir = SafeDirectory;
    const std::string path = dir + "/" + name;
    if (path.size() >= sizeof address.sun_path) {
        SetLastPipeError(ENAMETOOLONG);
        return false;
    }
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
}

// Waits until the socket is ready for the events or the deadline has passed; false on time-out
// (PIPE_ERROR_TIMEOUT) or failure (errno), with the last error set.
bool WaitUntilReady(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd watched{fd, events, 0};
        const int rc = ::poll(&watched, 1, static_cast<int>(left > 0 ? left : 0));
        if (rc > 0)
            return true;
        if (rc == 0) {
            SetLastPipeError(PIPE_ERROR_TIMEOUT);
            return false;
        }
        if (errno != EINTR) {
            SetLastPipeError(errno);
            return false;
        }
    }
}

bool Fail(int error)
{
    SetLastPipeError(error);
    return false;
}

// The server is root, this process's user or the pipe directory's owner. The directory check
// already keeps other users' sockets out; this holds also when the directory was replaced after it
// was last checked.
bool IsTrustedServer(int fd)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return Fail(errno);
    return peer.uid == 0 || peer.uid == SafeDirectoryOwner || peer.uid == ::geteuid() ||
           Fail(PIPE_ERROR_UNTRUSTED_SERVER);
}

// The request as one message; a server without a free instance closes the connection without
// reading it.
bool SendRequest(int fd, const void* buffer, uint32_t size, Clock::time_point deadline)
{
    for (;;) {
        if (::send(fd, buffer, size, MSG_NOSIGNAL) >= 0)
            return true;
        if (errno == EPIPE || errno == ECONNRESET)
            return Fail(PIPE_ERROR_REFUSED);
        if (errno != EAGAIN && errno != EINTR)
            return Fail(errno);
        if (errno == EAGAIN && !WaitUntilReady(fd, POLLOUT, deadline))
            return false;
    }
}

bool ReceiveAnswer(int fd, void* buffer, uint32_t size, uint32_t& bytesRead, Clock::time_point deadline)
{
    for (;;) {
        if (!WaitUntilReady(fd, POLLIN, deadline))
            return false;
        iovec io{buffer, size};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        const ssize_t n = ::recvmsg(fd, &message, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n < 0)
            return Fail(errno == ECONNRESET ? PIPE_ERROR_REFUSED : errno);
        if (n == 0)
            return Fail(PIPE_ERROR_NO_ANSWER);
        if ((message.msg_flags & MSG_TRUNC) != 0) {
            bytesRead = size;
            return Fail(PIPE_ERROR_MORE_DATA);
        }
        bytesRead = static_cast<uint32_t>(n);
        return true;
    }
}

}  // namespace

bool CallNamedPipeA(const std::string& pipeName, const void* inBuffer, uint32_t inSize, void* outBuffer,
                    uint32_t outSize, uint32_t& bytesRead, int answerTimeoutMs)
{
    bytesRead = 0;
    // A pipe of another computer, "\\PC\pipe\NAME", is reached through its relay; any other is
    // one of this computer ("." or its own name).
    std::string pc, localName;
    if (ferrix::SplitRemotePipeName(pipeName, pc, localName))
        return ferrix::RelayCallNamedPipe(pc, localName, inBuffer, inSize, outBuffer, outSize, bytesRead);
    std::string computer, name;
    if (!ferrix::SplitPipeName(pipeName, computer, name))
        return false;
    sockaddr_un address{};
    socklen_t length = 0;
    if (!LocalSocketAddress(name, address, length))
        return false;

    // Non-blocking throughout: connecting never waits (a full queue of waiting clients means every
    // instance is busy), and the answer is waited for with a deadline.
    const ferrix::TFileDescriptor fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid())
        return Fail(errno);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        const int error = errno;
        SafeDirectory.clear();
        return Fail(error == EAGAIN ? PIPE_ERROR_REFUSED : error);
    }
    if (!IsTrustedServer(fd.Get())) {
        SafeDirectory.clear();
        return false;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(answerTimeoutMs);
    if (!SendRequest(fd.Get(), inBuffer, inSize, deadline) ||
        !ReceiveAnswer(fd.Get(), outBuffer, outSize, bytesRead, deadline))
        return false;
    SetLastPipeError(0);
    return true;
}
