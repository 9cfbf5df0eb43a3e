// The FTP client of the service and of the console's connectivity test: the settings and operations
// the system uses of its original client, over Poco's FTPClientSession.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/sysutils.h"
#include "platform/files/filedescriptor.h"

// Proxy logon kinds. The value is the one the settings file's ProxyType holds (0 to 6); any
// other value logs on as fpcmNone.
enum TIdFtpProxyType : uint8_t {
    fpcmNone,              // no proxy
    fpcmUserSite,          // USER user@host at the proxy
    fpcmSite,              // proxy logon, SITE host
    fpcmOpen,              // proxy logon, OPEN host
    fpcmUserPass,          // USER user@proxyuser@host, PASS pass@proxypass
    fpcmTransparent,       // proxy logon on the way to the server, then the server's logon
    fpcmHttpProxyWithFtp,  // HTTP CONNECT tunnel to the server for control and passive data
};

// Files travel as they are (TYPE I).
enum TIdFTPTransferType { ftBinary };

struct TIdFtpProxySettings {
    TIdFtpProxyType ProxyType = fpcmNone;
    std::string Host;
    int Port = 0;
    std::string UserName;
    std::string Password;
};

// A failed FTP operation; the message says what failed and holds the server's reply where there is
// one. ReplyCode is that reply's code; 0 when the connection itself failed, in which case the
// client has dropped the connection and is no longer connected. Reason is the cause alone: the
// server's reply, or the text of the connection's failure.
class EIdFTPError : public Exception {
public:
    explicit EIdFTPError(const std::string& message, int replyCode = 0, std::string reason = "")
        : Exception(message), ReplyCode(replyCode), Reason(reason.empty() ? message : std::move(reason))
    {
    }
    int ReplyCode;
    std::string Reason;
};

class TIdFTP {
public:
    TIdFTP();
    ~TIdFTP();  // drops an open connection without QUIT
    TIdFTP(const TIdFTP&) = delete;
    TIdFTP& operator=(const TIdFTP&) = delete;

    // Settings, read at Connect; Passive and ReadTimeout also apply to a live connection. Data
    // connections go only to the server (passive: the reply's port, whatever address the reply
    // names) and are taken only from it (active). The server is the address the control connection
    // reaches; with kind 6 of ProxySettings, whose tunnel carries control and passive data
    // connections, it is Host: passive ones are tunnelled to Host, active ones come from Host's
    // addresses (looked up once per connection) straight to this side.
    std::string Host;
    int Port = 21;
    bool Passive = false;
    std::string Username;
    std::string Password;
    // Milliseconds for every wait on the server: the connect, a whole reply (with any preliminary
    // replies before it), a send that makes no progress. 0: no limit. A reply longer than 64 KiB
    // fails its command whatever the time.
    int ReadTimeout = 0;
    TIdFTPTransferType TransferType = ftBinary;
    TIdFtpProxySettings ProxySettings;
    // Asked while an operation waits on the server, at least once per 100 ms of waiting; when it
    // answers true the operation fails with "cancelled" and the connection is dropped. A reply
    // already there is taken without asking. Unset: operations wait as long as ReadTimeout lets them.
    // QUIT and ABOR do not ask: they have a short wait of their own, 1 s at most (ReadTimeout when
    // shorter), so that a stop still says goodbye to a healthy server and ends soon on a frozen one.
    std::function<bool()> Cancelled;

    // Opens the control connection and logs on (with the proxy logon of ProxySettings). Raises when
    // already connected; on failure the client stays disconnected.
    void Connect();
    // True while the control connection is open; a connection the server has closed counts as closed.
    bool Connected();
    // Paths and names go as they are, a byte 255 doubled (the Telnet escape), as in every argument
    // sent: user names, passwords, the proxy logons' site names.
    void ChangeDir(const std::string& path);                          // CWD
    void MakeDir(const std::string& path);                            // MKD
    void Put(const std::string& sourceFile, const std::string& destFile);  // STOR, replacing
    // STOR, replacing, of a file opened for reading, from its offset to its end; sourceFile names
    // it in the messages. Raises EInOutError when it cannot be read (nothing is sent when the first
    // read fails), EIdFTPError when the store fails.
    void Put(const ferrix::TFileDescriptor& source, const std::string& sourceFile, const std::string& destFile);
    void Delete(const std::string& fileName);                         // DELE
    void Abort();                                                     // ABOR
    void Quit();  // QUIT and close; closes also when the QUIT fails (and then raises)

private:
    class TSession;

    void OpenControlConnection();
    void Logon();
    void ProxyLogon();
    void SendLogon(const std::string& user, const std::string& password, const std::string& what);
    void SendSiteCommand(const std::string& command);
    // The argument goes Telnet-escaped; shortWait: QUIT and ABOR (see Cancelled).
    int SendCommand(const std::string& command, const std::string& arg, std::string& reply, bool shortWait = false);
    void ExpectCompletion(const std::string& command, const std::string& arg);
    std::size_t ReadBlock(const ferrix::TFileDescriptor& file, const std::string& fileName);
    TSession& ActiveSession();
    std::string SiteName() const;
    std::string ConnectionName() const;
    TIdFtpProxyType ProxyKind() const;
    void DropConnection();
    [[noreturn]] void Fail(const std::string& what);

    std::unique_ptr<TSession> Session;
    std::vector<char> CopyBuffer;
};
