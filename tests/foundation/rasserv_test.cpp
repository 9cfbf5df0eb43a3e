#include "foundation/rasserv.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

#include "base/sysutils.h"
#include "scriptedras.h"
#include "testkit.h"

namespace {

class RasServTest : public ::testing::Test {
protected:
    void SetUp() override { ferrix::SetRasHangUpPause(0); }
    void TearDown() override { ferrix::SetRasHangUpPause(RasHangUpPauseMs); }

    std::vector<std::string> Entries()
    {
        std::vector<std::string> list;
        EXPECT_TRUE(RasGetEntries(list)) << RasLastErrorText();
        return list;
    }

    std::vector<TRasConnection> Connections()
    {
        std::vector<TRasConnection> list;
        EXPECT_TRUE(RasGetConnections(list)) << RasLastErrorText();
        return list;
    }

    TScriptedRas Ras;
};

std::string EntryName(int i)
{
    return Format("Entry%02d", i);
}

}  // namespace

TEST_F(RasServTest, PhonebookOfNoneSixteenAndSeventeenEntries)
{
    std::filesystem::remove(Ras.PhonebookDir());
    EXPECT_TRUE(Entries().empty()) << "a missing phonebook has no entries";
    std::filesystem::create_directory(Ras.PhonebookDir());
    EXPECT_TRUE(Entries().empty());

    // Directories are no entries; names come sorted.
    std::filesystem::create_directory(Ras.PhonebookDir() + "/folder");
    for (int i = 15; i >= 0; --i)
        Ras.AddEntry(EntryName(i));
    std::vector<std::string> list = Entries();
    ASSERT_EQ(list.size(), 16u);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(list[i], EntryName(i));
    EXPECT_EQ(LastRasError, 0);

    Ras.AddEntry(EntryName(16));
    list = {"stale"};
    EXPECT_FALSE(RasGetEntries(list));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(LastRasError, static_cast<int32_t>(RASERR_BUFFER_TOO_SMALL));
    EXPECT_EQ(RasLastErrorText(), "The buffer is too small.");
}

TEST_F(RasServTest, UnreadablePhonebookFailsAndTheNextCallClearsTheError)
{
    std::filesystem::remove(Ras.PhonebookDir());
    WriteTextFile(Ras.PhonebookDir(), "not a directory");
    std::vector<std::string> list;
    EXPECT_FALSE(RasGetEntries(list));
    EXPECT_EQ(RasLastErrorText(), "The phonebook cannot be read.");

    EXPECT_TRUE(Connections().empty());
    EXPECT_EQ(LastRasError, 0);
    EXPECT_EQ(RasLastErrorText(), "");
}

TEST_F(RasServTest, DialThatSucceedsIsListedWithItsHandle)
{
    Ras.AddEntry("Office");
    EXPECT_TRUE(Connections().empty());

    ASSERT_TRUE(RasDialEntry("Office")) << RasLastErrorText();
    EXPECT_EQ(LastRasError, 0);
    EXPECT_EQ(RasLastErrorText(), "");
    EXPECT_EQ(Ras.Calls(), std::vector<std::string>{"call Office linkname Office updetach"});

    const std::vector<TRasConnection> list = Connections();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Name, "Office");
    EXPECT_EQ(list[0].Handle, static_cast<HRASCONN>(Ras.LinkPid("Office")));
    EXPECT_TRUE(ProcessRunning(Ras.LinkPid("Office")));
}

TEST_F(RasServTest, DialThatFailsGivesTheTextOfItsCode)
{
    Ras.AddEntry("Busy", "scripted-exit 8");
    EXPECT_FALSE(RasDialEntry("Busy"));
    EXPECT_EQ(LastRasError, static_cast<int32_t>(RASERR_PPPD_EXIT + 8));
    EXPECT_EQ(RasLastErrorText(), "The connect script failed.");
    EXPECT_TRUE(Connections().empty());

    Ras.AddEntry("Odd", "scripted-exit 42");
    EXPECT_FALSE(RasDialEntry("Odd"));
    EXPECT_EQ(RasLastErrorText(), "Unknown RAS error (code 742)");

    // An entry the phonebook lacks is never handed to pppd.
    EXPECT_FALSE(RasDialEntry("Missing"));
    EXPECT_EQ(LastRasError, static_cast<int32_t>(RASERR_CANNOT_FIND_ENTRY));
    EXPECT_EQ(RasLastErrorText(), "The phonebook entry cannot be found.");
    EXPECT_EQ(Ras.Calls().size(), 2u);

    setenv("RAS_PPPD", (Ras.RunDir() + "/no-such-pppd").c_str(), 1);
    Ras.AddEntry("Office");
    EXPECT_FALSE(RasDialEntry("Office"));
    EXPECT_EQ(RasLastErrorText(), "pppd cannot be started.");
}

