#include "foundation/idftp.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

#include "fakeftpserver.h"
#include "ftpproxy.h"
#include "ftpserver.h"
#include "httptunnel.h"
#include "testkit.h"

namespace {

testing::AssertionResult Contains(const std::string& text, const std::string& part)
{
    if (text.find(part) != std::string::npos)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\"" << text << "\" lacks \"" << part << "\"";
}

ScriptedFtpProxySettings ProxyOf(TIdFtpProxyType kind, const std::string& user, const std::string& password)
{
    ScriptedFtpProxySettings settings;
    settings.Kind = kind;
    settings.User = user;
    settings.Password = password;
    return settings;
}

// The FTP error the action raises; a test failure naming what succeeded when it raises none.
EIdFTPError FtpErrorOf(const std::function<void()>& action, const char* whatSucceeded)
{
    try {
        action();
    } catch (const EIdFTPError& e) {
        return e;
    }
    ADD_FAILURE() << whatSucceeded;
    return EIdFTPError("no error was raised", -1);
}

void PointAt(TIdFTP& client, const FtpServer& server)
{
    client.Host = server.Host();
    client.Port = server.Port();
    client.Username = server.User();
    client.Password = server.Password();
    client.ReadTimeout = 10000;
}

// Every byte value, CR LF pairs and bare LFs included, so a text-mode transfer would show.
std::string BinaryContent(std::size_t size)
{
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + i / 253) & 0xFF);
    return data;
}

