#include "foundation/idftp.h"

#include <Poco/Base64Encoder.h>
#include <Poco/Net/DNS.h>
#include <Poco/Net/DialogSocket.h>
#include <Poco/Net/FTPClientSession.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketStream.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Net/StreamSocketImpl.h>
#include <Poco/Timestamp.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>
#include <sys/socket.h>

#include "platform/files/filecontent.h"

using Poco::Timespan;
using Poco::Net::FTPClientSession;
using Poco::Net::SocketAddress;
using Poco::Net::StreamSocket;

namespace {

constexpr int DefaultFtpPort = 21;
constexpr std::size_t CopyBufferSize = 256 * 1024;
constexpr std::size_t MaxHttpHead = 16384;
constexpr std::size_t MaxReply = 64 * 1024;
// The longest a socket call blocks before the wait's limits are looked at again.
const Timespan Slice(0, 100000);
// QUIT and ABOR wait at most this long for their reply, also once cancelled: a stop sends both
// (ABOR only while a transfer runs) and must end within a few seconds on a frozen server.
constexpr int ShortWaitMs = 1000;

// Multi-line replies come joined by line feeds; messages are one line.
std::string OneLine(const std::string& text)
{
    std::string line = text;
    std::replace_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return Trim(line);
}

std::string HostPort(const std::string& host, int port)
{
    return host + ":" + std::to_string(port);
}

// A byte 255 in an argument is the Telnet escape (IAC): doubled, it stands for itself.
std::string TelnetEscaped(const std::string& arg)
{
    std::string escaped;
    escaped.reserve(arg.size());
    for (const char c : arg) {
        escaped += c;
        if (c == '\xFF')
            escaped += c;
    }
    return escaped;
}

// A socket call that ran into its time-out or found nothing to do at once.
bool WouldBlock(const Poco::Exception& e)
{
    return dynamic_cast<const Poco::TimeoutException*>(&e) != nullptr || e.code() == EAGAIN ||
           e.code() == EWOULDBLOCK;
}

// One wait on the server, from its start: it ends with the client's read time-out, or when the
// client is cancelled. Cancelled is asked after a slice that brought nothing, and otherwise at most
// once a slice, so that a server that trickles cannot hold the wait either. A short wait (QUIT,
// ABOR) is not cancelled and ends after ShortWaitMs, or the read time-out when that is shorter.
class TWaitLimit {
public:
    explicit TWaitLimit(const TIdFTP& owner, Poco::Timestamp start = {}, bool shortWait = false)
        : Owner(owner), Start(start), Asked(start), ShortWait(shortWait)
    {
    }
    void Restart() { Start.update(); }
    // Raises "cancelled" or the time-out; blocked: the call before waited a whole slice in vain.
    void Check(bool blocked)
    {
        const Poco::Timestamp now;
        if (!ShortWait && Owner.Cancelled && (blocked || now - Asked >= Slice.totalMicroseconds())) {
            Asked = now;
            if (Owner.Cancelled())
                throw EIdFTPError("cancelled");
        }
        const int timeout = LimitMs();
        if (timeout > 0 && now - Start >= static_cast<Poco::Timestamp::TimeDiff>(timeout) * 1000)
            throw Poco::TimeoutException();
    }

private:
    // 0: no limit.
    int LimitMs() const
    {
        if (!ShortWait)
            return Owner.ReadTimeout;
        return Owner.ReadTimeout > 0 ? std::min(Owner.ReadTimeout, ShortWaitMs) : ShortWaitMs;
    }

    const TIdFTP& Owner;
    Poco::Timestamp Start;
    Poco::Timestamp Asked;
    const bool ShortWait;
};

// A connection that carries replies (the control connection, an HTTP tunnel): its calls block for a
// slice at a time, so that a wait ends with its limits. A reply is what arrives after the last send:
// the whole of it must come within the read time-out and hold at most 64 KiB.
class TReplySocketImpl : public Poco::Net::StreamSocketImpl {
public:
    explicit TReplySocketImpl(const TIdFTP& owner) : Owner(owner) {}
    using StreamSocketImpl::receiveBytes;
    using StreamSocketImpl::sendBytes;

    // The wait for a reply starts now (the welcome, the reply at the end of a transfer).
    void StartReply()
    {
        ReplyStart.update();
        ReplyBytes = 0;
    }

