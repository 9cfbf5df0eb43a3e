#include "pipekit.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "foundation/pipeproto.h"
#include "platform/namedpipe/namedpipe.h"
#include "platform/namedpipe/pipeclient.h"

PipeDirectory::PipeDirectory()
{
    ::chmod(Dir.Path().c_str(), 0755);
    ::setenv("NAMEDPIPE_DIR", Dir.Path().c_str(), 1);
}

PipeDirectory::~PipeDirectory()
{
    ::unsetenv("NAMEDPIPE_DIR");
}

std::string LocalPipeName(const std::string& name)
{
    return "\\\\.\\pipe\\" + name;
}

TPipeReply CallPipe(const std::string& name, const std::string& request, uint32_t bufferSize)
{
    TPipeReply reply;
    std::string buffer(bufferSize, '\0');
    uint32_t read = 0;
    reply.Ok = CallNamedPipeA(LocalPipeName(name), request.data(), static_cast<uint32_t>(request.size()), buffer.data(),
                              bufferSize, read);
    reply.Error = reply.Ok ? 0 : GetLastPipeError();
    reply.Answer = buffer.substr(0, read);
    return reply;
}

std::string PipeMessage(const std::string& keyword, int32_t dataLength, const std::string& payload)
{
    return AnswerHeader(keyword, 0, dataLength) + payload;
}

// The keyword is copied as given, up to the field's 16 bytes, so a test can send one without its NUL.
std::string AnswerHeader(const std::string& keyword, int32_t status, int32_t dataLength)
{
    TPipeMessageHeader header;
    std::memcpy(header.Keyword, keyword.data(), std::min(keyword.size(), sizeof header.Keyword));
    header.Status = status;
    header.DataLength = dataLength;
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

namespace {

template <class T>
T ValueAt(const std::string& bytes, size_t offset)
{
    T value{};
    if (offset + sizeof value > bytes.size())
        throw std::out_of_range("field beyond the message");
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

}  // namespace

int32_t Int32At(const std::string& bytes, size_t offset)
{
    return ValueAt<int32_t>(bytes, offset);
}

uint32_t UInt32At(const std::string& bytes, size_t offset)
{
    return ValueAt<uint32_t>(bytes, offset);
}

int64_t Int64At(const std::string& bytes, size_t offset)
{
    return ValueAt<int64_t>(bytes, offset);
}

uint16_t UInt16At(const std::string& bytes, size_t offset)
{
    return ValueAt<uint16_t>(bytes, offset);
}

PipeConnection::~PipeConnection()
{
    Close();
}

bool PipeConnection::Connect(const std::string& name)
{
    Close();
    std::string path;
    if (!ferrix::NamedPipeSocketPath(LocalPipeName(name), path))
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    Fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (Fd >= 0 && ::connect(Fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    Close();
    return false;
}

bool PipeConnection::Send(const std::string& message)
{
    return ::send(Fd, message.data(), message.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(message.size());
}

bool PipeConnection::TrySend(const std::string& message)
{
    return ::send(Fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
           static_cast<ssize_t>(message.size());
}

bool PipeConnection::WaitWritable(std::chrono::milliseconds timeout)
{
    pollfd fd{Fd, POLLOUT, 0};
    return ::poll(&fd, 1, static_cast<int>(timeout.count())) == 1 && (fd.revents & POLLOUT) != 0;
}

PipeConnection::TReceived PipeConnection::Receive(std::string& message)
{
    message.clear();
    pollfd fd{Fd, POLLIN, 0};
    if (::poll(&fd, 1, 10000) != 1)
        return TReceived::TimedOut;
    std::string buffer(70000, '\0');
    const ssize_t n = ::recv(Fd, buffer.data(), buffer.size(), 0);
    if (n <= 0)
        return TReceived::Closed;
    message = buffer.substr(0, static_cast<size_t>(n));
    return TReceived::Message;
}

bool PipeConnection::Exchange(const std::string& request, std::string& answer)
{
    return Send(request) && Receive(answer) == TReceived::Message;
}

void PipeConnection::ShutdownReading()
{
    ::shutdown(Fd, SHUT_RD);
}

void PipeConnection::Close()
{
    if (Fd >= 0)
        ::close(Fd);
    Fd = -1;
}

std::string CallPipeAsNobody(const std::string& socketPath, const std::string& request)
{
    static const char* const Script = R"(import os, socket, sys
os.setgroups([])
os.setgid(65534)
os.setuid(65534)
s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
s.settimeout(10)
try:
    s.connect(sys.argv[1])
    s.send(bytes.fromhex(sys.argv[2]))
    data = s.recv(65536)
    print("ANSWER %d" % len(data) if data else "NOANSWER closed")
except OSError as e:
    print("NOANSWER " + (e.strerror or str(e)))
)";
    TempDir dir;
    WriteTextFile(dir / "client.py", Script);
    std::string hex;
    for (const unsigned char c : request) {
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02x", c);
        hex += byte;
    }
    const std::string command = "/usr/bin/python3 '" + (dir / "client.py") + "' '" + socketPath + "' " + hex + " 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return "NOANSWER popen failed";
    std::string output;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr)
        output += chunk;
    ::pclose(pipe);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
    return output;
}
