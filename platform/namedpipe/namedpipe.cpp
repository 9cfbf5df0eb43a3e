#include "platform/namedpipe/namedpipe.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/files/filedescriptor.h"

namespace {

using Clock = std::chrono::steady_clock;

bool FillAddress(const std::string& path, sockaddr_un& address, socklen_t& length)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        SetLastPipeError(ENAMETOOLONG);
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
}

bool WouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

bool IsOtherUser(uid_t owner)
{
    return owner != 0 && owner != ::geteuid();
}

// A socket file whose server is gone refuses connections.
bool IsStaleSocket(const sockaddr_un& address, socklen_t length)
{
    const ferrix::TFileDescriptor probe(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    return probe.Valid() && ::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 &&
           errno == ECONNREFUSED;
}

// Frees the socket's path for bind: removes an entry of another user (only a directory that was
// once open to all can hold one) and a socket of ours whose server is gone. False with errno
// (EADDRINUSE for what is kept: a served pipe, a file, a link of ours).
bool ClearSocketPath(const std::string& path, const sockaddr_un& address, socklen_t length)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT;
    const bool removable = IsOtherUser(st.st_uid) || (S_ISSOCK(st.st_mode) && IsStaleSocket(address, length));
    if (removable && ::unlink(path.c_str()) == 0)
        return true;
    errno = EADDRINUSE;
    return false;
}

// One receive of a whole message; a message longer than the buffer is consumed and reported.
ssize_t ReceiveMessage(int fd, void* buffer, uint32_t size, int flags, bool& truncated)
{
    iovec io{buffer, size};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    ssize_t n;
    do
        n = ::recvmsg(fd, &message, flags);
    while (n < 0 && errno == EINTR);
    truncated = n >= 0 && (message.msg_flags & MSG_TRUNC) != 0;
    return n;
}

