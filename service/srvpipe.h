// TPipeServer: one thread serving every instance of a named pipe with a single wait. A client
// connects, writes a request message, reads the answer, and may send the next request or go.
// Each request goes to HandleRequest; the server counts connections, requests, answers, bytes
// and errors in TPipeStatistics.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "foundation/pipeproto.h"
#include "platform/namedpipe/namedpipe.h"

// Size of the request and the answer buffer of an instance, the longest message served.
constexpr int PipeBufferSize = PipeMessageSize;
constexpr int MaxPipeInstances = 64;
// A client has this long to send its request (from its connection or the last answer), and to
// take an answer that the connection cannot hold; then it is dropped, so that idle clients cannot
// hold every instance of a pipe.
constexpr int PipeClientTimeoutMs = 5000;

// Built at program start by InitPipeSecurity: every user may connect (a user other than root and
// the service's own to at most 2 instances at once)...
extern TSecurityAttributes PipeSecurityAttributes;
// ...or only the server's own user and root (the settings pipe).
extern TSecurityAttributes OwnerPipeSecurityAttributes;
void InitPipeSecurity();

// An event of a pipe server: assigned by the owner's thread, raised on the server's thread. The
// handler runs under the event's lock, so once it is cleared (assigned nullptr) it is not running
// and will not run again; clear it without holding a lock that the handler takes.
template <class... Args>
class TPipeServerEvent {
public:
    using THandler = std::function<void(Args...)>;

    TPipeServerEvent& operator=(THandler handler)
    {
        std::lock_guard<std::mutex> guard(Lock);
        Handler = std::move(handler);
        return *this;
    }
    // Runs the handler when one is assigned; returns whether one was.
    bool Raise(Args... args)
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (!Handler)
            return false;
        Handler(args...);
        return true;
    }

private:
    std::mutex Lock;
    THandler Handler;
};

// One pipe instance and the exchange it serves.
struct TPipeInstance {
    TNamedPipeInstance Pipe;  // the connection and its current operation
    std::array<uint8_t, PipeBufferSize> Request{};
    uint32_t RequestLength = 0;
    uint32_t RequestFilled = 0;  // bytes of Request that the last read may have written
    std::array<uint8_t, PipeBufferSize> Answer{};
    int AnswerLength = 0;
    uint8_t State = 0;  // 0 connecting, 1 reading, 2 writing
    bool PendingIo = false;
    bool Answered = false;  // the last operation wrote an answer: the next request cannot be there yet
    std::chrono::steady_clock::time_point Deadline{};  // of a pending read or write
};

class TPipeServer {
public:
    // Starts serving "\\.\pipe\" + pipeName at once with min(maxInstances, 64) instances.
    // Raises EOSError ("Failed to create pipe instance: ...") when the pipe cannot be created, for
    // example because another server already serves the name.
    TPipeServer(const std::string& pipeName, int maxInstances, const TSecurityAttributes* securityAttributes);
    virtual ~TPipeServer();
    TPipeServer(const TPipeServer&) = delete;
    TPipeServer& operator=(const TPipeServer&) = delete;

    // Asks the thread to end and returns at once; safe from any thread.
    void Stop();
    // Waits until the thread has ended (after Stop).
    void WaitFor();

    // Copies the 56 bytes of the statistics; on the server's thread (from HandleRequest), or
    // after the thread has ended.
    void GetStatistics(void* destination) const;

    // Builds the answer to one request; runs on the server's thread. The answer buffer holds the
    // instance's previous answer and answerLength its length. A handler that builds its own
    // answer sets answerLength and useDefaultAnswer := false; otherwise the server answers
    // "ACK <requestLength> bytes hh:nn:ss".
    virtual void HandleRequest(const uint8_t* request, int requestLength, uint8_t* answer, int maxAnswer,
                               int& answerLength, bool& useDefaultAnswer);

    // How long a client may leave a request or an answer pending (PipeClientTimeoutMs unless set).
    void SetClientTimeout(int milliseconds) { ClientTimeoutMs = milliseconds; }

    int InstanceCount() const { return FInstanceCount; }
    const std::string& PipeName() const { return FPipeName; }

protected:
    // For descendants: builds the server without starting it. The descendant starts it with Start
    // as the last step of its constructor and calls StopAndWait first in its destructor, so the
    // thread never calls HandleRequest on a part-built or part-destroyed object.
    struct TDeferredStart {};
    TPipeServer(const std::string& pipeName, int maxInstances, const TSecurityAttributes* securityAttributes,
                TDeferredStart);
    void Start();
    void StopAndWait();

private:
    void Execute();
    void ServeInstance(int index);
    int NextTimeoutMs() const;
    void DropLateClients();
    bool CreateInstances();
    void CloseInstances();
    void ConnectToNewClient(int index);
    bool CompletePendingIo(int index);
    void StartNextIo(int index);
    void DisconnectAndReconnect(int index);
    bool BuildAnswer(int index);

    int FInstanceCount = 0;
    const TSecurityAttributes* SecurityAttributes = nullptr;
    TEvent TerminateEvent;
    std::atomic<bool> Terminated{false};
    std::atomic<int> ClientTimeoutMs{PipeClientTimeoutMs};
    std::string FPipeName;
    TNamedPipe Pipe;
    std::unique_ptr<TPipeInstance[]> Instances;
    std::array<TWaitHandle*, MaxPipeInstances + 1> WaitHandles{};
    std::unique_ptr<TPipeStatistics> Statistics;
    std::thread Thread;
};
