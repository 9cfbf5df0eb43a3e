#include "netrelay.h"

#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketAddress.h>

using Poco::Net::ServerSocket;
using Poco::Net::SocketAddress;
using Poco::Net::StreamSocket;

LoopbackService::LoopbackService(THandler handler, const std::string& host) : Handler(std::move(handler))
{
    Listener.bind(SocketAddress(host, 0), true);
    Listener.listen(64);
    ListenPort = Listener.address().port();
    Acceptor = std::thread([this] { AcceptLoop(); });
}

LoopbackService::~LoopbackService()
{
    Stop();
}

void LoopbackService::AcceptLoop()
{
    for (;;) {
        StreamSocket client;
        try {
            client = Listener.acceptConnection();
        } catch (const Poco::Exception&) {
            std::lock_guard<std::mutex> guard(Lock);
            if (Stopping)
                return;
            continue;
        }
        std::lock_guard<std::mutex> guard(Lock);
        if (Stopping)
            return;
        Sockets.push_back(client);
        Workers.emplace_back([this, client] {
            try {
                Handler(client);
            } catch (const std::exception&) {
                // A peer that went away mid-dialogue ends only its own connection.
            }
        });
    }
}

StreamSocket LoopbackService::ConnectUpstream(const std::string& host, int port)
{
    StreamSocket socket;
    socket.connect(SocketAddress(host, static_cast<Poco::UInt16>(port)), Poco::Timespan(5, 0));
    Track(socket);
    return socket;
}

void LoopbackService::Track(const StreamSocket& socket)
{
    std::lock_guard<std::mutex> guard(Lock);
    Sockets.push_back(socket);
}

void LoopbackService::Stop()
{
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (Stopping)
            return;
        Stopping = true;
        try {
            Listener.impl()->shutdown();  // wakes the blocked accept
        } catch (const Poco::Exception&) {
        }
        for (StreamSocket& socket : Sockets) {
            try {
                socket.shutdown();
            } catch (const Poco::Exception&) {
            }
        }
    }
    Acceptor.join();
    for (std::thread& worker : Workers)
        worker.join();
    Listener.close();
}

bool LineReader::ReadLine(std::string& line)
{
    for (;;) {
        const std::size_t end = Buffer.find('\n');
        if (end != std::string::npos) {
            line = Buffer.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            Buffer.erase(0, end + 1);
            return true;
        }
        char chunk[4096];
        const int n = Socket.receiveBytes(chunk, sizeof chunk);
        if (n <= 0)
            return false;
        Buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

std::string LineReader::TakeRest()
{
    std::string rest;
    rest.swap(Buffer);
    return rest;
}

namespace {

void SendBytes(StreamSocket& socket, const char* data, std::size_t size)
{
    std::size_t at = 0;
    while (at < size) {
        const int sent = socket.sendBytes(data + at, static_cast<int>(size - at));
        if (sent <= 0)
            throw Poco::Net::ConnectionResetException("peer closed");
        at += static_cast<std::size_t>(sent);
    }
}

void Pump(StreamSocket from, StreamSocket to, const std::function<void(const std::string&)>& onLine)
{
    std::string pending;
    char chunk[65536];
    try {
        for (;;) {
            const int n = from.receiveBytes(chunk, sizeof chunk);
            if (n <= 0)
                break;
            if (onLine) {  // recorded before the peer can answer it
                pending.append(chunk, static_cast<std::size_t>(n));
                std::size_t end;
                while ((end = pending.find('\n')) != std::string::npos) {
                    std::string line = pending.substr(0, end);
                    if (!line.empty() && line.back() == '\r')
                        line.pop_back();
                    onLine(line);
                    pending.erase(0, end + 1);
                }
            }
            SendBytes(to, chunk, static_cast<std::size_t>(n));
        }
    } catch (const Poco::Exception&) {
        // Either side gone: end this direction.
    }
    try {
        to.shutdownSend();
    } catch (const Poco::Exception&) {
    }
}

}  // namespace

void SendText(StreamSocket& socket, const std::string& text)
{
    SendBytes(socket, text.data(), text.size());
}

void Relay(StreamSocket client, StreamSocket server, const std::function<void(const std::string&)>& onClientLine)
{
    std::thread back([client, server] { Pump(server, client, {}); });
    Pump(client, server, onClientLine);
    back.join();
}
