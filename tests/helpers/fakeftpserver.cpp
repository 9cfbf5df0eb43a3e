#include "fakeftpserver.h"

#include <Poco/Net/SocketAddress.h>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <sys/socket.h>
#include <thread>

using Poco::Net::ServerSocket;
using Poco::Net::Socket;
using Poco::Net::SocketAddress;
using Poco::Net::StreamSocket;

namespace {

const Poco::Timespan DataWait(10, 0);

// Without SIGPIPE: the client may be gone.
void SendRaw(StreamSocket& socket, const std::string& text)
{
    if (socket.sendBytes(text.data(), static_cast<int>(text.size()), MSG_NOSIGNAL) != static_cast<int>(text.size()))
        throw Poco::IOException("short send");
}

std::string ReadToEnd(StreamSocket& socket)
{
    socket.setReceiveTimeout(DataWait);
    std::string data;
    char chunk[65536];
    for (int n; (n = socket.receiveBytes(chunk, sizeof chunk)) > 0;)
        data.append(chunk, static_cast<std::size_t>(n));
    return data;
}

// "h1,h2,h3,h4,p1,p2" of PORT and PASV.
std::string HostPortText(const std::string& host, int port)
{
    std::string text = host;
    for (char& c : text)
        if (c == '.')
            c = ',';
    return text + "," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

}  // namespace

FakeFtpServer::FakeFtpServer(FakeFtpSettings settings)
    : Settings(std::move(settings)), Service([this](StreamSocket client) { Serve(client); })
{
}

FakeFtpOutcome FakeFtpServer::Outcome() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Seen;
}

void FakeFtpServer::Serve(StreamSocket client)
{
    Welcome(client);
    LineReader reader(client);
    std::string line;
    while (reader.ReadLine(line)) {
        {
            std::lock_guard<std::mutex> guard(Lock);
            Seen.Commands.push_back(line);
        }
        const std::size_t blank = line.find(' ');
        std::string verb = line.substr(0, blank);
        for (char& c : verb)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        Answer(client, verb, blank == std::string::npos ? "" : line.substr(blank + 1));
        if (verb == "QUIT")
            return;
    }
}

// A welcome that never ends raises once the client has gone.
void FakeFtpServer::Welcome(StreamSocket& client)
{
    switch (Settings.Welcome) {
    case FakeWelcome::EndlessLines:
        for (;;)
            SendRaw(client, "220-" + std::string(200, 'w') + "\r\n");
    case FakeWelcome::Preliminary:
        for (;;) {
            SendRaw(client, "120 ready in a moment\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the pace of this server
        }
    case FakeWelcome::Normal:
        break;
    }
    SendRaw(client, "220 fake FTP server\r\n");
}

void FakeFtpServer::Answer(StreamSocket& client, const std::string& verb, const std::string& arg)
{
    if (verb == "USER") {
        SendRaw(client, "331 password please\r\n");
    } else if (verb == "PASS" || verb == "TYPE" || verb == "CWD" || verb == "MKD" || verb == "DELE") {
        SendRaw(client, "250 done\r\n");
    } else if (verb == "PASV") {
        OpenPassive(client);
    } else if (verb == "PORT") {
        int h[4] = {}, p[2] = {};
        std::sscanf(arg.c_str(), "%d,%d,%d,%d,%d,%d", &h[0], &h[1], &h[2], &h[3], &p[0], &p[1]);
        ActiveHost = std::to_string(h[0]) + "." + std::to_string(h[1]) + "." + std::to_string(h[2]) + "." +
                     std::to_string(h[3]);
        ActivePort = p[0] * 256 + p[1];
        if (!Settings.IntruderHost.empty())
            Intrude(ActiveHost, ActivePort);
        SendRaw(client, "200 PORT ok\r\n");
    } else if (verb == "STOR") {
        Store(client);
    } else if (verb == "QUIT") {
        AnswerClosing(client, "221 bye\r\n");
    } else if (verb == "ABOR") {
        AnswerClosing(client, "226 nothing to abort\r\n");
    } else {
        SendRaw(client, "502 not here\r\n");
    }
}

void FakeFtpServer::AnswerClosing(StreamSocket& client, const std::string& reply)
{
    if (Settings.ClosingReplyMs < 0)
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(Settings.ClosingReplyMs));  // the pace of this server
    SendRaw(client, reply);
}

void FakeFtpServer::OpenPassive(StreamSocket& client)
{
    DataListener = ServerSocket();
    DataListener.bind(SocketAddress("127.0.0.1", 0), true);
    DataListener.listen(4);
    const int port = DataListener.address().port();
    std::string named = "127.0.0.1";
    if (!Settings.PasvHost.empty()) {
        named = Settings.PasvHost;
        Decoy = ServerSocket();
        Decoy.bind(SocketAddress(named, static_cast<Poco::UInt16>(port)), true);
        Decoy.listen(4);
    }
    ActivePort = 0;
    SendRaw(client, "227 Entering Passive Mode (" + HostPortText(named, port) + ")\r\n");
}

void FakeFtpServer::Intrude(const std::string& dataHost, int dataPort)
{
    Intruder = StreamSocket();
    Intruder.impl()->bind(SocketAddress(Settings.IntruderHost, 0), false);
    Intruder.connect(SocketAddress(dataHost, static_cast<Poco::UInt16>(dataPort)), DataWait);
}

void FakeFtpServer::Store(StreamSocket& client)
{
    SendRaw(client, "150 send it\r\n");
    StreamSocket data;
    if (ActivePort != 0) {
        data = Service.ConnectUpstream(ActiveHost, ActivePort);
    } else {
        if (!DataListener.poll(DataWait, Socket::SELECT_READ))
            throw Poco::TimeoutException("no data connection");
        data = DataListener.acceptConnection();
    }
    if (Intruder.impl()->initialized()) {
        std::string got;
        try {
            got = ReadToEnd(Intruder);
        } catch (const Poco::Exception&) {  // reset: closed all the same
        }
        std::lock_guard<std::mutex> guard(Lock);
        Seen.IntruderReceived = got;
    }
    const std::string stored = ReadToEnd(data);
    {
        std::lock_guard<std::mutex> guard(Lock);
        Seen.Stored = stored;
        Seen.DecoyReached = Decoy.impl()->initialized() && Decoy.poll(Poco::Timespan(0), Socket::SELECT_READ);
    }
    SendRaw(client, "226 stored\r\n");
}
