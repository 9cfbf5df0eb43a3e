// A real OpenSSH server on a loopback port for the tests of another PC, with its own host key,
// configuration and authorized keys (UsePAM no), and an SSH client configuration that reaches it
// under host aliases. Sessions get the given variables (SetEnv), so that the relay run there finds
// the test's service manager and pipes. Stopped, with its sessions, by the destructor.
#pragma once

#include <string>
#include <vector>

#include "childproc.h"
#include "testkit.h"

class TSshServer {
public:
    // sessionEnvironment: "NAME=value" entries for every session.
    explicit TSshServer(const std::vector<std::string>& sessionEnvironment);
    ~TSshServer();
    TSshServer(const TSshServer&) = delete;
    TSshServer& operator=(const TSshServer&) = delete;

    // Why sshd cannot run here (not root, not installed); empty when it can.
    static std::string Unavailable();

    // A host alias for user, logging on with the authorized client key; knownHost false leaves the
    // server's host key unknown, authorizedKey false uses a key the server does not accept.
    void AddHost(const std::string& alias, const std::string& user, bool knownHost = true, bool authorizedKey = true);
    // Accepts the client key for user.
    void Authorize(const std::string& user);
    // The client command for FERRIX_SSH: "ssh -F <this configuration>".
    std::string SshCommand() const;
    // A copy of a program that every user may run (for the relay).
    std::string InstallProgram(const std::string& path);
    int Port() const { return FPort; }
    std::string Log() const;

private:
    void WriteClientConfig();

    TempDir Dir;
    int FPort = 0;
    TChild Server;
    std::string HostEntries;
};