TEST_F(RasServTest, HangUpOfANameNotConnectedFailsWithoutErrorText)
{
    EXPECT_FALSE(RasHangUpByName("Office"));
    EXPECT_EQ(LastRasError, 0);
    EXPECT_EQ(RasLastErrorText(), "");

    // Another entry's link is left alone, and a pid file whose process has ended is no link.
    Ras.AddEntry("Home");
    ASSERT_TRUE(RasDialEntry("Home")) << RasLastErrorText();
    WriteTextFile(Ras.RunDir() + "/ppp-Office.pid", "999999999\n");
    EXPECT_FALSE(RasHangUpByName("Office"));
    EXPECT_EQ(RasLastErrorText(), "");
    EXPECT_TRUE(ProcessRunning(Ras.LinkPid("Home")));
}

TEST_F(RasServTest, HangUpByNameIgnoresCaseAndEndsTheLink)
{
    Ras.AddEntry("office");
    ASSERT_TRUE(RasDialEntry("OFFICE")) << RasLastErrorText();
    EXPECT_EQ(Ras.Calls(), std::vector<std::string>{"call office linkname office updetach"});
    const pid_t link = Ras.LinkPid("office");
    ASSERT_TRUE(ProcessRunning(link));

    EXPECT_TRUE(RasHangUpByName("Office")) << RasLastErrorText();
    EXPECT_EQ(LastRasError, 0);
    EXPECT_FALSE(ProcessRunning(link));
    EXPECT_FALSE(std::filesystem::exists(Ras.RunDir() + "/ppp-office.pid"));
    EXPECT_TRUE(Connections().empty());
    EXPECT_FALSE(RasHangUpByName("office"));
}

TEST_F(RasServTest, HangUpWaitsThreeSecondsByDefault)
{
    ferrix::SetRasHangUpPause(RasHangUpPauseMs);
    Ras.AddEntry("Office");
    ASSERT_TRUE(RasDialEntry("Office")) << RasLastErrorText();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(RasHangUpConn(static_cast<HRASCONN>(Ras.LinkPid("Office"))));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
}

TEST_F(RasServTest, HangUpOfAHandleThatIsNoLinkSignalsNothing)
{
    Ras.AddEntry("Office");
    ASSERT_TRUE(RasDialEntry("Office")) << RasLastErrorText();
    // 0 would reach the whole process group; the test program's own pid is no link.
    for (const HRASCONN handle : {HRASCONN{0}, static_cast<HRASCONN>(getpid()), HRASCONN{0xFFFFFFFF}}) {
        EXPECT_FALSE(RasHangUpConn(handle));
        EXPECT_EQ(RasLastErrorText(), "The connection handle is invalid.");
    }
    EXPECT_TRUE(ProcessRunning(Ras.LinkPid("Office")));
}

TEST_F(RasServTest, ConnectionsOfSixteenAndSeventeenLinks)
{
    // Pid files naming a running process (this test program) count as links.
    const std::string self = std::to_string(getpid()) + "\n";
    for (int i = 0; i < 16; ++i)
        WriteTextFile(Ras.RunDir() + "/ppp-" + EntryName(i) + ".pid", self);
    WriteTextFile(Ras.RunDir() + "/ppp-Ended.pid", "999999999\n");
    WriteTextFile(Ras.RunDir() + "/ppp-Garbage.pid", "pid\n");
    WriteTextFile(Ras.RunDir() + "/ppp-Zero.pid", "0\n");
    WriteTextFile(Ras.RunDir() + "/ppp0.pid", self);
    std::vector<TRasConnection> list = Connections();
    ASSERT_EQ(list.size(), 16u);
    EXPECT_EQ(list[0].Name, EntryName(0));
    EXPECT_EQ(list[15].Name, EntryName(15));
    EXPECT_EQ(list[15].Handle, static_cast<HRASCONN>(getpid()));

    WriteTextFile(Ras.RunDir() + "/ppp-" + EntryName(16) + ".pid", self);
    EXPECT_FALSE(RasGetConnections(list));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(RasLastErrorText(), "The buffer is too small.");
    EXPECT_FALSE(RasHangUpByName(EntryName(0)));
    EXPECT_EQ(LastRasError, static_cast<int32_t>(RASERR_BUFFER_TOO_SMALL));
}