ssize_t SendMessage(int fd, const void* buffer, uint32_t size, int flags)
{
    ssize_t n;
    do
        n = ::send(fd, buffer, size, flags | MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n;
}

// Milliseconds left until the deadline for poll: -1 for none, 0 once it has passed.
int MillisecondsLeft(bool hasDeadline, Clock::time_point deadline)
{
    if (!hasDeadline)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool IsReady(const pollfd& fd, bool signalled)
{
    return signalled || (fd.revents & (fd.events | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace

// ---- waiting

int WaitForAnyObject(std::span<TWaitHandle* const> handles, int timeoutMs, TReadyHandles* ready)
{
    if (handles.size() > MAXIMUM_WAIT_OBJECTS) {
        SetLastPipeError(EINVAL);
        return -1;
    }
    const size_t count = handles.size();
    const bool hasDeadline = timeoutMs >= 0;
    const Clock::time_point deadline = hasDeadline ? Clock::now() + std::chrono::milliseconds(timeoutMs) : Clock::time_point{};
    std::array<pollfd, 2 * MAXIMUM_WAIT_OBJECTS> fds{};
    std::array<const TNamedPipe*, MAXIMUM_WAIT_OBJECTS> pipes{};
    std::array<bool, MAXIMUM_WAIT_OBJECTS> listening{};

    // The lowest signalled handle, and all of them into ready.
    const auto firstReady = [&]() {
        int first = -1;
        if (ready != nullptr)
            ready->reset();
        for (size_t i = 0; i < count; ++i)
            if (IsReady(fds[i], handles[i]->Signalled)) {
                if (first < 0)
                    first = static_cast<int>(i);
                if (ready == nullptr)
                    break;
                ready->set(i);
            }
        return first;
    };

    for (;;) {
        bool anySignalled = false;
        size_t pipeCount = 0;
        for (size_t i = 0; i < count; ++i) {
            const TWaitHandle* h = handles[i];
            fds[i] = {h->Fd, h->Events, 0};
            anySignalled = anySignalled || h->Signalled;
            if (h->Pipe == nullptr || !h->Pipe->Created())
                continue;
            size_t p = 0;
            while (p < pipeCount && pipes[p] != h->Pipe)
                ++p;
            if (p == pipeCount) {
                pipes[pipeCount] = h->Pipe;
                listening[pipeCount++] = false;
            }
            listening[p] = listening[p] || h->WaitsForClient;
        }
        // A pipe on which no instance listens: its arriving clients are watched so they can be refused.
        size_t total = count;
        std::array<const TNamedPipe*, MAXIMUM_WAIT_OBJECTS> refusing{};
        for (size_t p = 0; p < pipeCount; ++p)
            if (!listening[p]) {
                refusing[total - count] = pipes[p];
                fds[total++] = {pipes[p]->Fd(), POLLIN, 0};
            }

        int rc = ::poll(fds.data(), total, anySignalled ? 0 : MillisecondsLeft(hasDeadline, deadline));
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            SetLastPipeError(errno);
            return -1;
        }
        int first = firstReady();
        if (first >= 0)
            return first;
        if (rc == 0)
            return WAIT_TIMEOUT;
        // Only clients of a pipe without a listening instance. A client that has just closed one
        // connection and opened the next must find its old instance free, so look again first.
        rc = ::poll(fds.data(), total, 0);
        if (rc < 0 && errno != EINTR) {
            SetLastPipeError(errno);
            return -1;
        }
        first = firstReady();
        if (first >= 0)
            return first;
        for (size_t k = count; k < total; ++k)
            if (fds[k].revents != 0 && !refusing[k - count]->RefuseWaitingClients())
                return -1;
    }
}

// ---- event

TEvent::~TEvent() = default;

bool TEvent::Create()
{
    Descriptor.emplace(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!Descriptor->Valid()) {
        SetLastPipeError(errno);
        Descriptor.reset();
        return false;
    }
    Wait.Fd = Fd();
    Wait.Events = POLLIN;
    return true;
}

void TEvent::SetEvent()
{
    const uint64_t one = 1;
    // A set event stays readable; a full counter (never reached) changes nothing.
    [[maybe_unused]] const ssize_t n = ::write(Fd(), &one, sizeof one);
}

bool TEvent::IsSet() const
{
    return WaitFor(0);
}

bool TEvent::WaitFor(int timeoutMs) const
{
    pollfd fd{Fd(), POLLIN, 0};
    return ::poll(&fd, 1, timeoutMs) == 1;
}

// ---- pipe

TNamedPipe::~TNamedPipe()
{
    while (!Instances.empty())
        Instances.back()->Close();
    Close();
}

bool TNamedPipe::Create(const std::string& pipeName, const TSecurityAttributes* securityAttributes)
{
    Close();
    std::string path;
    sockaddr_un address{};
    socklen_t length = 0;
    if (!ferrix::NamedPipeSocketPath(pipeName, path) || !ferrix::IsSafePipeDirectory(path.substr(0, path.rfind('/'))) ||
        !FillAddress(path, address, length))
        return false;
    const TPipeSecurityDescriptor* descriptor = securityAttributes != nullptr ? securityAttributes->SecurityDescriptor : nullptr;

    Descriptor.emplace(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const int fd = Fd();
    const auto fail = [&](bool bound) {
        const int error = errno;
        if (bound)
            ::unlink(path.c_str());
        Descriptor.reset();
        SetLastPipeError(error);
        return false;
    };
    if (fd < 0)
        return fail(false);
    if (!ClearSocketPath(path, address, length) || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0)
        return fail(false);
    // Only root and this user may change the directory, so the path still names the new socket;
    // the mode is set without following a link all the same, and before listen, so that no client
    // connects under the mode the umask gave.
    if (descriptor != nullptr && ::fchmodat(AT_FDCWD, path.c_str(), descriptor->SocketMode, AT_SYMLINK_NOFOLLOW) != 0)
        return fail(true);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || ::listen(fd, SOMAXCONN) != 0)
        return fail(true);
    Path = path;
    Device = st.st_dev;
    Inode = st.st_ino;
    OwnerAndRootOnly = descriptor != nullptr && descriptor->OwnerAndRootOnly;
    MaxClientsPerUser = descriptor != nullptr ? descriptor->MaxClientsPerUser : 0;
    return true;
}

void TNamedPipe::Close()
{
    if (!Descriptor)
        return;
    Descriptor.reset();
    // Remove the socket file unless another server has put its own there meanwhile.
    struct stat st {};
    if (::lstat(Path.c_str(), &st) == 0 && st.st_dev == Device && st.st_ino == Inode)
        ::unlink(Path.c_str());
}

TNamedPipe::TAccept TNamedPipe::Accept(int& client, uid_t& peerUid) const
{
    client = ::accept4(Fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) {
        if (WouldBlock(errno) || errno == EINTR || errno == ECONNABORTED)
            return TAccept::NoClient;
        SetLastPipeError(errno);
        return TAccept::Failed;
    }
    const int refusal = RefusalOf(client, peerUid);
    if (refusal != 0) {
        ferrix::TFileDescriptor refused(client);
        client = -1;
        SetLastPipeError(refusal);
        return TAccept::Refused;
    }
    return TAccept::Connected;
}

int TNamedPipe::RefusalOf(int client, uid_t& peerUid) const
{
    peerUid = static_cast<uid_t>(-1);
    if (!OwnerAndRootOnly && MaxClientsPerUser <= 0)
        return 0;
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return PIPE_ERROR_ACCESS_DENIED;
    peerUid = peer.uid;
    if (peer.uid == 0 || peer.uid == ::geteuid())
        return 0;
    if (OwnerAndRootOnly)
        return PIPE_ERROR_ACCESS_DENIED;
    if (MaxClientsPerUser <= 0)
        return 0;
    // One instance stays free for root and the server's own user, whatever other users hold.
    const bool userFull = ClientsOf(peer.uid) >= MaxClientsPerUser;
    const bool othersFull = ClientsOfOtherUsers() >= static_cast<int>(Instances.size()) - 1;
    return userFull || othersFull ? PIPE_ERROR_REFUSED : 0;
}

int TNamedPipe::ClientsOf(uid_t uid) const
{
    int count = 0;
    for (const TNamedPipeInstance* instance : Instances)
        if (instance->Connection && instance->PeerUid == uid)
            ++count;
    return count;
}

int TNamedPipe::ClientsOfOtherUsers() const
{
    int count = 0;
    for (const TNamedPipeInstance* instance : Instances)
        if (instance->Connection && instance->PeerUid != 0 && instance->PeerUid != ::geteuid())
            ++count;
    return count;
}

bool TNamedPipe::RefuseWaitingClients() const
{
    for (;;) {
        const ferrix::TFileDescriptor client(::accept4(Fd(), nullptr, nullptr, SOCK_CLOEXEC));
        if (client.Valid())
            continue;
        if (WouldBlock(errno) || errno == ECONNABORTED)
            return true;
        if (errno != EINTR) {
            SetLastPipeError(errno);
            return false;
        }
    }
}

// ---- instance

TNamedPipeInstance::~TNamedPipeInstance()
{
    Close();
}

void TNamedPipeInstance::Open(TNamedPipe& pipe)
{
    Close();
    Pipe = &pipe;
    Wait.Pipe = &pipe;
    pipe.Instances.push_back(this);
}

void TNamedPipeInstance::StartOperation(TOperation operation)
{
    Operation = operation;
    Wait.Signalled = false;
    Wait.WaitsForClient = operation == TOperation::Connect;
    switch (operation) {
    case TOperation::Connect:
        Wait.Fd = Pipe->Fd();
        Wait.Events = POLLIN;
        break;
    case TOperation::Read:
        Wait.Fd = Fd();
        Wait.Events = POLLIN;
        break;
    case TOperation::Write:
        Wait.Fd = Fd();
        Wait.Events = POLLOUT;
        break;
    case TOperation::None:
        Wait.Fd = -1;
        Wait.Events = 0;
        break;
    }
}

// An operation that is finished no longer watches anything.
void TNamedPipeInstance::Complete(TPipeIo result)
{
    if (result == TPipeIo::Pending)
        return;
    const bool signalled = Wait.Signalled;
    StartOperation(TOperation::None);
    Wait.Signalled = signalled;
}

TPipeIo TNamedPipeInstance::DoAccept()
{
    int client = -1;
    switch (Pipe->Accept(client, PeerUid)) {
    case TNamedPipe::TAccept::Connected:
        Connection.emplace(client);
        Complete(TPipeIo::Completed);
        return TPipeIo::Completed;
    case TNamedPipe::TAccept::NoClient:
        return TPipeIo::Pending;
    case TNamedPipe::TAccept::Refused:
        return TPipeIo::Refused;
    case TNamedPipe::TAccept::Failed:
        break;
    }
    Complete(TPipeIo::Failed);
    return TPipeIo::Failed;
}

TPipeIo TNamedPipeInstance::DoRead(uint32_t& count)
{
    bool truncated = false;
    const ssize_t n = ReceiveMessage(Fd(), ReadBuffer, Size, MSG_DONTWAIT, truncated);
    if (n < 0 && WouldBlock(errno))
        return TPipeIo::Pending;
    if (n < 0 || truncated) {
        SetLastPipeError(n < 0 ? errno : EMSGSIZE);
        Complete(TPipeIo::Failed);
        return TPipeIo::Failed;
    }
    count = static_cast<uint32_t>(n);
    Complete(TPipeIo::Completed);
    return TPipeIo::Completed;
}

TPipeIo TNamedPipeInstance::DoWrite(uint32_t& count)
{
    const ssize_t n = SendMessage(Fd(), WriteBuffer, Size, MSG_DONTWAIT);
    if (n < 0 && WouldBlock(errno))
        return TPipeIo::Pending;
    if (n < 0) {
        SetLastPipeError(errno);
        Complete(TPipeIo::Failed);
        return TPipeIo::Failed;
    }
    count = static_cast<uint32_t>(n);
    Complete(TPipeIo::Completed);
    return TPipeIo::Completed;
}

TPipeIo TNamedPipeInstance::ConnectNamedPipe()
{
    if (Pipe == nullptr || !Pipe->Created() || Connection) {
        SetLastPipeError(Connection ? EISCONN : EBADF);
        return TPipeIo::Failed;
    }
    StartOperation(TOperation::Connect);
    return DoAccept();
}

TPipeIo TNamedPipeInstance::ReadFile(void* buffer, uint32_t size, uint32_t& count, bool tryNow)
{
    ReadBuffer = buffer;
    if (tryNow || !Connection)
        return StartTransfer(TOperation::Read, size, count);
    count = 0;
    StartOperation(TOperation::Read);
    Size = size;
    return TPipeIo::Pending;
}

TPipeIo TNamedPipeInstance::WriteFile(const void* buffer, uint32_t size, uint32_t& count)
{
    WriteBuffer = buffer;
    return StartTransfer(TOperation::Write, size, count);
}

TPipeIo TNamedPipeInstance::StartTransfer(TOperation operation, uint32_t size, uint32_t& count)
{
    count = 0;
    if (!Connection) {
        SetLastPipeError(ENOTCONN);
        return TPipeIo::Failed;
    }
    StartOperation(operation);
    Size = size;
    const TPipeIo result = operation == TOperation::Read ? DoRead(count) : DoWrite(count);
    Wait.Signalled = result == TPipeIo::Completed;
    return result;
}

TPipeIo TNamedPipeInstance::GetOverlappedResult(uint32_t& count)
{
    count = 0;
    switch (Operation) {
    case TOperation::Connect: {
        const TPipeIo result = DoAccept();
        if (result != TPipeIo::Refused)
            return result;
        Complete(TPipeIo::Failed);
        return TPipeIo::Failed;
    }
    case TOperation::Read:
        return DoRead(count);
    case TOperation::Write:
        return DoWrite(count);
    case TOperation::None:
        break;
    }
    SetLastPipeError(EINVAL);
    return TPipeIo::Failed;
}

void TNamedPipeInstance::SetEvent()
{
    Wait.Signalled = true;
}

void TNamedPipeInstance::CancelIo()
{
    StartOperation(TOperation::None);
}

void TNamedPipeInstance::DisconnectNamedPipe()
{
    Connection.reset();
    StartOperation(TOperation::None);
}

void TNamedPipeInstance::Close()
{
    DisconnectNamedPipe();
    if (Pipe != nullptr)
        std::erase(Pipe->Instances, this);
    Pipe = nullptr;
    Wait.Pipe = nullptr;
}
