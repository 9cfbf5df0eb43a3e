// Named pipes in the shape the pipe server and the console expect of the Windows pipe API.
//
// A pipe "\\.\pipe\NAME" is a Unix domain socket of type SOCK_SEQPACKET (message boundaries kept)
// at $NAMEDPIPE_DIR/NAME; without the variable the directory is /run/namedpipe where it exists or
// can be created, else /tmp/namedpipe. One listening socket (TNamedPipe) serves the pipe; each
// server instance (TNamedPipeInstance) serves one accepted connection at a time. A client that
// finds no instance listening is refused at once, as a Windows client with the no-wait time-out
// finds every instance busy.
//
// Operations report failures through a per-thread last error (GetLastPipeError): an errno value
// or one of the layer's own codes below; PipeErrorMessage gives its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <sys/types.h>

// The layer's own error codes, beyond the range of errno values.
constexpr int PIPE_ERROR_BAD_NAME = 0x10001;   // not of the form \\.\pipe\NAME or \\PC\pipe\NAME
constexpr int PIPE_ERROR_REMOTE = 0x10002;     // another computer could not be reached
constexpr int PIPE_ERROR_REFUSED = 0x10003;    // every instance busy, or the client not allowed
constexpr int PIPE_ERROR_NO_ANSWER = 0x10004;  // the server closed the connection without an answer
constexpr int PIPE_ERROR_MORE_DATA = 0x10005;  // the answer is longer than the caller's buffer
constexpr int PIPE_ERROR_ACCESS_DENIED = 0x10006;  // a client of a user the pipe does not admit

int GetLastPipeError();
void SetLastPipeError(int code);
// The text of an error code: the layer's own texts, else the system's text for an errno value.
std::string PipeErrorMessage(int code);

// The directory holding the pipes' sockets (see above), created when missing.
std::string NamedPipeDirectory();
// The socket path of a local pipe name "\\.\pipe\NAME"; false (and the last error) otherwise.
bool NamedPipeSocketPath(const std::string& pipeName, std::string& path);

// Who may use a pipe: the permission bits of its socket file, and whether only the server's own
// user and root may connect (checked with the peer's credentials when a client is accepted).
struct TPipeSecurityDescriptor {
    mode_t SocketMode = 0;
    bool OwnerAndRootOnly = false;
};

// A pipe created without security attributes (or with no descriptor) keeps the socket mode the
// process's umask gives and admits every client that can open the socket.
struct TSecurityAttributes {
    uint32_t Length = 0;
    const TPipeSecurityDescriptor* SecurityDescriptor = nullptr;
    bool InheritHandle = false;
};

class TNamedPipe;

// What a wait watches for one object: a manual-reset event, or an instance's current operation
// (its connection becoming readable or writable, or a client arriving on its pipe).
class TWaitHandle {
public:
    TWaitHandle() = default;
    TWaitHandle(const TWaitHandle&) = delete;
    TWaitHandle& operator=(const TWaitHandle&) = delete;

private:
    friend class TEvent;
    friend class TNamedPipeInstance;
    friend int WaitForAnyObject(std::span<TWaitHandle* const> handles);

    int Fd = -1;
    short Events = 0;
    bool Signalled = false;           // an operation completed at once, or the event was set by hand
    const TNamedPipe* Pipe = nullptr;  // the pipe of an instance
    bool WaitsForClient = false;      // the instance listens on its pipe
};

// Waits without a time-out until one of the handles is signalled and returns the lowest such
// index; -1 on failure (last error set). While none of the handles listens on a pipe of the set,
// clients arriving on that pipe are refused, so that they fail at once instead of waiting.
int WaitForAnyObject(std::span<TWaitHandle* const> handles);
constexpr size_t MAXIMUM_WAIT_OBJECTS = 65;

// A manual-reset event, unsignalled when created; once set it stays set.
class TEvent {
public:
    TEvent() = default;
    ~TEvent();
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    bool Create();  // false with the last error set
    void SetEvent();
    bool IsSet() const;
    // Waits until the event is set or the time-out passes; true when set.
    bool WaitFor(int timeoutMs) const;
    TWaitHandle* Handle() { return &Wait; }

private:
    int Fd = -1;
    TWaitHandle Wait;
};

