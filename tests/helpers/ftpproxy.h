// A scripted FTP proxy for the proxy logon kinds 1 to 5 (no real FTP proxy runs here): it answers
// the logon commands of its kind as such a proxy would, checks the proxy account, then connects to
// the server the logon names (kind 5: the configured server behind the transparent proxy) and
// relays the rest of the session both ways. It records every command line the client sends.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "netrelay.h"

struct ScriptedFtpProxySettings {
    int Kind = 1;              // the client's proxy logon kind, 1 to 5
    std::string User;          // the proxy account
    std::string Password;
    bool AskPassword = true;   // false: USER of the proxy account is answered 230 at once
    std::string ServerHost;    // kind 5 only: the server behind the proxy
    int ServerPort = 0;
};

class ScriptedFtpProxy {
public:
    explicit ScriptedFtpProxy(ScriptedFtpProxySettings settings);

    int Port() const { return Service.Port(); }
    // Command lines from the client, in order, over every session.
    std::vector<std::string> Commands() const;

private:
    void Serve(Poco::Net::StreamSocket client);
    bool NeedsProxyLogon() const;
    bool ConnectToSite(const std::string& site, Poco::Net::StreamSocket& client, Poco::Net::StreamSocket& server);
    void Record(const std::string& line);

    const ScriptedFtpProxySettings Settings;
    mutable std::mutex Lock;
    std::vector<std::string> Received;
    LoopbackService Service;  // last: stops before the members its threads use
};
