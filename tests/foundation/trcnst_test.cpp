#include "foundation/trcnst.h"

#include <filesystem>
#include <gtest/gtest.h>

#include "foundation/idftp.h"
#include "ftpserver.h"
#include "testkit.h"

using Lines = std::vector<std::string>;

namespace {

void ConnectTo(TIdFTP& client, const FtpServer& server)
{
    client.Host = server.Host();
    client.Port = server.Port();
    client.Username = server.User();
    client.Password = server.Password();
    client.ReadTimeout = 10000;
    client.Connect();
}

}  // namespace

TEST(FtpForceDir, CreatesTheMissingLevelsWithWholePaths)
{
    FtpServer server;
    std::filesystem::create_directory(server.LocalPath("/a"));
    TIdFTP client;
    ConnectTo(client, server);
    server.ClearCommands();

    EXPECT_TRUE(FtpForceDir("/a/b/c", client));
    EXPECT_EQ(server.Commands(),
              (Lines{"CWD /a/b/c", "CWD /a/b", "CWD /a", "MKD /a/b", "CWD /a/b", "MKD /a/b/c", "CWD /a/b/c"}));
    EXPECT_TRUE(std::filesystem::is_directory(server.LocalPath("/a/b/c")));

    // Left in the new directory: a bare name lands there.
    TempDir local;
    WriteTextFile(local / "f.txt", "x");
    client.Put(local / "f.txt", "f.txt");
    EXPECT_EQ(ReadTextFile(server.LocalPath("/a/b/c/f.txt")), "x");
}

TEST(FtpForceDir, ExistingTopLevelRootAndEmptyPaths)
{
    FtpServer server;
    std::filesystem::create_directories(server.LocalPath("/a/b"));
    TIdFTP client;
    ConnectTo(client, server);

    server.ClearCommands();
    EXPECT_TRUE(FtpForceDir("/a/b/", client));  // one trailing "/" goes
    EXPECT_EQ(server.Commands(), (Lines{"CWD /a/b"}));

    server.ClearCommands();
    EXPECT_TRUE(FtpForceDir("/x", client));  // no CWD for the root
    EXPECT_EQ(server.Commands(), (Lines{"CWD /x", "MKD /x", "CWD /x"}));

    server.ClearCommands();
    EXPECT_TRUE(FtpForceDir("/", client));
    EXPECT_TRUE(FtpForceDir("", client));
    client.ChangeDir("/a");  // marks the end: nothing was sent before it
    EXPECT_EQ(server.Commands(), (Lines{"CWD /a"}));
}

TEST(FtpForceDir, RefusedMkdEndsWithFalseAndNoDeeperCommand)
{
    FtpServer server({{"reader", "pw", "elr"}});
    std::filesystem::create_directory(server.LocalPath("/a"));
    TIdFTP client;
    ConnectTo(client, server);
    server.ClearCommands();

    std::string reason;
    EXPECT_FALSE(FtpForceDir("/a/b/c", client, reason));
    EXPECT_EQ(server.Commands(), (Lines{"CWD /a/b/c", "CWD /a/b", "CWD /a", "MKD /a/b"}));
    EXPECT_EQ(reason, "550 Not enough privileges.");  // the refusal of the MKD, as the server gave it
    EXPECT_FALSE(std::filesystem::exists(server.LocalPath("/a/b")));
    EXPECT_TRUE(client.Connected());
}

TEST(FtpForceDir, LostConnectionGivesFalse)
{
    FtpServer server;
    TIdFTP client;
    ConnectTo(client, server);
    server.Stop();
    std::string reason;
    EXPECT_FALSE(FtpForceDir("/a/b", client, reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(reason.find("Can't"), std::string::npos) << reason;  // the cause alone
    EXPECT_FALSE(FtpForceDir("/a/b", client, reason));  // not connected any more: still false, no exception
    EXPECT_EQ(reason, "Not connected.");
}