std::size_t CountOf(const std::vector<std::string>& lines, const std::string& line)
{
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

bool HasPrefix(const std::vector<std::string>& lines, const std::string& prefix)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

class IdFtpTransfer : public testing::TestWithParam<bool> {};

TEST_P(IdFtpTransfer, StoresReplacesAndDeletesOverOneConnection)
{
    FtpServer server;
    TempDir local;
    const std::string big = BinaryContent(3 * 1024 * 1024 + 17);  // several copy blocks
    WriteTextFile(local / "big.bin", big);
    WriteTextFile(local / "small.txt", "line1\r\nline2\n");
    WriteTextFile(local / "empty", "");
    TIdFTP client;
    PointAt(client, server);
    client.Passive = GetParam();

    client.Connect();
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER ferrix", "PASS secret", "TYPE I"}));
    client.MakeDir("/d");
    client.ChangeDir("/d");
    client.Put(local / "big.bin", "f.bin");
    EXPECT_EQ(ReadTextFile(server.LocalPath("/d/f.bin")), big);
    client.Put(local / "small.txt", "f.bin");  // replaces, never appends
    EXPECT_EQ(ReadTextFile(server.LocalPath("/d/f.bin")), "line1\r\nline2\n");
    client.Put(local / "empty", "empty");
    EXPECT_TRUE(std::filesystem::exists(server.LocalPath("/d/empty")));
    EXPECT_EQ(std::filesystem::file_size(server.LocalPath("/d/empty")), 0u);
    client.Delete("f.bin");
    EXPECT_FALSE(std::filesystem::exists(server.LocalPath("/d/f.bin")));
    client.Quit();
    EXPECT_FALSE(client.Connected());

    const std::vector<std::string> commands = server.Commands();
    EXPECT_EQ(CountOf(commands, "USER ferrix"), 1u);  // one control connection for every file
    EXPECT_EQ(CountOf(commands, "STOR f.bin"), 2u);
    EXPECT_EQ(CountOf(commands, "MKD /d"), 1u);
    EXPECT_EQ(CountOf(commands, "DELE f.bin"), 1u);
    EXPECT_EQ(commands.back(), "QUIT");
    const bool passiveSeen = HasPrefix(commands, "EPSV") || HasPrefix(commands, "PASV");
    const bool activeSeen = HasPrefix(commands, "EPRT") || HasPrefix(commands, "PORT");
    EXPECT_EQ(passiveSeen, GetParam());
    EXPECT_EQ(activeSeen, !GetParam());
}

INSTANTIATE_TEST_SUITE_P(Modes, IdFtpTransfer, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Passive" : "Active"; });

TEST(IdFtpFailures, RefusedCommandsRaiseWithTheServersReplyAndKeepTheConnection)
{
    FtpServer server;
    TempDir local;
    WriteTextFile(local / "a.txt", "a");
    TIdFTP client;
    PointAt(client, server);
    client.Connect();

    {
        const EIdFTPError e = FtpErrorOf([&] { client.ChangeDir("/missing"); },
                                              "CWD into a missing directory succeeded");
        EXPECT_EQ(e.ReplyCode, 550);
        EXPECT_TRUE(Contains(e.Message(), "Can't change directory to /missing: 550 "));
    }
    client.MakeDir("/d");
    {
        const EIdFTPError e = FtpErrorOf([&] { client.MakeDir("/d"); }, "MKD of an existing directory succeeded");
        EXPECT_EQ(e.ReplyCode, 550);
        EXPECT_TRUE(Contains(e.Message(), "Can't create directory /d: 550 "));
    }
    {
        const EIdFTPError e = FtpErrorOf([&] { client.Delete("/nothing.txt"); }, "DELE of a missing file succeeded");
        EXPECT_EQ(e.ReplyCode, 550);
        EXPECT_TRUE(Contains(e.Message(), "Can't delete /nothing.txt: 550 "));
    }
    // A local file that cannot be opened or read sends nothing.
    server.ClearCommands();
    EXPECT_THROW(client.Put(local / "gone.txt", "gone.txt"), EInOutError);
    try {
        client.Put(local.Path(), "dir");
        FAIL() << "storing a directory succeeded";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(), "Can't open " + local.Path() + ": Is a directory");
    }
    EXPECT_TRUE(server.Commands().empty());

    ASSERT_TRUE(client.Connected());
    client.ChangeDir("/d");
    client.Put(local / "a.txt", "a.txt");
    EXPECT_EQ(ReadTextFile(server.LocalPath("/d/a.txt")), "a");
}

TEST(IdFtpFailures, StoreRefusedByTheServerLeavesNoFile)
{
    FtpServer server({{"reader", "pw", "elr"}});
    TempDir local;
    WriteTextFile(local / "a.txt", "a");
    TIdFTP client;
    PointAt(client, server);
    client.Passive = true;
    client.Connect();
    {
        const EIdFTPError e = FtpErrorOf([&] { client.Put(local / "a.txt", "a.txt"); },
                                              "STOR without write permission succeeded");
        EXPECT_EQ(e.ReplyCode, 550);
        EXPECT_TRUE(Contains(e.Message(), "Can't store " + (local / "a.txt") + " as a.txt: "));
        EXPECT_TRUE(Contains(e.Message(), "550"));
    }
    EXPECT_FALSE(std::filesystem::exists(server.LocalPath("/a.txt")));
    EXPECT_TRUE(client.Connected());
    client.ChangeDir("/");
}

TEST(IdFtpConnect, WrongPasswordFailsAndLeavesTheClientDisconnected)
{
    FtpServer server;
    TIdFTP client;
    PointAt(client, server);
    client.Password = "wrong";
    {
        const EIdFTPError e = FtpErrorOf([&] { client.Connect(); }, "logon with a wrong password succeeded");
        EXPECT_EQ(e.ReplyCode, 530);
        EXPECT_TRUE(Contains(e.Message(), "Can't connect to 127.0.0.1:" + std::to_string(server.Port())));
        EXPECT_TRUE(Contains(e.Message(), "logon as ferrix refused: 530"));
        EXPECT_FALSE(Contains(e.Message(), "wrong"));
    }
    EXPECT_FALSE(client.Connected());
    client.Password = server.Password();
    client.Connect();
    EXPECT_TRUE(client.Connected());
}

TEST(IdFtpConnect, ClosedPortNotConnectedAndAlreadyConnected)
{
    FtpServer server;
    TIdFTP client;
    PointAt(client, server);
    EXPECT_THROW(client.ChangeDir("/"), EIdFTPError);  // not connected yet
    client.Quit();                                      // nothing to quit
    client.Connect();
    {
        const EIdFTPError e = FtpErrorOf([&] { client.Connect(); }, "a second Connect succeeded");
        EXPECT_EQ(e.Message(), "Already connected.");
    }
    client.ChangeDir("/");  // the first connection still serves
    client.Quit();

    server.Stop();
    {
        const EIdFTPError e = FtpErrorOf([&] { client.Connect(); }, "Connect to a closed port succeeded");
        EXPECT_TRUE(Contains(e.Message(), "Can't connect to 127.0.0.1:" + std::to_string(server.Port()) + ": "));
    }
    EXPECT_FALSE(client.Connected());
    {
        const EIdFTPError e = FtpErrorOf([&] { client.MakeDir("/x"); }, "MKD without a connection succeeded");
        EXPECT_EQ(e.Message(), "Can't create directory /x: Not connected.");
    }
}

TEST(IdFtpConnect, UnknownProxyTypeConnectsDirectlyAndAbortWithoutTransferIsAccepted)
{
    FtpServer server;
    TIdFTP client;
    PointAt(client, server);
    client.ProxySettings.ProxyType = static_cast<TIdFtpProxyType>(9);
    client.ProxySettings.Host = "127.0.0.1";
    client.ProxySettings.Port = 1;
    client.Connect();
    client.Abort();
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER ferrix", "PASS secret", "TYPE I", "ABOR"}));
}

TEST(IdFtpLostServer, StoppedServerFailsTheNextOperationAtOnceAndReconnectWorks)
{
    FtpServer server;
    TempDir local;
    WriteTextFile(local / "a.txt", "a");
    TIdFTP client;
    PointAt(client, server);
    client.ReadTimeout = 60000;
    client.Connect();
    server.Stop();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client.ChangeDir("/"), EIdFTPError);
    EXPECT_LT(SecondsSince(start), 5.0);  // no wait for the read time-out
    EXPECT_FALSE(client.Connected());

    server.Restart();
    client.Connect();
    client.Put(local / "a.txt", "a.txt");
    EXPECT_EQ(ReadTextFile(server.LocalPath("/a.txt")), "a");

    server.Stop();
    EXPECT_TRUE(WaitFor([&] { return !client.Connected(); }));  // seen without an operation
    EXPECT_THROW(client.Put(local / "a.txt", "b.txt"), EIdFTPError);
}

