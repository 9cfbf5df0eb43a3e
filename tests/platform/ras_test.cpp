#include "platform/ras/ras.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "scriptedras.h"
#include "testkit.h"

namespace {

RASDIALPARAMS DialParams(const std::string& name)
{
    RASDIALPARAMS params{};
    params.dwSize = sizeof(RASDIALPARAMS);
    std::strncpy(params.szEntryName, name.c_str(), sizeof(params.szEntryName) - 1);
    return params;
}

DWORD Dial(const std::string& name, HRASCONN& conn)
{
    const RASDIALPARAMS params = DialParams(name);
    return RasDialA(nullptr, nullptr, &params, 0, nullptr, &conn);
}

std::string ErrorString(DWORD code)
{
    char buffer[256] = {};
    return RasGetErrorStringA(code, buffer, sizeof(buffer)) == 0 ? buffer : "(none)";
}

}  // namespace

TEST(RasLayer, TooSmallBufferFillsNothingAndTellsTheSizeNeeded)
{
    TScriptedRas ras;
    ras.AddEntry("b");
    ras.AddEntry("a");
    symlink((ras.PhonebookDir() + "/a").c_str(), (ras.PhonebookDir() + "/c-link").c_str());
    mkfifo((ras.PhonebookDir() + "/fifo").c_str(), 0600);

    std::vector<RASENTRYNAME> entries(3);
    entries[0].dwSize = sizeof(RASENTRYNAME);
    DWORD cb = sizeof(RASENTRYNAME) * 2;
    DWORD count = 0;
    EXPECT_EQ(RasEnumEntriesA(nullptr, nullptr, entries.data(), &cb, &count), RASERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(cb, 3 * sizeof(RASENTRYNAME));
    EXPECT_EQ(count, 3u);
    EXPECT_STREQ(entries[0].szEntryName, "");

    EXPECT_EQ(RasEnumEntriesA(nullptr, nullptr, entries.data(), &cb, &count), 0u);
    EXPECT_STREQ(entries[0].szEntryName, "a");
    EXPECT_STREQ(entries[1].szEntryName, "b");
    EXPECT_STREQ(entries[2].szEntryName, "c-link");

    entries[0].dwSize = 0;
    EXPECT_EQ(RasEnumEntriesA(nullptr, nullptr, entries.data(), &cb, &count), RASERR_INVALID_SIZE);
}

TEST(RasLayer, DialHandsPppdTheEntrysOwnSpellingAndReturnsTheLinkPid)
{
    TScriptedRas ras;
    ras.AddEntry("Office");
    ras.AddEntry("office");
    HRASCONN conn = 0;
    ASSERT_EQ(Dial("office", conn), 0u);
    EXPECT_EQ(conn, static_cast<HRASCONN>(ras.LinkPid("office")));
    ASSERT_EQ(Dial("OFFICE", conn), 0u);
    EXPECT_EQ(conn, static_cast<HRASCONN>(ras.LinkPid("Office")));
    EXPECT_EQ(ras.Calls(), (std::vector<std::string>{"call office linkname office updetach",
                                                     "call Office linkname Office updetach"}));

    bool stored = true;
    RASDIALPARAMS params = DialParams("OFFICE");
    EXPECT_EQ(RasGetEntryDialParamsA(nullptr, &params, &stored), 0u);
    EXPECT_FALSE(stored);
    params = DialParams("../run");
    EXPECT_EQ(RasGetEntryDialParamsA(nullptr, &params, &stored), RASERR_CANNOT_FIND_ENTRY);
}

TEST(RasLayer, FailedDialLeavesNoHandle)
{
    TScriptedRas ras;
    ras.AddEntry("NoCarrier", "scripted-exit 16");
    HRASCONN conn = 123;
    EXPECT_EQ(Dial("NoCarrier", conn), RASERR_PPPD_EXIT + 16);
    EXPECT_EQ(conn, 0u);
}

TEST(RasLayer, HangUpIsBoundedWhenTheLinkIgnoresSigterm)
{
    TScriptedRas ras;
    ras.AddEntry("Stubborn", "scripted-ignore-term");
    HRASCONN conn = 0;
    ASSERT_EQ(Dial("Stubborn", conn), 0u);
    ASSERT_TRUE(WaitFor([&] { return ProcessRunning(static_cast<pid_t>(conn)); }));

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RasHangUpWithin(conn, 300), RASERR_HANGUP_FAILED);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_TRUE(ProcessRunning(static_cast<pid_t>(conn)));
    kill(static_cast<pid_t>(conn), SIGKILL);
}

TEST(RasLayer, PppdStartsWithSigtermDeliverableWhateverTheCallerBlocks)
{
    TScriptedRas ras;
    ras.AddEntry("Office");
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &term, &old), 0);
    HRASCONN conn = 0;
    const DWORD rc = Dial("Office", conn);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ASSERT_EQ(rc, 0u);

    EXPECT_EQ(RasHangUpWithin(conn, 5000), 0u);
    EXPECT_FALSE(ProcessRunning(static_cast<pid_t>(conn)));
}

TEST(RasLayer, ErrorTextsCoverPppdStatusesAndBuffers)
{
    for (DWORD status = 1; status <= 19; ++status)
        EXPECT_NE(ErrorString(RASERR_PPPD_EXIT + status), "(none)") << status;
    EXPECT_EQ(ErrorString(RASERR_PPPD_EXIT + 20), "(none)");
    EXPECT_EQ(ErrorString(0), "(none)");
    EXPECT_EQ(ErrorString(RASERR_PPPD_EXIT + 19), "Authentication to the peer failed.");

    char small[8] = {};
    EXPECT_EQ(RasGetErrorStringA(RASERR_BUFFER_TOO_SMALL, small, sizeof(small)), RASERR_BUFFER_TOO_SMALL);
    char exact[sizeof("The buffer is too small.")] = {};
    EXPECT_EQ(RasGetErrorStringA(RASERR_BUFFER_TOO_SMALL, exact, sizeof(exact)), 0u);
    EXPECT_STREQ(exact, "The buffer is too small.");
}

TEST(RasLayer, UnreadableRunDirectoryFailsTheListAndTheHangUp)
{
    TScriptedRas ras;
    ras.AddEntry("Office");
    HRASCONN conn = 0;
    ASSERT_EQ(Dial("Office", conn), 0u);
    const std::string run = ras.RunDir();
    std::filesystem::rename(run, run + ".moved");
    WriteTextFile(run, "not a directory");

    std::vector<RASCONN> conns(1);
    conns[0].dwSize = sizeof(RASCONN);
    DWORD cb = sizeof(RASCONN);
    DWORD count = 0;
    EXPECT_EQ(RasEnumConnectionsA(conns.data(), &cb, &count), RASERR_CANNOT_LIST_CONNECTIONS);
    EXPECT_EQ(RasHangUpWithin(conn, 1000), RASERR_CANNOT_LIST_CONNECTIONS);
    EXPECT_TRUE(ProcessRunning(static_cast<pid_t>(conn)));

    std::filesystem::remove(run);
    std::filesystem::rename(run + ".moved", run);
}
