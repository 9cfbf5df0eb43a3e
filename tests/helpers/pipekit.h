// Helpers for the pipe suites: a private pipe directory per test and clients that talk to the
// servers over the real sockets.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "testkit.h"

// A fresh pipe directory for this test: $NAMEDPIPE_DIR points at it while the object lives.
// Other users may reach the sockets in it (mode 0755), as in the shared pipe directory.
class PipeDirectory {
public:
    PipeDirectory();
    ~PipeDirectory();
    const std::string& Path() const { return Dir.Path(); }
    std::string SocketPath(const std::string& name) const { return Dir / name; }

private:
    TempDir Dir;
};

// "\\.\pipe\" + name
std::string LocalPipeName(const std::string& name);

// One CallNamedPipeA exchange with the pipe of a bare name.
struct TPipeReply {
    bool Ok = false;
    int Error = 0;  // GetLastPipeError after a failure
    std::string Answer;
};
TPipeReply CallPipe(const std::string& name, const std::string& request, uint32_t bufferSize = 16384);

// A message with a 28-byte header (keyword, status 0, reserved 0, dataLength) and a payload.
std::string PipeMessage(const std::string& keyword, int32_t dataLength = 0, const std::string& payload = "");
// The 28 bytes of an answer header as the endpoints build it.
std::string AnswerHeader(const std::string& keyword, int32_t status, int32_t dataLength);

int32_t Int32At(const std::string& bytes, size_t offset);
uint32_t UInt32At(const std::string& bytes, size_t offset);
int64_t Int64At(const std::string& bytes, size_t offset);
uint16_t UInt16At(const std::string& bytes, size_t offset);

// A client that keeps its connection for several exchanges, with raw control of each message.
class PipeConnection {
public:
    PipeConnection() = default;
    ~PipeConnection();
    PipeConnection(const PipeConnection&) = delete;
    PipeConnection& operator=(const PipeConnection&) = delete;

    bool Connect(const std::string& name);
    bool Send(const std::string& message);
    // Sends without waiting; false when the connection cannot take the message now.
    bool TrySend(const std::string& message);
    // Whether a message could be sent within the time.
    bool WaitWritable(std::chrono::milliseconds timeout);

    enum class TReceived { Message, Closed, TimedOut };
    // The next message (Message), the end of the connection (Closed), or nothing within 10 s.
    TReceived Receive(std::string& message);
    // One exchange: true with the answer, false when the connection ended or nothing came.
    bool Exchange(const std::string& request, std::string& answer);
    // The server's answers can no longer be delivered: its writes fail.
    void ShutdownReading();
    void Close();

private:
    int Fd = -1;
};

// Runs /usr/bin/python3 as user 65534 (nobody): connects to the socket, sends the request and
// returns "ANSWER <n>" with the answer's length, or "NOANSWER <reason>".
std::string CallPipeAsNobody(const std::string& socketPath, const std::string& request);