    // The next send and the reply to it have a short wait (QUIT, ABOR); any later send has the
    // ordinary one again.
    void ShortWaitForNext() { ShortNext = true; }

    int receiveBytes(void* buffer, int length, int flags) override
    {
        TWaitLimit limit(Owner, ReplyStart, ShortWait);
        for (bool blocked = false;; blocked = true) {
            limit.Check(blocked);
            try {
                const int got = SocketImpl::receiveBytes(buffer, length, flags);
                if ((flags & MSG_PEEK) == 0 && got > 0)
                    CountReply(static_cast<std::size_t>(got));
                return got;
            } catch (const Poco::Exception& e) {
                if (!WouldBlock(e))
                    throw;
            }
        }
    }

    int sendBytes(const void* buffer, int length, int flags) override
    {
        StartReply();
        ShortWait = ShortNext;
        ShortNext = false;
        const char* data = static_cast<const char*>(buffer);
        int sent = 0;
        TWaitLimit limit(Owner, {}, ShortWait);
        while (sent < length) {
            int n = 0;
            try {
                n = SocketImpl::sendBytes(data + sent, length - sent, flags);
            } catch (const Poco::Exception& e) {
                if (!WouldBlock(e))
                    throw;
            }
            if (n > 0) {
                sent += n;
                limit.Restart();
            } else {
                limit.Check(!poll(Slice, SELECT_WRITE));
            }
        }
        return sent;
    }

private:
    void CountReply(std::size_t got)
    {
        ReplyBytes += got;
        if (ReplyBytes > MaxReply)
            throw EIdFTPError("the server's reply is longer than 64 KiB");
    }