TEST(IdFtpLostServer, FrozenServerRunsIntoTheReadTimeout)
{
    FtpServer server;
    TempDir local;
    WriteTextFile(local / "a.txt", "a");
    TIdFTP client;
    PointAt(client, server);
    client.Passive = true;
    client.Connect();
    client.ReadTimeout = 300;  // applies to the live connection
    server.Pause();
    auto start = std::chrono::steady_clock::now();
    {
        const EIdFTPError e = FtpErrorOf([&] { client.ChangeDir("/"); }, "CWD on a frozen server succeeded");
        EXPECT_EQ(e.ReplyCode, 0);
        EXPECT_TRUE(Contains(e.Message(), "Can't change directory to /: Timeout"));
    }
    EXPECT_GE(SecondsSince(start), 0.25);
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_FALSE(client.Connected());

    // Connecting to the frozen server times out too (the kernel accepts, nobody welcomes).
    start = std::chrono::steady_clock::now();
    EXPECT_THROW(client.Connect(), EIdFTPError);
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_FALSE(client.Connected());

    server.Resume();
    client.ReadTimeout = 10000;
    client.Connect();
    client.Put(local / "a.txt", "a.txt");
    EXPECT_EQ(ReadTextFile(server.LocalPath("/a.txt")), "a");
}