// The pipe: its listening socket, shared by the server's instances.
class TNamedPipe {
public:
    TNamedPipe() = default;
    ~TNamedPipe();
    TNamedPipe(const TNamedPipe&) = delete;
    TNamedPipe& operator=(const TNamedPipe&) = delete;

    // Creates the socket of a local pipe name. A socket file left behind by a server that ended
    // without removing it is replaced; a pipe that a running server serves is not (EADDRINUSE).
    bool Create(const std::string& pipeName, const TSecurityAttributes* securityAttributes);
    // Closes the socket and removes its file; clients still waiting are dropped.
    void Close();
    bool Created() const { return Fd >= 0; }

private:
    friend class TNamedPipeInstance;
    friend int WaitForAnyObject(std::span<TWaitHandle* const> handles);

    enum class TAccept { Connected, NoClient, Refused, Failed };
    TAccept Accept(int& client) const;
    // Accepts and drops every client waiting now; false when accepting fails.
    bool RefuseWaitingClients() const;

    int Fd = -1;
    std::string Path;
    dev_t Device = 0;
    ino_t Inode = 0;
    bool OwnerAndRootOnly = false;
};

// Result of an operation on an instance, as the overlapped calls of the original report it.
enum class TPipeIo {
    Completed,  // done at once (or, for GetOverlappedResult, done now)
    Pending,    // not done yet: the instance's wait handle signals when it can be finished
    Failed,     // last error set
    Refused,    // ConnectNamedPipe only: a client was turned away; the instance listens on
};

// One server instance of a pipe: serves one client connection at a time.
class TNamedPipeInstance {
public:
    TNamedPipeInstance() = default;
    ~TNamedPipeInstance();
    TNamedPipeInstance(const TNamedPipeInstance&) = delete;
    TNamedPipeInstance& operator=(const TNamedPipeInstance&) = delete;

    void Open(TNamedPipe& pipe);
    bool Opened() const { return Pipe != nullptr; }

    // Listens for a client. Completed: a client was already waiting and is connected now (the
    // wait handle is not signalled for it).
    TPipeIo ConnectNamedPipe();
    // Reads one message. A message longer than size is consumed and fails (EMSGSIZE); a message
    // of 0 bytes and a client that closed its end both complete with a count of 0.
    TPipeIo ReadFile(void* buffer, uint32_t size, uint32_t& count);
    // Writes one message; buffer must stay valid until the operation is finished.
    TPipeIo WriteFile(const void* buffer, uint32_t size, uint32_t& count);
    // Finishes the pending operation without waiting; Pending while it cannot be finished yet.
    // A client refused by the pipe's security fails here with PIPE_ERROR_ACCESS_DENIED.
    TPipeIo GetOverlappedResult(uint32_t& count);
    void SetEvent();
    void CancelIo();
    // Closes the client connection (the client sees the end of the pipe).
    void DisconnectNamedPipe();
    void Close();
    TWaitHandle* Event() { return &Wait; }

private:
    enum class TOperation { None, Connect, Read, Write };
    TPipeIo DoAccept();
    TPipeIo DoRead(uint32_t& count);
    TPipeIo DoWrite(uint32_t& count);
    // A read or write of size bytes with the buffer set: done at once, pending or failed.
    TPipeIo StartTransfer(TOperation operation, uint32_t size, uint32_t& count);
    void StartOperation(TOperation operation);
    void Complete(TPipeIo result);

    TNamedPipe* Pipe = nullptr;
    int Fd = -1;
    TOperation Operation = TOperation::None;
    void* ReadBuffer = nullptr;
    const void* WriteBuffer = nullptr;
    uint32_t Size = 0;
    TWaitHandle Wait;
};

// The console's call: connects to the pipe, writes one request, reads one answer of at most
// outSize bytes and closes. A pipe with no instance listening refuses the call at once. An answer
// longer than outSize fails with PIPE_ERROR_MORE_DATA (bytesRead = outSize, the buffer filled).
// A pipe of another computer ("\\PC\pipe\NAME") is called there through its relay
// (platform/remote); when that computer cannot be reached the call fails with PIPE_ERROR_REMOTE.
bool CallNamedPipeA(const std::string& pipeName, const void* inBuffer, uint32_t inSize, void* outBuffer,
                    uint32_t outSize, uint32_t& bytesRead);