    const TIdFTP& Owner;
    Poco::Timestamp ReplyStart;
    std::size_t ReplyBytes = 0;
    bool ShortWait = false;
    bool ShortNext = false;
};

// Connects without blocking for longer than a slice at a time.
void ConnectWithin(StreamSocket& socket, const SocketAddress& address, const TIdFTP& owner)
{
    socket.connectNB(address);
    TWaitLimit limit(owner);
    while (!socket.poll(Slice, Poco::Net::Socket::SELECT_WRITE | Poco::Net::Socket::SELECT_ERROR))
        limit.Check(true);
    if (const int code = socket.impl()->socketError(); code != 0)
        throw EIdFTPError(std::string(std::strerror(code)) + ": " + address.toString());
    socket.setBlocking(true);
}

// A connection to host:port that carries replies.
StreamSocket ConnectTo(const TIdFTP& owner, const std::string& host, int port)
{
    if (port <= 0 || port > 65535)
        throw EIdFTPError("invalid port " + std::to_string(port));
    auto* impl = new TReplySocketImpl(owner);
    StreamSocket socket(impl);
    ConnectWithin(socket, SocketAddress(host, static_cast<Poco::UInt16>(port)), owner);
    socket.setReceiveTimeout(Slice);
    socket.setSendTimeout(Slice);
    socket.setNoDelay(true);
    impl->StartReply();
    return socket;
}

// The bytes sent; 0 when the send would block.
int SendSome(StreamSocket& socket, const char* data, std::size_t size)
{
    try {
        return std::max(0, socket.sendBytes(data, static_cast<int>(std::min<std::size_t>(size, INT_MAX))));
    } catch (const Poco::Exception& e) {
        if (WouldBlock(e))
            return 0;
        throw;
    }
}

// Sends on a data connection that does not block; waits in slices only when the server takes nothing.
void SendAll(StreamSocket& socket, const char* data, std::size_t size, const TIdFTP& owner)
{
    TWaitLimit limit(owner);
    while (size > 0) {
        const int sent = SendSome(socket, data, size);
        if (sent == 0) {
            limit.Check(!socket.poll(Slice, Poco::Net::Socket::SELECT_WRITE));
            continue;
        }
        limit.Restart();
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
}

struct THttpProxy {
    std::string Host;
    int Port = 0;
    std::string UserName;
    std::string Password;
};

std::string BasicCredentials(const std::string& user, const std::string& password)
{
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    encoder.rdbuf()->setLineLength(0);
    encoder << user << ':' << password;
    encoder.close();
    return out.str();
}

// Reads the proxy's answer up to its empty line and leaves what follows (the FTP server's bytes) unread.
std::string ReadHttpHead(StreamSocket& socket)
{
    std::string head;
    char buffer[1024];
    for (;;) {
        const int peeked = socket.receiveBytes(buffer, sizeof buffer, MSG_PEEK);
        if (peeked <= 0)
            throw EIdFTPError("HTTP proxy closed the connection");
        const std::size_t before = head.size();
        head.append(buffer, static_cast<std::size_t>(peeked));
        const std::size_t end = head.find("\r\n\r\n", before >= 3 ? before - 3 : 0);
        const std::size_t take = end == std::string::npos ? static_cast<std::size_t>(peeked) : end + 4 - before;
        socket.receiveBytes(buffer, static_cast<int>(take));
        if (end != std::string::npos) {
            head.resize(end);
            return head;
        }
        if (head.size() > MaxHttpHead)
            throw EIdFTPError("HTTP proxy answer too long");
    }
}

// The addresses of a host: the host itself when it is one, else what the name resolves to.
std::vector<Poco::Net::IPAddress> AddressesOf(const std::string& host)
{
    Poco::Net::IPAddress address;
    if (Poco::Net::IPAddress::tryParse(host, address))
        return {address};
    return Poco::Net::DNS::hostByName(host).addresses();
}

// A connection to host:port through the HTTP proxy's CONNECT tunnel.
StreamSocket OpenHttpTunnel(const TIdFTP& owner, const THttpProxy& proxy, const std::string& host, int port)
{
    StreamSocket socket = ConnectTo(owner, proxy.Host, proxy.Port);
    const std::string target = HostPort(host, port);
    std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
    if (!proxy.UserName.empty())
        request += "Proxy-Authorization: Basic " + BasicCredentials(proxy.UserName, proxy.Password) + "\r\n";
    request += "\r\n";
    socket.sendBytes(request.data(), static_cast<int>(request.size()));
    const std::string head = ReadHttpHead(socket);
    const std::string statusLine = head.substr(0, head.find("\r\n"));
    const std::size_t codeAt = statusLine.find(' ');
    const bool accepted = statusLine.compare(0, 5, "HTTP/") == 0 && codeAt != std::string::npos &&
                          statusLine.compare(codeAt + 1, 1, "2") == 0;
    if (!accepted)
        throw EIdFTPError("HTTP proxy refused CONNECT " + target + ": " + statusLine);
    return socket;
}

}  // namespace

// One control connection with Poco; keeps the data connection of a running upload so that the
// file can be written straight to its socket. Data connections go to, and come only from, the
// server: the peer of the control connection, or through the HTTP tunnel the configured host.
class TIdFTP::TSession : public FTPClientSession {
public:
    TSession(const TIdFTP& owner, const StreamSocket& control, std::optional<THttpProxy> tunnel,
             std::string serverHost)
        : FTPClientSession(control, false), Owner(owner), Tunnel(std::move(tunnel)), ServerHost(std::move(serverHost))
    {
        _pControlSocket->setReceiveTimeout(Slice);  // Poco sets a time-out of its own
    }
    ~TSession() override { Drop(); }

    int ReceiveReply(std::string& reply) { return _pControlSocket->receiveStatusMessage(reply); }

    // Every command of ours goes here, its argument Telnet-escaped. shortWait: QUIT and ABOR, whose
    // send and reply have a short wait of their own that Cancelled does not cut.
    int SendCommand(const std::string& command, const std::string& arg, std::string& reply, bool shortWait = false)
    {
        if (shortWait)
            ReplySocket().ShortWaitForNext();
        return arg.empty() ? sendCommand(command, reply) : sendCommand(command, TelnetEscaped(arg), reply);
    }

    // The wait for the next reply starts now, not at the command before.
    void StartReply() { ReplySocket().StartReply(); }

    // A server speaks unasked only to say goodbye (421) or by closing the connection.
    bool ServerHasClosed() const
    {
        try {
            return _pControlSocket == nullptr ||
                   _pControlSocket->poll(Timespan(0), Poco::Net::Socket::SELECT_READ | Poco::Net::Socket::SELECT_ERROR);
        } catch (const Poco::Exception&) {
            return true;
        }
    }

