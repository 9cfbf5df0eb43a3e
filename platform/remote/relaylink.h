// One SSH connection to another PC, running the relay there (see relayproto.h).
//
// The client command is $FERRIX_SSH (default "ssh"), split into words, so that a caller can add
// options such as "-F its-own-config"; the SSH client's own configuration, keys and known hosts
// decide the user and the authentication, and it never asks for a password (BatchMode). On the
// other PC it runs $FERRIX_RELAY (default "ferrix-relay", found on that user's PATH), given to
// the remote shell as it is. Answers are awaited for at most $FERRIX_RELAY_TIMEOUT_MS (default
// 30000) milliseconds.
#pragma once

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/files/filedescriptor.h"

namespace ferrix {

class TRelayLink {
public:
    explicit TRelayLink(const std::string& pc) : Pc(pc) {}
    ~TRelayLink();
    TRelayLink(const TRelayLink&) = delete;
    TRelayLink& operator=(const TRelayLink&) = delete;

    // Sends one request and returns its answer, connecting first when no connection is open. A
    // failure (ssh cannot connect, the relay ends, no answer in time) closes the connection and
    // raises EOSError with a text that says what happened; the next exchange connects again.
    std::string Exchange(const std::string& request);

    bool Connected() const { return Socket != nullptr; }
    // The relay's process id on the other PC, as it said when connected.
    pid_t RelayPid() const { return FRelayPid; }
    // Ends the connection and the ssh process.
    void Close();

    // The command line that reaches pc: the ssh words, its options, pc and the relay command.
    static std::vector<std::string> SshCommand(const std::string& pc);

private:
    void Connect();
    void Handshake();
    void Send(const std::string& request);
    std::string Receive(int timeoutMs);
    void DrainErrors();
    std::string EndedText() const;
    [[noreturn]] void Fail(const std::string& what);

    std::string Pc;
    std::unique_ptr<TFileDescriptor> Socket;  // the ssh process's standard input and output
    std::unique_ptr<TFileDescriptor> Errors;  // its standard error
    pid_t Ssh = -1;
    pid_t FRelayPid = 0;
    std::string Buffer;     // bytes received and not yet taken as a message
    std::string ErrorText;  // the end of what ssh wrote on its standard error
};

}  // namespace ferrix