// An endless upload (/dev/zero) that the server leaves in the middle: frozen, the send runs into
// the time-out; killed, the send fails at once. Either way Put raises and the client disconnects.
TEST(IdFtpLostServer, ServerGoneDuringTheDataTransfer)
{
    FtpServer server;
    TIdFTP client;
    PointAt(client, server);
    client.Passive = true;
    for (const bool freeze : {true, false}) {
        client.ReadTimeout = 500;
        client.Connect();
        std::thread stopper([&] {
            WaitFor([&] { return std::filesystem::exists(server.LocalPath("/zero")); });
            if (freeze)
                server.Pause();
            else
                server.Stop();
        });
        const auto start = std::chrono::steady_clock::now();
        try {
            const ferrix::TFileDescriptor zero(::open("/dev/zero", O_RDONLY | O_CLOEXEC));
            client.Put(zero, "/dev/zero", "zero");
            ADD_FAILURE() << "an endless upload ended";
        } catch (const EIdFTPError& e) {
            EXPECT_EQ(e.ReplyCode, 0);
            EXPECT_TRUE(Contains(e.Message(), "Can't store /dev/zero as zero: "));
            if (freeze) {
                EXPECT_TRUE(Contains(e.Message(), ": Timeout"));
            }
        }
        stopper.join();
        EXPECT_LT(SecondsSince(start), 10.0);
        EXPECT_FALSE(client.Connected());
        server.Resume();
        server.Restart();
        std::filesystem::remove(server.LocalPath("/zero"));
    }
}

// Proxy logon kinds 1 to 5 against the scripted proxy, which relays to the real server after the
// logon: the exact commands the proxy receives, and a file stored through it.
struct ProxyCase {
    TIdFtpProxyType Kind;
    bool WithProxyUser;
    std::vector<std::string> Expected;  // "%site" stands for 127.0.0.1:<server port>
};

void PrintTo(const ProxyCase& c, std::ostream* out)
{
    *out << "kind " << int(c.Kind) << (c.WithProxyUser ? " with proxy user" : "");
}

class IdFtpProxyLogon : public testing::TestWithParam<ProxyCase> {};

TEST_P(IdFtpProxyLogon, SendsTheKindsCommandsAndRelaysToTheServer)
{
    const ProxyCase& c = GetParam();
    FtpServer server;
    ScriptedFtpProxySettings settings;
    settings.Kind = c.Kind;
    settings.User = c.WithProxyUser ? "puser" : "";
    settings.Password = c.WithProxyUser ? "ppass" : "";
    settings.ServerHost = server.Host();
    settings.ServerPort = server.Port();
    ScriptedFtpProxy proxy(settings);
    TempDir local;
    WriteTextFile(local / "a.txt", "through the proxy");

    TIdFTP client;
    PointAt(client, server);
    client.Passive = true;
    client.ProxySettings.ProxyType = c.Kind;
    client.ProxySettings.Host = "127.0.0.1";
    client.ProxySettings.Port = proxy.Port();
    client.ProxySettings.UserName = settings.User;
    client.ProxySettings.Password = settings.Password;
    if (c.Kind == fpcmTransparent)
        client.Port = proxy.Port();  // the client believes the proxy is the server
    client.Connect();

    const std::string site = "127.0.0.1:" + std::to_string(server.Port());
    std::vector<std::string> expected;
    for (std::string line : c.Expected) {
        const std::size_t at = line.find("%site");
        if (at != std::string::npos)
            line.replace(at, 5, site);
        expected.push_back(line);
    }
    EXPECT_EQ(proxy.Commands(), expected);
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER ferrix", "PASS secret", "TYPE I"}));

    client.Put(local / "a.txt", "a.txt");
    EXPECT_EQ(ReadTextFile(server.LocalPath("/a.txt")), "through the proxy");
    client.Quit();
    EXPECT_EQ(proxy.Commands().back(), "QUIT");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, IdFtpProxyLogon,
    testing::Values(
        ProxyCase{fpcmUserSite, false, {"USER ferrix@%site", "PASS secret", "TYPE I"}},
        ProxyCase{fpcmUserSite, true, {"USER puser", "PASS ppass", "USER ferrix@%site", "PASS secret", "TYPE I"}},
        ProxyCase{fpcmSite, true, {"USER puser", "PASS ppass", "SITE %site", "USER ferrix", "PASS secret", "TYPE I"}},
        ProxyCase{fpcmOpen, true, {"USER puser", "PASS ppass", "OPEN %site", "USER ferrix", "PASS secret", "TYPE I"}},
        ProxyCase{fpcmUserPass, true, {"USER ferrix@puser@%site", "PASS secret@ppass", "TYPE I"}},
        ProxyCase{fpcmTransparent, true, {"USER puser", "PASS ppass", "USER ferrix", "PASS secret", "TYPE I"}}),
    [](const testing::TestParamInfo<ProxyCase>& info) {
        return "Kind" + std::to_string(info.param.Kind) + (info.param.WithProxyUser ? "WithProxyUser" : "");
    });