    StreamSocket& DataConnection()
    {
        if (!Data)
            throw EIdFTPError("no data connection");
        return *Data;
    }

    // Closing our end tells the server the file is complete.
    void CloseDataConnection()
    {
        if (Data)
            Data->close();
        Data.reset();
    }

    // Closes both connections without a word to the server, and frees the upload stream a failed
    // transfer left behind.
    void Drop()
    {
        try {
            CloseDataConnection();
            if (_pControlSocket != nullptr)
                _pControlSocket->close();
        } catch (const Poco::Exception&) {
        }
        delete _pDataStream;
        _pDataStream = nullptr;
    }

protected:
    StreamSocket establishDataConnection(const std::string& command, const std::string& arg) override
    {
        StreamSocket data = !getPassive() ? ActiveDataConnection(command, arg)
                            : Tunnel      ? TunnelledDataConnection(command, arg)
                                          : PassiveDataConnection(command, arg);
        data.setBlocking(false);  // SendAll waits only where a send would block
        Data = data;
        return data;
    }

private:
    // The reply's port on the server's own address: a reply that names another host is not followed.
    StreamSocket PassiveDataConnection(const std::string& command, const std::string& arg)
    {
        const SocketAddress named = sendPassiveCommand();
        StreamSocket data;
        ConnectWithin(data, SocketAddress(_pControlSocket->peerAddress().host(), named.port()), Owner);
        SendTransferCommand(command, arg);
        return data;
    }

    // Only the server may connect: anyone else is turned away and the wait goes on.
    StreamSocket ActiveDataConnection(const std::string& command, const std::string& arg)
    {
        const std::vector<Poco::Net::IPAddress>& server = ServerAddresses();
        Poco::Net::ServerSocket listener(SocketAddress(_pControlSocket->address().host(), 0));
        sendPortCommand(listener.address());
        SendTransferCommand(command, arg);
        TWaitLimit limit(Owner);
        for (;;) {
            if (!listener.poll(Slice, Poco::Net::Socket::SELECT_READ)) {
                limit.Check(true);
                continue;
            }
            limit.Check(false);
            SocketAddress from;
            StreamSocket data = listener.acceptConnection(from);
            if (std::find(server.begin(), server.end(), from.host()) != server.end())
                return data;
            data.close();
        }
    }

    // The reply's port on the configured server host: a PASV reply that names another host is not
    // followed.
    StreamSocket TunnelledDataConnection(const std::string& command, const std::string& arg)
    {
        SocketAddress address;
        if (!UseEpsv || !sendEPSV(address)) {
            UseEpsv = false;
            sendPASV(address);
        }
        StreamSocket data = OpenHttpTunnel(Owner, *Tunnel, ServerHost, address.port());
        SendTransferCommand(command, arg);
        return data;
    }

    void SendTransferCommand(const std::string& command, const std::string& arg)
    {
        std::string reply;
        const int status = SendCommand(command, arg, reply);
        if (!isPositivePreliminary(status))
            throw Poco::Net::FTPException(command + " command failed", reply, status);
    }

    // The addresses an active data connection may come from: the control connection's peer, or
    // through the tunnel (whose peer is the proxy) the configured host's, looked up once.
    const std::vector<Poco::Net::IPAddress>& ServerAddresses()
    {
        if (DataPeers.empty())
            DataPeers = Tunnel ? AddressesOf(ServerHost)
                               : std::vector<Poco::Net::IPAddress>{_pControlSocket->peerAddress().host()};
        return DataPeers;
    }

    TReplySocketImpl& ReplySocket()
    {
        auto* impl = dynamic_cast<TReplySocketImpl*>(_pControlSocket->impl());
        if (impl == nullptr)
            throw EIdFTPError("no control connection");
        return *impl;
    }

