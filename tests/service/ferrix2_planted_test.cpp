// What a local user may plant in a tracked directory the root service reads, or in a destination it
// writes: links and file names a status line cannot hold. The built ferrix2 program sends neither,
// never writes through a link and keeps its status files whole.
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "ferrixrun.h"
#include "platform/files/findfile.h"
#include "testuser.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t T0 = 1796680884;  // 2026-12-07 22:01:24 UTC

bool IsRegularFile(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The file lines of a status file: each must hold exactly two TABs.
std::vector<std::string> CheckedStatusLines(const std::string& path)
{
    std::vector<std::string> names;
    const std::string text = ReadTextFile(path);
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = text.substr(start, end - start);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        if (line.empty() || line[0] == '#')
            continue;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 2) << line;
        names.push_back(line.substr(0, line.find('\t')));
    }
    EXPECT_EQ(start, text.size()) << "the file ends with a whole line";
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// A link to a root-only file is not sent, and links in the place of status files are replaced by
// the status file without the files they point at being read or touched.
TEST(Ferrix2Planted, LinksAreNeitherSentNorWrittenThrough)
{
    Ferrix2Run run(FERRIX2_PROGRAM);
    const std::string shop = run.Path("data/Shop12");
    MakeDemoShop(shop);
    const std::string outside = run.Path("outside");
    fs::create_directories(outside);
    WriteTextFile(outside + "/shadow", "root:secret-hash:19000::::::\n");
    ASSERT_EQ(chmod((outside + "/shadow").c_str(), 0600), 0);
    // Looks like a status file that lists the shop's counting file as delivered.
    const std::string victim = "# directory status file \r\nc1208.txt\t26\t2026/12/07 22:01:24.000 UTC\r\n";
    WriteTextFile(outside + "/victim", victim);
    WriteTextFile(outside + "/victim-top", victim);
    ASSERT_EQ(symlink((outside + "/shadow").c_str(), (shop + "/caisse/shadow.txt").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/shadow").c_str(), (shop + "/passwd.arg").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/victim").c_str(), (shop + "/caisse/tr2list0.dst").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/victim-top").c_str(), (shop + "/tr2list0.dst").c_str()), 0);

    const std::string destination = run.Path("dest0");
    run.WriteIni(Ferrix2Ini({.TrackDirectory = shop, .Destination0 = destination}));
    run.Start();
    ASSERT_TRUE(run.WaitForLog("processed 8 files OK, 0 files bad, elapsed ")) << run.Log();
    EXPECT_EQ(run.Stop(), 0);

    EXPECT_EQ(FilesUnder(destination), DemoShopLanded());
    EXPECT_EQ(run.CountLog("shadow"), 0) << run.Log();
    EXPECT_EQ(run.CountLog("passwd"), 0) << run.Log();
    EXPECT_EQ(ReadTextFile(outside + "/victim"), victim);
    EXPECT_EQ(ReadTextFile(outside + "/victim-top"), victim);
    EXPECT_TRUE(IsRegularFile(shop + "/caisse/tr2list0.dst"));
    EXPECT_TRUE(IsRegularFile(shop + "/tr2list0.dst"));
    EXPECT_EQ(CheckedStatusLines(shop + "/caisse/tr2list0.dst"), std::vector<std::string>{"c1208.txt"});
    EXPECT_EQ(CheckedStatusLines(shop + "/tr2list0.dst"), (std::vector<std::string>{"shopinfo.arg", "t1208.arg"}));
}

// A local user who may write the shop puts links to a root-only directory in the place of caisse
// and comptage: neither counts as a data directory, each is logged, nothing behind them is sent or
// renamed, and no status file lands there.
TEST(Ferrix2Planted, LinksInPlaceOfDataDirectoriesCountAsMissing)
{
    const TTestUser user("lnk");
    Ferrix2Run run(FERRIX2_PROGRAM);
    const std::string shop = run.Path("data/Shop12");
    MakeDemoShop(shop);
    fs::remove_all(shop + "/caisse");
    fs::remove_all(shop + "/comptage");
    const std::string vault = run.Path("vault");
    fs::create_directories(vault);
    for (const char* name : {"c9999.txt", "Keep.COR", "keep.scb"})
        WriteTextFile(vault + "/" + name, name);
    ASSERT_EQ(chmod(vault.c_str(), 0700), 0);
    ASSERT_EQ(chown(shop.c_str(), user.Uid(), user.Gid()), 0);
    {
        const ferrix::TFileDescriptor shopDir = ferrix::OpenDirectory(shop, false);
        const TThreadFsIdentity asUser(user.Uid(), user.Gid());
        for (const char* name : {"caisse", "comptage"})
            ASSERT_EQ(symlinkat(vault.c_str(), shopDir.Get(), name), 0) << name;
    }

    const std::string destination = run.Path("dest0");
    run.WriteIni(Ferrix2Ini({.TrackDirectory = shop, .Destination0 = destination}));
    run.Start();
    ASSERT_TRUE(run.WaitForLog("processed 5 files OK, 0 files bad, elapsed ")) << run.Log();
    EXPECT_EQ(run.Stop(), 0);

    for (const char* name : {"caisse", "comptage"})
        EXPECT_GE(run.CountLog("Data directory is a symbolic link, skipped: " + shop + "/" + name), 1) << run.Log();
    EXPECT_EQ(FilesUnder(destination), (std::vector<std::string>{"central/Shop12/t1208.arg", "central/filters/f1.fif",
                                                                 "central/footfall/ff1208.txt", "central/messages/m1.msg",
                                                                 "central/shopinfo.arg"}));
    EXPECT_EQ(FilesUnder(vault), (std::vector<std::string>{"Keep.COR", "c9999.txt", "keep.scb"}));
    EXPECT_EQ(ReadTextFile(vault + "/keep.scb"), "keep.scb");
}

// A local user who may write the destinations puts links to root-only directories in the place of
// the destination directory (first destination) and of a holding directory (second): every file
// that would go through one fails, is logged naming the link and counted; nothing lands behind
// either, and the other destination still gets its copy.
TEST(Ferrix2Planted, LinksBelowADestinationFailTheirFilesAndNothingLandsBehindThem)
{
    const TTestUser user("dst");
    Ferrix2Run run(FERRIX2_PROGRAM);
    const std::string shop = run.Path("data/Shop12");
    MakeDemoShop(shop);
    const std::string vault = run.Path("vault");
    fs::create_directories(vault);
    ASSERT_EQ(chmod(vault.c_str(), 0700), 0);
    const std::string dest0 = run.Path("dest0");
    const std::string dest1 = run.Path("dest1");
    fs::create_directories(dest0);
    fs::create_directories(dest1 + "/central");
    for (const std::string& dir : {dest0, dest1, dest1 + "/central"})
        ASSERT_EQ(chown(dir.c_str(), user.Uid(), user.Gid()), 0) << dir;
    {
        const ferrix::TFileDescriptor dir0 = ferrix::OpenDirectory(dest0, false);
        const ferrix::TFileDescriptor central1 = ferrix::OpenDirectory(dest1 + "/central", false);
        const TThreadFsIdentity asUser(user.Uid(), user.Gid());
        ASSERT_EQ(symlinkat(vault.c_str(), dir0.Get(), "central"), 0);
        ASSERT_EQ(symlinkat(vault.c_str(), central1.Get(), "caisse"), 0);
    }

    run.WriteIni(Ferrix2Ini({.TrackDirectory = shop, .Destination0 = dest0, .Destination1 = dest1}));
    run.Start();
    ASSERT_TRUE(run.WaitForLog(" files bad, elapsed ")) << run.Log();
    EXPECT_EQ(run.Stop(), 0);

    EXPECT_EQ(run.LogLines(" files bad, elapsed ")[0].rfind("processed 7 files OK, 9 files bad, elapsed ", 0), 0u)
        << run.Log();
    EXPECT_TRUE(FilesUnder(vault).empty());
    EXPECT_TRUE(FilesUnder(dest0).empty());
    std::vector<std::string> landed = DemoShopLanded();
    landed.erase(std::find(landed.begin(), landed.end(), "central/caisse/c1208.txt"));
    EXPECT_EQ(FilesUnder(dest1), landed);
    for (const std::string& line : {"t1208.arg to central/Shop12 : Destination directory is a symbolic link: " + dest0 +
                                         "/central",
                                     "c1208.txt to central/caisse : Destination directory is a symbolic link: " + dest1 +
                                         "/central/caisse"})
        EXPECT_GE(run.CountLog("Failed to copy " + line), 1) << run.Log();
}

// Names with a TAB or a line break are not sent to either destination and never reach a status
// file; each pass says so in one line. A file named after the second half of such a name, with its
// size and time, is still sent. A name with a leading blank goes in every pass.
TEST(Ferrix2Planted, NamesAStatusLineCannotHoldAreSkippedWithOneLinePerPass)
{
    Ferrix2Run run(FERRIX2_PROGRAM);
    const std::string shop = run.Path("data/Shop12");
    MakeDemoShop(shop);
    for (const char* name : {"evil\nc2.txt", "tab\tc3.txt", " c4.txt", "cr\r.txt"}) {
        WriteTextFile(shop + "/caisse/" + name, "4096");
        SetFileTime(shop + "/caisse/" + name, T0);
    }
    Ferrix2Settings settings;
    settings.TrackDirectory = shop;
    settings.Destination0 = run.Path("dest0");
    settings.Destination1 = run.Path("dest1");
    run.WriteIni(Ferrix2Ini(settings));
    run.Start();

    const std::string skipped = "3 files not sent: a status file cannot hold their names (TAB or line break): \"" +
                                shop + "/caisse/cr\\r.txt\", \"" + shop + "/caisse/evil\\nc2.txt\", \"" + shop +
                                "/caisse/tab\\tc3.txt\"";
    ASSERT_TRUE(run.WaitForLog("processed 18 files OK, 0 files bad, elapsed ")) << run.Log();
    ASSERT_TRUE(run.WaitForLog(skipped)) << run.Log();
    for (const char* status : {"tr2list0.dst", "tr2list1.dst"})
        EXPECT_EQ(CheckedStatusLines(shop + "/caisse/" + status), (std::vector<std::string>{" c4.txt", "c1208.txt"}));

    // The second halves arrive looking like the odd files did when they were recorded.
    for (const char* name : {"c2.txt", "c3.txt"}) {
        WriteTextFile(shop + "/caisse/" + name, "4096");
        SetFileTime(shop + "/caisse/" + name, T0);
    }
    ASSERT_TRUE(run.WaitForLog("processed 6 files OK, 0 files bad, elapsed ")) << run.Log();
    ASSERT_TRUE(run.WaitForLog(skipped, 2)) << run.Log();
    EXPECT_EQ(run.Stop(), 0);

    for (const char* destination : {"dest0", "dest1"}) {
        std::vector<std::string> landed = DemoShopLanded();
        landed.push_back("central/caisse/ c4.txt");
        landed.push_back("central/caisse/c2.txt");
        landed.push_back("central/caisse/c3.txt");
        std::sort(landed.begin(), landed.end());
        EXPECT_EQ(FilesUnder(run.Path(destination)), landed) << destination;
    }
    for (const char* status : {"tr2list0.dst", "tr2list1.dst"})
        EXPECT_EQ(CheckedStatusLines(shop + "/caisse/" + status),
                  (std::vector<std::string>{" c4.txt", "c1208.txt", "c2.txt", "c3.txt"}));

    // Every pass that got to the directory wrote the line once, not once per destination.
    std::vector<int> perPass;
    for (const std::string& line : run.LogLines("")) {
        if (line.rfind("Processing chain ", 0) == 0)
            perPass.push_back(0);
        else if (line == skipped && !perPass.empty())
            ++perPass.back();
    }
    ASSERT_GE(perPass.size(), 2u);
    for (size_t pass = 0; pass + 1 < perPass.size(); ++pass)
        EXPECT_EQ(perPass[pass], 1) << "pass " << pass << "\n" << run.Log();
    EXPECT_LE(perPass.back(), 1);
}