TEST(IdFtpProxy, PasswordOnlyWhenAskedFor)
{
    FtpServer server;
    ScriptedFtpProxySettings settings;
    settings.Kind = fpcmSite;
    settings.User = "puser";
    settings.Password = "ppass";
    settings.AskPassword = false;
    ScriptedFtpProxy proxy(settings);
    TIdFTP client;
    PointAt(client, server);
    client.ProxySettings = {fpcmSite, "127.0.0.1", proxy.Port(), "puser", "ppass"};
    client.Connect();
    const std::string site = "127.0.0.1:" + std::to_string(server.Port());
    EXPECT_EQ(proxy.Commands(),
              (std::vector<std::string>{"USER puser", "SITE " + site, "USER ferrix", "PASS secret", "TYPE I"}));
}

TEST(IdFtpProxy, RefusedProxyLogonFailsWithTheProxysReply)
{
    FtpServer server;
    ScriptedFtpProxy proxy(ProxyOf(fpcmSite, "puser", "ppass"));
    TIdFTP client;
    PointAt(client, server);
    client.ProxySettings = {fpcmSite, "127.0.0.1", proxy.Port(), "puser", "wrong"};
    {
        const EIdFTPError e = FtpErrorOf([&] { client.Connect(); }, "a refused proxy logon connected");
        EXPECT_EQ(e.ReplyCode, 530);
        EXPECT_TRUE(Contains(e.Message(), " via 127.0.0.1:" + std::to_string(proxy.Port())));
        EXPECT_TRUE(Contains(e.Message(), "proxy logon as puser refused: 530 scripted proxy"));
    }
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(proxy.Commands(), (std::vector<std::string>{"USER puser", "PASS wrong"}));
    EXPECT_TRUE(server.Commands().empty());
}

TEST(IdFtpProxy, PortTwentyOneIsLeftOutOfTheSiteName)
{
    const std::vector<std::pair<TIdFtpProxyType, std::string>> cases = {
        {fpcmUserSite, "USER ferrix@127.0.0.1"},
        {fpcmSite, "SITE 127.0.0.1"},
        {fpcmOpen, "OPEN 127.0.0.1"},
        {fpcmUserPass, "USER ferrix@puser@127.0.0.1"},
    };
    for (const auto& [kind, expected] : cases) {
        ScriptedFtpProxy proxy(ProxyOf(kind, "puser", "ppass"));
        TIdFTP client;
        client.Host = "127.0.0.1";
        client.Port = 21;
        client.Username = "ferrix";
        client.Password = "secret";
        client.ReadTimeout = 10000;
        client.ProxySettings = {kind, "127.0.0.1", proxy.Port(), "puser", "ppass"};
        try {
            client.Connect();  // whatever answers on port 21 here, the site name is what counts
            client.Quit();
        } catch (const EIdFTPError&) {
        }
        const std::vector<std::string> commands = proxy.Commands();
        EXPECT_NE(std::find(commands.begin(), commands.end(), expected), commands.end()) << "kind " << int(kind);
    }
}

TEST(IdFtpHttpTunnel, ControlAndEveryPassiveDataConnectionGoThroughTheTunnel)
{
    FtpServer server;
    HttpConnectTunnel tunnel("tuser", "tpass");
    TempDir local;
    WriteTextFile(local / "a.txt", "first");
    WriteTextFile(local / "b.txt", BinaryContent(600000));
    TIdFTP client;
    PointAt(client, server);
    client.Passive = true;
    client.ProxySettings = {fpcmHttpProxyWithFtp, "127.0.0.1", tunnel.Port(), "tuser", "tpass"};
    client.Connect();
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER ferrix", "PASS secret", "TYPE I"}));
    client.Put(local / "a.txt", "a.txt");
    client.Put(local / "b.txt", "b.txt");
    EXPECT_EQ(ReadTextFile(server.LocalPath("/a.txt")), "first");
    EXPECT_EQ(ReadTextFile(server.LocalPath("/b.txt")), BinaryContent(600000));

    const std::vector<std::string> requests = tunnel.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0], "CONNECT 127.0.0.1:" + std::to_string(server.Port()) + " HTTP/1.1");
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].rfind("CONNECT 127.0.0.1:", 0), 0u) << requests[i];
        EXPECT_NE(requests[i], requests[0]);
    }
    client.Quit();
}

