// Loopback services for the tests' network peers (FTP proxy, HTTP tunnel): a listener that serves
// each connection on its own thread, a line reader, and a byte relay between two sockets.
#pragma once

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Listens on a free port of a loopback address (127.0.0.1 unless given) and hands each accepted
// connection to the handler on a thread of its own. Stop (also run by the destructor) ends the accepting, shuts down every
// connection the handlers opened or were given, and joins their threads. An owner whose handler
// uses its other members declares the service last, so that it stops first.
class LoopbackService {
public:
    using THandler = std::function<void(Poco::Net::StreamSocket client)>;
    explicit LoopbackService(THandler handler, const std::string& host = "127.0.0.1");
    ~LoopbackService();
    LoopbackService(const LoopbackService&) = delete;
    LoopbackService& operator=(const LoopbackService&) = delete;

    int Port() const { return ListenPort; }
    // Connects to host:port and registers the socket so that Stop shuts it down too.
    Poco::Net::StreamSocket ConnectUpstream(const std::string& host, int port);
    void Stop();

private:
    void AcceptLoop();
    void Track(const Poco::Net::StreamSocket& socket);

    THandler Handler;
    Poco::Net::ServerSocket Listener;
    int ListenPort = 0;
    std::mutex Lock;
    bool Stopping = false;
    std::vector<Poco::Net::StreamSocket> Sockets;
    std::vector<std::thread> Workers;
    std::thread Acceptor;
};

// Reads CR LF (or LF) terminated lines from a socket and keeps what it read beyond the last line.
class LineReader {
public:
    explicit LineReader(Poco::Net::StreamSocket socket) : Socket(std::move(socket)) {}
    // False when the connection ended before a whole line.
    bool ReadLine(std::string& line);
    // Bytes received but not yet handed out as lines.
    std::string TakeRest();

private:
    Poco::Net::StreamSocket Socket;
    std::string Buffer;
};

void SendText(Poco::Net::StreamSocket& socket, const std::string& text);

// Copies bytes both ways until both directions have ended; the end of one direction is passed on
// by shutting down the sending side of the other socket. Each complete line from `client` goes to
// `onClientLine` when it is set.
void Relay(Poco::Net::StreamSocket client, Poco::Net::StreamSocket server,
           const std::function<void(const std::string&)>& onClientLine = {});
