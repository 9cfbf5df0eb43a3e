// One SSH connection to another PC, running the relay there (see relayproto.h).
//
// The client command is $FERRIX_SSH (default "ssh"), split into words, so that a caller can add
// options such as "-F its-own-config"; the SSH client's own configuration, keys and known hosts
// decide the user and the authentication, and it never asks for a password (BatchMode). On the
// other PC it runs $FERRIX_RELAY (default "ferrix-relay", found on that user's PATH), given to
// the remote shell as it is. Answers are awaited for at most $FERRIX_RELAY_TIMEOUT_MS (default
// 30000) milliseconds.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/files/filedescriptor.h"

namespace ferrix {

// How long the relay may take to answer the handshake after ssh has started (ssh's own connect
// time-out is 10 s), and how long Reach waits after a failed try before it connects again.
constexpr int RelayConnectTimeoutMs = 20000;
constexpr int RelayRetryPauseMs = 5000;

// Where a connection stands for a caller that must not wait (TRelayLink::Reach).
enum class TRelayReach { Ready, Connecting, Failed };

class TRelayLink {
public:
    explicit TRelayLink(const std::string& pc) : Pc(pc) {}
    ~TRelayLink();
    TRelayLink(const TRelayLink&) = delete;
    TRelayLink& operator=(const TRelayLink&) = delete;

    // Sends one request and returns its answer. Without an open connection it first connects and
    // waits for the relay's handshake, unless Reach has been called: then it fails at once
    // (ENOTCONN) and leaves the connecting to Reach. A failure (ssh cannot connect, the relay ends
    // or breaks the handshake, no answer in time) closes the connection and raises EOSError with a
    // text that says what happened; the next exchange connects again.
    std::string Exchange(const std::string& request);

    // For a caller that must not wait (a window's thread): starts ssh when no connection is open,
    // or takes what the relay has sent so far, and returns at once. Ready once the relay has
    // answered the handshake; Connecting until then; Failed, with the reason in why, when the try
    // failed or took longer than RelayConnectTimeoutMs: the next try starts only RelayRetryPauseMs
    // after it. From the first call on, Exchange no longer connects by itself.
    TRelayReach Reach(std::string& why);

    // Whether the connection is open and the relay has answered its handshake.
    bool Connected() const { return State == TState::Open; }
    // The relay's process id on the other PC, as it said when connected.
    pid_t RelayPid() const { return FRelayPid; }
    // Ends the connection, a pending one too, and the ssh process (one that does not end at once
    // is killed); forgets a failed try and Reach's mode.
    void Close();

    // The command line that reaches pc: the ssh words, its options, pc and the relay command.
    static std::vector<std::string> SshCommand(const std::string& pc);

private:
    enum class TState { Closed, Connecting, Open };
    using TClock = std::chrono::steady_clock;

    void Connect();
    void CheckHello(const std::string& hello);
    void EndConnection();
    void Send(const std::string& request);
    std::string Receive(int timeoutMs);
    bool ReceiveFor(int waitMs, std::string& body);
    bool TakeMessage(std::string& body);
    void DrainErrors();
    std::string EndedText() const;
    [[noreturn]] void Fail(const std::string& what);

    std::string Pc;
    TState State = TState::Closed;
    std::unique_ptr<TFileDescriptor> Socket;  // the ssh process's standard input and output
    std::unique_ptr<TFileDescriptor> Errors;  // its standard error
    pid_t Ssh = -1;
    pid_t FRelayPid = 0;
    std::string Buffer;     // bytes received and not yet taken as a message
    std::string ErrorText;  // the end of what ssh wrote on its standard error
    bool InBackground = false;         // Reach connects; Exchange does not
    TClock::time_point ConnectBy;      // the end of the pending handshake's time
    TClock::time_point RetryAt;        // no new try before this, after a failed one
    std::string FailureText;           // why the last try failed
};

}  // namespace ferrix