TEST(IdFtpHttpTunnel, RefusedCredentialsFailTheConnect)
{
    FtpServer server;
    HttpConnectTunnel tunnel("tuser", "tpass");
    TIdFTP client;
    PointAt(client, server);
    client.ProxySettings = {fpcmHttpProxyWithFtp, "127.0.0.1", tunnel.Port(), "tuser", "wrong"};
    {
        const EIdFTPError e = FtpErrorOf([&] { client.Connect(); }, "refused tunnel credentials connected");
        EXPECT_TRUE(Contains(e.Message(), "HTTP proxy refused CONNECT 127.0.0.1:" + std::to_string(server.Port()) +
                                           ": HTTP/1.1 407 Proxy Authentication Required"));
    }
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(server.Commands().empty());
}

// Hostile servers, scripted by the fake: data goes only to and from the server itself, replies are
// bounded in size and time.
void PointAtFake(TIdFTP& client, const FakeFtpServer& fake, bool passive)
{
    // A whole string moved in: GCC 12 misreads the inlined assign of this literal (-Wrestrict).
    client.Host = std::string("127.0.0.1");
    client.Port = fake.Port();
    client.Username = "u";
    client.Password = "p";
    client.ReadTimeout = 5000;
    client.Passive = passive;
}

// Passive: the reply names a decoy host, and the data still goes to the server. Active: an
// intruder from another loopback address connects first, is turned away and gets nothing.
TEST(IdFtpHostileServer, DataConnectionsReachOnlyTheServer)
{
    TempDir local;
    WriteTextFile(local / "a.txt", "shop data");
    for (const bool passive : {true, false}) {
        FakeFtpServer fake({FakeWelcome::Normal, passive ? "127.0.0.2" : "", passive ? "" : "127.0.0.3"});
        TIdFTP client;
        PointAtFake(client, fake, passive);
        client.Connect();
        client.Put(local / "a.txt", "a.txt");
        const FakeFtpOutcome seen = fake.Outcome();
        EXPECT_EQ(seen.Stored, "shop data") << passive;
        EXPECT_FALSE(seen.DecoyReached);
        EXPECT_EQ(seen.IntruderReceived, passive ? "(open)" : "") << passive;
    }
}

// The tunnel (a real CONNECT proxy) on 127.0.0.2, the server on 127.0.0.1. Active: the server's
// data connection comes from its own address, not the proxy's, and is taken. Passive: a PASV reply
// naming a decoy makes the proxy connect to the configured host with the reply's port.
TEST(IdFtpHttpTunnel, DataConnectionsGoToAndComeFromTheConfiguredHost)
{
    TempDir local;
    WriteTextFile(local / "a.txt", "shop data");
    for (const bool passive : {false, true}) {
        FakeFtpServer fake({FakeWelcome::Normal, "127.0.0.3", ""});
        HttpConnectTunnel tunnel("", "", "127.0.0.2");
        TIdFTP client;
        PointAtFake(client, fake, passive);
        client.ProxySettings = {fpcmHttpProxyWithFtp, "127.0.0.2", tunnel.Port(), "", ""};
        client.Connect();
        EXPECT_NO_THROW(client.Put(local / "a.txt", "a.txt")) << passive;
        const FakeFtpOutcome seen = fake.Outcome();
        EXPECT_EQ(seen.Stored, "shop data") << passive;
        EXPECT_FALSE(seen.DecoyReached);
        const std::vector<std::string> requests = tunnel.Requests();
        ASSERT_EQ(requests.size(), passive ? 2u : 1u);
        EXPECT_EQ(requests.back().rfind("CONNECT 127.0.0.1:", 0), 0u) << requests.back();
    }
}

