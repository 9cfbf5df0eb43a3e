// A small real HTTP proxy for the tests that serves CONNECT only: it opens the requested
// host:port and relays bytes both ways. With an account set it demands Basic proxy credentials
// (407 otherwise). It records the request line of every request. It listens on 127.0.0.1 or on
// another loopback address, so that it can stand apart from the server it relays to.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "netrelay.h"

class HttpConnectTunnel {
public:
    explicit HttpConnectTunnel(std::string user = "", std::string password = "", const std::string& host = "127.0.0.1");

    int Port() const { return Service.Port(); }
    // Request lines in order ("CONNECT 127.0.0.1:2121 HTTP/1.1").
    std::vector<std::string> Requests() const;

private:
    void Serve(Poco::Net::StreamSocket client);
    void Record(const std::string& line);

    std::string ExpectedCredentials;  // Base64 of "user:password"; empty: none demanded
    mutable std::mutex Lock;
    std::vector<std::string> Received;
    LoopbackService Service;  // last: stops before the members its threads use
};
