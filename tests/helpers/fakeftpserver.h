// A scripted hostile FTP server on loopback, for what no real server does on request: a welcome that
// never ends or never comes, a passive reply that names another host, a data connection from an
// intruder before its own, a late or no answer to QUIT and ABOR. Otherwise it answers the logon and what a store needs (EPSV and EPRT are
// refused, so clients fall back to PASV and PORT) and records every command line byte for byte.
#pragma once

#include <Poco/Net/StreamSocket.h>
#include <mutex>
#include <string>
#include <vector>

#include "netrelay.h"

enum class FakeWelcome {
    Normal,          // "220 ..."
    EndlessLines,    // "220-..." lines until the client goes away
    Preliminary,     // a "120 ..." line every 0.5 s, never the welcome
};

struct FakeFtpSettings {
    FakeWelcome Welcome = FakeWelcome::Normal;
    // Passive: the PASV reply names this address with the data port; a decoy listens there on the
    // same port. Empty: the reply names 127.0.0.1.
    std::string PasvHost;
    // Active: on PORT, a connection to the client's data port from this loopback address comes
    // first; what it receives is kept. Empty: none.
    std::string IntruderHost;
    // QUIT and ABOR are answered after this many milliseconds; -1: never (the connection stays open).
    int ClosingReplyMs = 0;
};

// What the fake saw of its client.
struct FakeFtpOutcome {
    std::vector<std::string> Commands;  // the command lines, as sent (without CR LF)
    std::string Stored;                 // the bytes of the last stored file
    bool DecoyReached = false;          // a connection reached the decoy of PasvHost
    // What the intruder's connection received before it was closed; "(open)" while it was not.
    std::string IntruderReceived = "(open)";
};

class FakeFtpServer {
public:
    explicit FakeFtpServer(FakeFtpSettings settings = {});

    int Port() const { return Service.Port(); }
    FakeFtpOutcome Outcome() const;

private:
    void Serve(Poco::Net::StreamSocket client);
    void Welcome(Poco::Net::StreamSocket& client);
    void Answer(Poco::Net::StreamSocket& client, const std::string& verb, const std::string& arg);
    void AnswerClosing(Poco::Net::StreamSocket& client, const std::string& reply);
    void OpenPassive(Poco::Net::StreamSocket& client);
    void Store(Poco::Net::StreamSocket& client);
    void Intrude(const std::string& dataHost, int dataPort);

    const FakeFtpSettings Settings;
    mutable std::mutex Lock;
    FakeFtpOutcome Seen;
    // The dialogue's data side; one session at a time.
    Poco::Net::ServerSocket DataListener;
    Poco::Net::ServerSocket Decoy;
    Poco::Net::StreamSocket Intruder;
    std::string ActiveHost;
    int ActivePort = 0;
    LoopbackService Service;  // last: stops before the members its threads use
};
