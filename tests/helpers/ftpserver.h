// A real FTP server for the tests: scripts/ftpserver.py (pyftpdlib) run by /usr/bin/python3 on a
// free loopback port, with its accounts' home directory in a TempDir. Passive and active mode work.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "testkit.h"

struct FtpAccount {
    std::string Name;
    std::string Password;
    std::string Permissions = "elradfmwMT";  // pyftpdlib's letters; "elr" reads only
};

class FtpServer {
public:
    // Starts the server (raises std::runtime_error when it does not come up within 10 s). Every
    // account shares the home directory; the first is the one User() and Password() name. The
    // server listens on host (a loopback address) and port (0: a free one).
    explicit FtpServer(std::vector<FtpAccount> accounts = {{"ferrix", "secret"}}, std::string host = "127.0.0.1",
                       int port = 0);
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    const std::string& Host() const { return HostAddress; }
    int Port() const { return ListenPort; }
    const std::string& User() const { return Accounts.front().Name; }
    const std::string& Password() const { return Accounts.front().Password; }
    const std::string& Home() const { return HomeDir; }
    // The local path of a server path ("/a/b" is Home() + "/a/b").
    std::string LocalPath(const std::string& remotePath) const;

    // The command lines the server received, from every session, since the start or the last
    // ClearCommands ("USER ferrix", "CWD /a", ...). A command is recorded before it is answered.
    std::vector<std::string> Commands() const;
    void ClearCommands();
    // The arguments of the received commands of one verb, in order ("STOR": the names stored).
    std::vector<std::string> Arguments(const std::string& verb) const;
    // pyftpdlib's own log (every command and reply).
    std::string Log() const;

    // Kills the server: its connections drop at once.
    void Stop();
    // Starts it again on the same port.
    void Restart();
    // Freezes the server (SIGSTOP): connections stay open but nothing is answered; Resume thaws it.
    void Pause();
    void Resume();
    bool Running() const { return Pid > 0; }

private:
    void Start(int port);

    TempDir Dir;
    std::string HomeDir;
    std::string CommandLogPath;
    std::string ServerLogPath;
    std::vector<FtpAccount> Accounts;
    std::string HostAddress;
    int ListenPort = 0;
    pid_t Pid = -1;
    std::size_t CommandsFrom = 0;
};