    const TIdFTP& Owner;
    std::optional<THttpProxy> Tunnel;
    std::string ServerHost;
    bool UseEpsv = true;
    std::vector<Poco::Net::IPAddress> DataPeers;
    std::optional<StreamSocket> Data;
};

TIdFTP::TIdFTP() = default;

TIdFTP::~TIdFTP() = default;

void TIdFTP::Connect()
{
    if (Connected())
        throw EIdFTPError("Already connected.");
    try {
        OpenControlConnection();
        Logon();
    } catch (...) {
        DropConnection();
        Fail("Can't connect to " + ConnectionName());
    }
}

bool TIdFTP::Connected()
{
    if (Session && Session->ServerHasClosed())
        DropConnection();
    return Session != nullptr;
}

void TIdFTP::ChangeDir(const std::string& path)
{
    try {
        ExpectCompletion("CWD", path);
    } catch (...) {
        Fail("Can't change directory to " + path);
    }
}

void TIdFTP::MakeDir(const std::string& path)
{
    try {
        ExpectCompletion("MKD", path);
    } catch (...) {
        Fail("Can't create directory " + path);
    }
}

void TIdFTP::Put(const std::string& sourceFile, const std::string& destFile)
{
    struct stat st {};
    const ferrix::TFileDescriptor file = ferrix::OpenRegularFile(sourceFile, true, st);
    if (!file.Valid()) {
        const int error = errno;
        throw EInOutError("Can't open " + sourceFile + ": " + std::strerror(error), error);
    }
    Put(file, sourceFile, destFile);
}

void TIdFTP::Put(const ferrix::TFileDescriptor& source, const std::string& sourceFile, const std::string& destFile)
{
    // The first block is read before STOR: a file that cannot be read sends nothing.
    std::size_t got = ReadBlock(source, sourceFile);
    try {
        TSession& session = ActiveSession();
        if (session.getPassive() != Passive)
            session.setPassive(Passive);
        session.beginUpload(destFile);
        StreamSocket& data = session.DataConnection();
        for (;;) {
            SendAll(data, CopyBuffer.data(), got, *this);
            if (got < CopyBuffer.size())
                break;
            got = ReadBlock(source, sourceFile);
        }
        session.CloseDataConnection();
        session.StartReply();
        session.endUpload();
    } catch (...) {
        Fail("Can't store " + sourceFile + " as " + destFile);
    }
}

void TIdFTP::Delete(const std::string& fileName)
{
    try {
        ExpectCompletion("DELE", fileName);
    } catch (...) {
        Fail("Can't delete " + fileName);
    }
}

void TIdFTP::Abort()
{
    try {
        std::string reply;
        int status = SendCommand("ABOR", "", reply, true);
        if (status == 426)  // the transfer was cut; the closing reply follows
            status = Session->ReceiveReply(reply);
        if (status / 100 != 2)
            throw EIdFTPError(status == 0 ? "connection closed by the server" : reply, status);
    } catch (...) {
        Fail("Can't abort transfer");
    }
}

void TIdFTP::Quit()
{
    if (!Session)
        return;
    try {
        std::string reply;
        SendCommand("QUIT", "", reply, true);
    } catch (...) {
        DropConnection();
        Fail("Can't quit");
    }
    DropConnection();
}

void TIdFTP::OpenControlConnection()
{
    std::optional<THttpProxy> tunnel;
    StreamSocket control;
    switch (ProxyKind()) {
    case fpcmUserSite:
    case fpcmSite:
    case fpcmOpen:
    case fpcmUserPass:
        control = ConnectTo(*this, ProxySettings.Host, ProxySettings.Port);
        break;
    case fpcmHttpProxyWithFtp:
        tunnel = THttpProxy{ProxySettings.Host, ProxySettings.Port, ProxySettings.UserName, ProxySettings.Password};
        control = OpenHttpTunnel(*this, *tunnel, Host, Port);
        break;
    default:  // no proxy, or a transparent one on the way to the server
        control = ConnectTo(*this, Host, Port);
        break;
    }
    Session = std::make_unique<TSession>(*this, control, std::move(tunnel), Host);

    std::string welcome;
    int status = Session->ReceiveReply(welcome);
    while (status / 100 == 1)  // "ready in n minutes": the welcome follows, within the same wait
        status = Session->ReceiveReply(welcome);
    if (status / 100 != 2)
        throw EIdFTPError(status == 0 ? "connection closed by the server" : welcome, status);
}

void TIdFTP::Logon()
{
    const TIdFtpProxySettings& proxy = ProxySettings;
    switch (ProxyKind()) {
    case fpcmUserSite:
        if (!proxy.UserName.empty())
            SendLogon(proxy.UserName, proxy.Password, "proxy logon");
        SendLogon(Username + "@" + SiteName(), Password, "logon");
        break;
    case fpcmSite:
    case fpcmOpen:
        SendLogon(proxy.UserName, proxy.Password, "proxy logon");
        SendSiteCommand(ProxyKind() == fpcmSite ? "SITE" : "OPEN");
        SendLogon(Username, Password, "logon");
        break;
    case fpcmUserPass:
        SendLogon(Username + "@" + proxy.UserName + "@" + SiteName(), Password + "@" + proxy.Password, "logon");
        break;
    case fpcmTransparent:
        SendLogon(proxy.UserName, proxy.Password, "proxy logon");
        SendLogon(Username, Password, "logon");
        break;
    default:  // no proxy, or through the HTTP tunnel
        SendLogon(Username, Password, "logon");
        break;
    }
    Session->setFileType(FTPClientSession::TYPE_BINARY);
}

// USER, and PASS only when the server asks for it with 331.
void TIdFTP::SendLogon(const std::string& user, const std::string& password, const std::string& what)
{
    std::string reply;
    int status = SendCommand("USER", user, reply);
    if (status == 331)
        status = SendCommand("PASS", password, reply);
    if (status / 100 != 2)
        throw EIdFTPError(what + " as " + user + " refused: " + reply, status);
}

void TIdFTP::SendSiteCommand(const std::string& command)
{
    std::string reply;
    const int status = SendCommand(command, SiteName(), reply);
    if (status / 100 != 2)
        throw EIdFTPError(command + " " + SiteName() + " refused: " + reply, status);
}

int TIdFTP::SendCommand(const std::string& command, const std::string& arg, std::string& reply, bool shortWait)
{
    const int status = ActiveSession().SendCommand(command, arg, reply, shortWait);
    if (status <= 0)
        throw EIdFTPError("connection closed by the server");
    return status;
}

void TIdFTP::ExpectCompletion(const std::string& command, const std::string& arg)
{
    std::string reply;
    const int status = SendCommand(command, arg, reply);
    if (status / 100 != 2)
        throw EIdFTPError(reply, status);
}

// Reads the next block of the file into the copy buffer; fewer bytes than the buffer holds
// means the end of the file.
std::size_t TIdFTP::ReadBlock(const ferrix::TFileDescriptor& file, const std::string& fileName)
{
    if (CopyBuffer.empty())
        CopyBuffer.resize(CopyBufferSize);
    std::size_t got = 0;
    if (!ferrix::ReadFully(file, CopyBuffer.data(), CopyBuffer.size(), got)) {
        const int error = errno;
        throw EInOutError("Can't read " + fileName + ": " + std::strerror(error), error);
    }
    return got;
}

TIdFTP::TSession& TIdFTP::ActiveSession()
{
    if (!Session)
        throw EIdFTPError("Not connected.");
    return *Session;
}

// The server as the proxy logons name it.
std::string TIdFTP::SiteName() const
{
    return Port == DefaultFtpPort ? Host : HostPort(Host, Port);
}

std::string TIdFTP::ConnectionName() const
{
    std::string name = HostPort(Host, Port);
    if (ProxyKind() != fpcmNone)
        name += " via " + HostPort(ProxySettings.Host, ProxySettings.Port);
    return name;
}

TIdFtpProxyType TIdFTP::ProxyKind() const
{
    return ProxySettings.ProxyType <= fpcmHttpProxyWithFtp ? ProxySettings.ProxyType : fpcmNone;
}

void TIdFTP::DropConnection()
{
    Session.reset();
}

// Turns the failure being handled into EIdFTPError "what: reason". A failure without a reply code
// (or a 421, the server closing) leaves the connection out of step with the server: it is dropped.
void TIdFTP::Fail(const std::string& what)
{
    std::string reason;
    int code = 0;
    try {
        throw;
    } catch (const EIdFTPError& e) {
        reason = e.Reason;
        code = e.ReplyCode;
    } catch (const Poco::Net::FTPException& e) {
        reason = e.message();
        code = e.code();
    } catch (const Poco::Exception& e) {
        reason = e.displayText();
    } catch (const std::exception& e) {
        reason = e.what();
    } catch (...) {
        reason = "unknown error";
    }
    if (code == 0 || code == 421)
        DropConnection();
    reason = OneLine(reason);
    throw EIdFTPError(what + ": " + reason, code, reason);
}
