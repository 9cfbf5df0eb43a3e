#include "foundation/idftp.h"

#include <Poco/Base64Encoder.h>
#include <Poco/Net/DialogSocket.h>
#include <Poco/Net/FTPClientSession.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketStream.h>
#include <Poco/Net/StreamSocket.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

using Poco::Timespan;
using Poco::Net::FTPClientSession;
using Poco::Net::SocketAddress;
using Poco::Net::StreamSocket;

namespace {

constexpr int DefaultFtpPort = 21;
constexpr std::size_t CopyBufferSize = 256 * 1024;
// Poco's waits need a length: "no limit" becomes thirty days.
constexpr long NoLimitSeconds = 30L * 24 * 3600;
constexpr std::size_t MaxHttpHead = 16384;

Timespan TimeoutOf(int milliseconds)
{
    if (milliseconds <= 0)
        return Timespan(NoLimitSeconds, 0);
    return Timespan(static_cast<Timespan::TimeDiff>(milliseconds) * 1000);
}

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

StreamSocket ConnectTo(const std::string& host, int port, const Timespan& timeout)
{
    if (port <= 0 || port > 65535)
        throw EIdFTPError("invalid port " + std::to_string(port));
    StreamSocket socket;
    socket.connect(SocketAddress(host, static_cast<Poco::UInt16>(port)), timeout);
    socket.setReceiveTimeout(timeout);
    socket.setSendTimeout(timeout);
    socket.setNoDelay(true);
    return socket;
}

int SendSome(StreamSocket& socket, const char* data, std::size_t size)
{
    try {
        return socket.sendBytes(data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
    } catch (const Poco::IOException& e) {
        // A send that runs into the socket's time-out reports it as a would-block error.
        if (e.code() == EAGAIN || e.code() == EWOULDBLOCK)
            throw Poco::TimeoutException();
        throw;
    }
}

void SendAll(StreamSocket& socket, const char* data, std::size_t size)
{
    while (size > 0) {
        const int sent = SendSome(socket, data, size);
        if (sent <= 0)
            throw EIdFTPError("connection closed while sending");
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

// A connection to host:port through the HTTP proxy's CONNECT tunnel.
StreamSocket OpenHttpTunnel(const THttpProxy& proxy, const std::string& host, int port, const Timespan& timeout)
{
    StreamSocket socket = ConnectTo(proxy.Host, proxy.Port, timeout);
    const std::string target = HostPort(host, port);
    std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
    if (!proxy.UserName.empty())
        request += "Proxy-Authorization: Basic " + BasicCredentials(proxy.UserName, proxy.Password) + "\r\n";
    request += "\r\n";
    SendAll(socket, request.data(), request.size());
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
// file can be written straight to its socket, and opens passive data connections through the HTTP
// tunnel when there is one.
class TIdFTP::TSession : public FTPClientSession {
public:
    TSession(const StreamSocket& control, std::optional<THttpProxy> tunnel, std::string serverHost)
        : FTPClientSession(control, false), Tunnel(std::move(tunnel)), ServerHost(std::move(serverHost))
    {
    }
    ~TSession() override { Drop(); }

    int ReceiveReply(std::string& reply) { return _pControlSocket->receiveStatusMessage(reply); }

    void ApplyTimeout(const Timespan& timeout)
    {
        setTimeout(timeout);
        _pControlSocket->setSendTimeout(timeout);
    }

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
        StreamSocket data = Tunnel && getPassive() ? TunnelledDataConnection(command, arg)
                                                   : FTPClientSession::establishDataConnection(command, arg);
        data.setSendTimeout(getTimeout());
        data.setReceiveTimeout(getTimeout());
        Data = data;
        return data;
    }

private:
    StreamSocket TunnelledDataConnection(const std::string& command, const std::string& arg)
    {
        // EPSV names a port on the server the control connection reaches; PASV names an address.
        SocketAddress address;
        std::string host;
        if (UseEpsv && sendEPSV(address)) {
            host = ServerHost;
        } else {
            UseEpsv = false;
            sendPASV(address);
            host = address.host().toString();
        }
        StreamSocket data = OpenHttpTunnel(*Tunnel, host, address.port(), getTimeout());
        std::string reply;
        const int status = sendCommand(command, arg, reply);
        if (!isPositivePreliminary(status))
            throw Poco::Net::FTPException(command + " command failed", reply, status);
        return data;
    }

    std::optional<THttpProxy> Tunnel;
    std::string ServerHost;
    bool UseEpsv = true;
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
    const ferrix::TFileDescriptor file(::open(sourceFile.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) {
        const int error = errno;
        throw EInOutError("Can't open " + sourceFile + ": " + std::strerror(error), error);
    }
    Put(file, sourceFile, destFile);
}

void TIdFTP::Put(const ferrix::TFileDescriptor& source, const std::string& sourceFile, const std::string& destFile)
{
    // The first block is read before STOR: a file that cannot be read sends nothing.
    std::size_t got = ReadBlock(source.Get(), sourceFile);
    try {
        TSession& session = ActiveSession();
        if (session.getPassive() != Passive)
            session.setPassive(Passive);
        session.beginUpload(destFile);
        StreamSocket& data = session.DataConnection();
        for (;;) {
            SendAll(data, CopyBuffer.data(), got);
            if (got < CopyBuffer.size())
                break;
            got = ReadBlock(source.Get(), sourceFile);
        }
        session.CloseDataConnection();
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
        int status = SendCommand("ABOR", "", reply);
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
        SendCommand("QUIT", "", reply);
    } catch (...) {
        DropConnection();
        Fail("Can't quit");
    }
    DropConnection();
}

void TIdFTP::OpenControlConnection()
{
    const Timespan timeout = TimeoutOf(ReadTimeout);
    std::optional<THttpProxy> tunnel;
    StreamSocket control;
    switch (ProxyKind()) {
    case fpcmUserSite:
    case fpcmSite:
    case fpcmOpen:
    case fpcmUserPass:
        control = ConnectTo(ProxySettings.Host, ProxySettings.Port, timeout);
        break;
    case fpcmHttpProxyWithFtp:
        tunnel = THttpProxy{ProxySettings.Host, ProxySettings.Port, ProxySettings.UserName, ProxySettings.Password};
        control = OpenHttpTunnel(*tunnel, Host, Port, timeout);
        break;
    default:  // no proxy, or a transparent one on the way to the server
        control = ConnectTo(Host, Port, timeout);
        break;
    }
    Session = std::make_unique<TSession>(control, std::move(tunnel), Host);
    Session->ApplyTimeout(timeout);
    AppliedTimeout = ReadTimeout;

    std::string welcome;
    int status = Session->ReceiveReply(welcome);
    while (status / 100 == 1)  // "ready in n minutes": the welcome follows
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

int TIdFTP::SendCommand(const std::string& command, const std::string& arg, std::string& reply)
{
    TSession& session = ActiveSession();
    const int status = arg.empty() ? session.sendCommand(command, reply) : session.sendCommand(command, arg, reply);
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
std::size_t TIdFTP::ReadBlock(int fd, const std::string& fileName)
{
    if (CopyBuffer.empty())
        CopyBuffer.resize(CopyBufferSize);
    std::size_t got = 0;
    while (got < CopyBuffer.size()) {
        const ssize_t n = ::read(fd, CopyBuffer.data() + got, CopyBuffer.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            throw EInOutError("Can't read " + fileName + ": " + std::strerror(error), error);
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

TIdFTP::TSession& TIdFTP::ActiveSession()
{
    if (!Session)
        throw EIdFTPError("Not connected.");
    if (AppliedTimeout != ReadTimeout) {
        Session->ApplyTimeout(TimeoutOf(ReadTimeout));
        AppliedTimeout = ReadTimeout;
    }
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
