// The server's side of named pipes, in the shape the pipe server expects of the Windows pipe API.
//
// A pipe "\\.\pipe\NAME" is a Unix domain socket of type SOCK_SEQPACKET (message boundaries kept)
// in the pipe directory (pipename.h). One listening socket (TNamedPipe) serves the pipe; each
// server instance (TNamedPipeInstance) serves one accepted connection at a time. A client that
// finds no instance listening is refused at once, as a Windows client with the no-wait time-out
// finds every instance busy. The client's call is in pipeclient.h.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/files/filedescriptor.h"
#include "platform/namedpipe/pipename.h"

// Who may use a pipe: the permission bits of its socket file, whether only the server's own user
// and root may connect, and how many instances one other user may hold at once (0: no limit; with
// a limit, other users together also leave one instance free), so that no such user can keep root
// and the server's own user out. Both are checked with the
// peer's credentials when a client is accepted.
struct TPipeSecurityDescriptor {
    mode_t SocketMode = 0;
    bool OwnerAndRootOnly = false;
    int MaxClientsPerUser = 0;
};

// A pipe created without security attributes (or with no descriptor) keeps the socket mode the
// process's umask gives and admits every client that can open the socket.
struct TSecurityAttributes {
    uint32_t Length = 0;
    const TPipeSecurityDescriptor* SecurityDescriptor = nullptr;
    bool InheritHandle = false;
};

class TNamedPipe;
class TNamedPipeInstance;

constexpr size_t MAXIMUM_WAIT_OBJECTS = 65;
constexpr int WAIT_TIMEOUT = 258;  // WaitForAnyObject's result when its time-out passed
using TReadyHandles = std::bitset<MAXIMUM_WAIT_OBJECTS>;

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
    friend int WaitForAnyObject(std::span<TWaitHandle* const> handles, int timeoutMs, TReadyHandles* ready);

    int Fd = -1;
    short Events = 0;
    bool Signalled = false;           // an operation completed at once, or the event was set by hand
    const TNamedPipe* Pipe = nullptr;  // the pipe of an instance
    bool WaitsForClient = false;      // the instance listens on its pipe
};

// Waits until one of the handles is signalled and returns the lowest such index; WAIT_TIMEOUT
// when timeoutMs (-1: none) passes first; -1 on failure (last error set). With ready given, it
// receives every handle found signalled in the same look. While none of the handles listens on a
// pipe of the set, clients arriving on that pipe are refused, so that they fail at once instead
// of waiting.
int WaitForAnyObject(std::span<TWaitHandle* const> handles, int timeoutMs = -1, TReadyHandles* ready = nullptr);

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
    int Fd() const { return Descriptor ? Descriptor->Get() : -1; }

    std::optional<ferrix::TFileDescriptor> Descriptor;
    TWaitHandle Wait;
};

// The pipe: its listening socket, shared by the server's instances.
class TNamedPipe {
public:
    TNamedPipe() = default;
    ~TNamedPipe();
    TNamedPipe(const TNamedPipe&) = delete;
    TNamedPipe& operator=(const TNamedPipe&) = delete;

    // Creates the socket of a local pipe name in a safe pipe directory (else
    // PIPE_ERROR_UNSAFE_DIRECTORY), with the descriptor's socket mode set before any client can
    // connect. What is found at the socket's path: an entry of another user (left from when the
    // directory was open to all) is removed; a socket left behind by a server of ours that ended
    // is replaced; a pipe that a running server serves, and anything else, is kept (EADDRINUSE).
    bool Create(const std::string& pipeName, const TSecurityAttributes* securityAttributes);
    // Closes the socket and removes its file; clients still waiting are dropped. Its instances stay
    // open until the pipe is destroyed, which closes them.
    void Close();
    bool Created() const { return Descriptor.has_value(); }

private:
    friend class TNamedPipeInstance;
    friend int WaitForAnyObject(std::span<TWaitHandle* const> handles, int timeoutMs, TReadyHandles* ready);

    enum class TAccept { Connected, NoClient, Refused, Failed };
    // A client the pipe does not admit is closed at once (Refused, last error set): another
    // user's on an owner-only pipe, or one more of a user who holds MaxClientsPerUser instances.
    // The client sees the end of the pipe, as when every instance is busy.
    TAccept Accept(int& client, uid_t& peerUid) const;
    // Why the accepted client may not take an instance (a last error), or 0; peerUid receives its
    // user where the pipe's rules need it.
    int RefusalOf(int client, uid_t& peerUid) const;
    // How many of the pipe's instances serve a client of the user now.
    int ClientsOf(uid_t uid) const;
    // How many serve a client of a user other than root and the server's own.
    int ClientsOfOtherUsers() const;
    // Accepts and drops every client waiting now; false when accepting fails.
    bool RefuseWaitingClients() const;

    int Fd() const { return Descriptor ? Descriptor->Get() : -1; }

    std::optional<ferrix::TFileDescriptor> Descriptor;  // the listening socket
    std::string Path;
    dev_t Device = 0;
    ino_t Inode = 0;
    bool OwnerAndRootOnly = false;
    int MaxClientsPerUser = 0;
    std::vector<TNamedPipeInstance*> Instances;  // opened on this pipe
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
    // of 0 bytes and a client that closed its end both complete with a count of 0. Without
    // tryNow the read starts pending without looking first (when no message can be there yet).
    TPipeIo ReadFile(void* buffer, uint32_t size, uint32_t& count, bool tryNow = true);
    // Writes one message; buffer must stay valid until the operation is finished.
    TPipeIo WriteFile(const void* buffer, uint32_t size, uint32_t& count);
    // Finishes the pending operation without waiting; Pending while it cannot be finished yet.
    // A client the pipe does not admit fails here: PIPE_ERROR_ACCESS_DENIED for another user on an
    // owner-only pipe, PIPE_ERROR_REFUSED for a user who holds all the instances one user may.
    TPipeIo GetOverlappedResult(uint32_t& count);
    void SetEvent();
    // The operation completed at once (or SetEvent): the wait would return the instance at once.
    bool Signalled() const { return Wait.Signalled; }
    void CancelIo();
    // Closes the client connection (the client sees the end of the pipe).
    void DisconnectNamedPipe();
    void Close();
    TWaitHandle* Event() { return &Wait; }

private:
    friend class TNamedPipe;
    enum class TOperation { None, Connect, Read, Write };
    TPipeIo DoAccept();
    TPipeIo DoRead(uint32_t& count);
    TPipeIo DoWrite(uint32_t& count);
    // A read or write of size bytes with the buffer set: done at once, pending or failed.
    TPipeIo StartTransfer(TOperation operation, uint32_t size, uint32_t& count);
    void StartOperation(TOperation operation);
    void Complete(TPipeIo result);

    int Fd() const { return Connection ? Connection->Get() : -1; }

    TNamedPipe* Pipe = nullptr;
    std::optional<ferrix::TFileDescriptor> Connection;  // the client's connection
    uid_t PeerUid = static_cast<uid_t>(-1);              // its user, where the pipe asked
    TOperation Operation = TOperation::None;
    void* ReadBuffer = nullptr;
    const void* WriteBuffer = nullptr;
    uint32_t Size = 0;
    TWaitHandle Wait;
};