TEST(IdFtpHostileServer, WelcomeThatNeverEndsFailsTheConnect)
{
    {
        FakeFtpServer fake({FakeWelcome::EndlessLines, "", ""});
        TIdFTP client;
        PointAtFake(client, fake, true);
        const EIdFTPError e = FtpErrorOf([&] { client.Connect(); }, "an endless welcome connected");
        EXPECT_TRUE(Contains(e.Message(), ": the server's reply is longer than 64 KiB"));
        EXPECT_FALSE(client.Connected());
    }
    {
        FakeFtpServer fake({FakeWelcome::Preliminary, "", ""});
        TIdFTP client;
        PointAtFake(client, fake, true);
        client.ReadTimeout = 2000;
        const auto start = std::chrono::steady_clock::now();
        const EIdFTPError e = FtpErrorOf([&] { client.Connect(); }, "preliminary replies alone connected");
        EXPECT_TRUE(Contains(e.Message(), ": Timeout"));
        EXPECT_GE(SecondsSince(start), 1.9);
        EXPECT_LT(SecondsSince(start), 5.0);
    }
}

// Every argument, the logons' too: the fake stands as the proxy of a USER user@host logon.
TEST(IdFtpHostileServer, ByteFFInNamesIsDoubledOnTheWire)
{
    FakeFtpServer fake;
    TempDir local;
    WriteTextFile(local / "a.txt", "a");
    TIdFTP client;
    PointAtFake(client, fake, true);
    client.Username = "u\xFF";
    client.Password = "p\xFF";
    client.ProxySettings = {fpcmUserSite, "127.0.0.1", fake.Port(), "pu\xFF", "pp\xFF"};
    client.Connect();
    client.MakeDir("/d\xFF");
    client.ChangeDir("/d\xFF");
    client.Put(local / "a.txt", "n\xFFm");
    client.Delete("n\xFFm");
    const std::vector<std::string> commands = fake.Outcome().Commands;
    const std::string site = "127.0.0.1:" + std::to_string(fake.Port());
    for (const std::string& line : std::vector<std::string>{"USER pu\xFF\xFF", "PASS pp\xFF\xFF", "USER u\xFF\xFF@" + site, "PASS p\xFF\xFF",
                                   "MKD /d\xFF\xFF", "CWD /d\xFF\xFF", "STOR n\xFF\xFFm", "DELE n\xFF\xFFm"})
        EXPECT_EQ(CountOf(commands, line), 1u) << line;
}

// QUIT and ABOR have a short wait of their own that a cancel does not cut: a server that answers
// them late is still heard, a silent one holds them about a second (the read time-out if shorter).
TEST(IdFtpHostileServer, QuitAndAbortWaitBrieflyAlsoWhenCancelled)
{
    {
        FakeFtpSettings late;
        late.ClosingReplyMs = 400;
        FakeFtpServer fake(late);
        TIdFTP client;
        PointAtFake(client, fake, true);
        client.Connect();
        client.Cancelled = [] { return true; };
        EXPECT_NO_THROW(client.Abort());
        EXPECT_NO_THROW(client.Quit());
        EXPECT_EQ(fake.Outcome().Commands.back(), "QUIT");
    }
    FakeFtpSettings silent;
    silent.ClosingReplyMs = -1;
    for (const int readTimeout : {5000, 300}) {
        FakeFtpServer fake(silent);
        TIdFTP client;
        PointAtFake(client, fake, true);
        client.Connect();
        client.ReadTimeout = readTimeout;
        client.Cancelled = [] { return true; };
        const double expected = std::min(readTimeout, 1000) / 1000.0;
        const auto start = std::chrono::steady_clock::now();
        const EIdFTPError e = FtpErrorOf([&] { client.Quit(); }, "QUIT to a silent server succeeded");
        EXPECT_EQ(e.Message(), "Can't quit: Timeout");
        EXPECT_GE(SecondsSince(start), expected - 0.05) << readTimeout;
        EXPECT_LT(SecondsSince(start), expected + 1.0) << readTimeout;
        EXPECT_FALSE(client.Connected());
    }
}
