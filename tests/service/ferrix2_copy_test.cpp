// COPY by the built ferrix2 program where the destination or the program gets in the way: a
// read-only target (and a read-only counting file that a rename would delete) is refused and sent
// once writable; a kill -9 in the middle of a copy leaves no torn and no temporary file, and the
// restarted program sends every file.
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "ferrixrun.h"

namespace fs = std::filesystem;

namespace {

Ferrix2Settings CopySettings(const std::string& shop, const std::string& destination)
{
    Ferrix2Settings settings;
    settings.TrackDirectory = shop;
    settings.Destination0 = destination;
    settings.TimeBetweenActions = 1;
    return settings;
}

char ProcessState(pid_t pid)
{
    const std::string stat = ReadTextFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    return paren == std::string::npos || paren + 2 >= stat.size() ? '?' : stat[paren + 2];
}

// Of a stopped process: the size of a file it has open for writing under dir, or -1 when none.
long long WritingUnder(pid_t pid, const std::string& dir)
{
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fds, ec)) {
        const std::string target = fs::read_symlink(entry.path(), ec).string();
        struct stat st{};
        if (!ec && target.rfind(dir + "/", 0) == 0 && stat(entry.path().c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return st.st_size;
    }
    return -1;
}

}  // namespace

TEST(Ferrix2Copy, ReadOnlyTargetsAreRefusedAndSentOnceWritable)
{
    Ferrix2Run run(FERRIX2_PROGRAM);
    const std::string shop = run.Path("data/Shop12");
    const std::string destination = run.Path("dest0");
    MakeDemoShop(shop);
    // A read-only file at the destination, and a read-only counting file the rename would replace.
    fs::create_directories(destination + "/central/caisse");
    const std::string target = destination + "/central/caisse/c1208.txt";
    WriteTextFile(target, "old till");
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    const std::string counting = shop + "/comptage/r1208.scb";
    WriteTextFile(counting, "old count");
    ASSERT_EQ(chmod(counting.c_str(), 0444), 0);
    SetFileTime(counting, 1700000000);
    SetFileTime(shop + "/comptage/R1208.COR", 1700000100);
    run.WriteIni(Ferrix2Ini(CopySettings(shop, destination)));
    run.Start();

    ASSERT_TRUE(run.WaitForLog("processed 7 files OK, ")) << run.Log();
    const std::vector<std::string> failures = run.LogLines("Failed to copy ");
    ASSERT_FALSE(failures.empty()) << run.Log();
    EXPECT_EQ(failures[0], "Failed to copy c1208.txt to central/caisse : System Error.  Code: 13. Permission denied");
    EXPECT_EQ(ReadTextFile(target), "old till");
    EXPECT_TRUE(StatusFileNames(shop + "/caisse/tr2list0.dst").empty());
    EXPECT_TRUE(fs::exists(shop + "/comptage/R1208.COR"));
    EXPECT_EQ(ReadTextFile(destination + "/central/comptage/r1208.scb"), "old count");

    // With the write bits back the next passes send the till file and the renamed counting file.
    const std::string fresh = ReadTextFile(shop + "/comptage/R1208.COR");
    ASSERT_EQ(chmod(target.c_str(), 0644), 0);
    ASSERT_EQ(chmod(counting.c_str(), 0644), 0);
    EXPECT_TRUE(WaitFor(
        [&] {
            return ReadTextFile(target) == ReadTextFile(shop + "/caisse/c1208.txt") &&
                   ReadTextFile(destination + "/central/comptage/r1208.scb") == fresh;
        },
        std::chrono::seconds(30)))
        << run.Log();
    EXPECT_FALSE(fs::exists(shop + "/comptage/R1208.COR"));
    EXPECT_EQ(FilesUnder(destination), DemoShopLanded());
    EXPECT_EQ(run.Stop(), 0);
}

// The program is stopped while it writes a copy, then killed; the destination holds only whole
// files. A temporary name left by a copy killed between naming and renaming goes at the restart.
TEST(Ferrix2Copy, KilledDuringACopyLeavesNoTornOrTemporaryFile)
{
    Ferrix2Run run(FERRIX2_PROGRAM);
    const std::string shop = run.Path("data/Shop12");
    const std::string destination = run.Path("dest0");
    constexpr int Files = 6;
    constexpr size_t Size = 48 * 1024 * 1024;
    fs::create_directories(shop + "/caisse");
    std::vector<std::string> contents;
    for (int i = 0; i < Files; ++i) {
        contents.push_back(PatternBytes(Size, static_cast<unsigned>(i)));
        WriteTextFile(shop + "/caisse/big" + std::to_string(i) + ".txt", contents.back());
    }
    const auto checkWhole = [&](const std::string& when) {
        for (const std::string& name : FilesUnder(destination)) {
            ASSERT_EQ(name.rfind("central/caisse/big", 0), 0u) << when << ": " << name;
            const int i = std::stoi(name.substr(std::string("central/caisse/big").size()));
            ASSERT_TRUE(i >= 0 && i < Files && name == "central/caisse/big" + std::to_string(i) + ".txt") << name;
            EXPECT_TRUE(ReadTextFile(destination + "/" + name) == contents[static_cast<size_t>(i)])
                << when << ": torn " << name;
        }
    };
    run.WriteIni(Ferrix2Ini(CopySettings(shop, destination)));
    run.Start();
    ASSERT_TRUE(run.WaitForLog("transmitting file ")) << run.Log();

    // Catch the program with a copy begun and not finished.
    long long written = -1;
    const bool caught = WaitFor(
        [&] {
            run.Signal(SIGSTOP);
            if (!WaitFor([&] { return ProcessState(run.Pid()) == 'T'; }, std::chrono::seconds(5)))
                return false;
            written = WritingUnder(run.Pid(), destination);
            if (written >= 0 && written < static_cast<long long>(Size))
                return true;
            run.Signal(SIGCONT);
            return false;
        },
        std::chrono::seconds(60));
    ASSERT_TRUE(caught) << run.Log();
    const pid_t killed = run.Pid();
    run.Signal(SIGKILL);
    EXPECT_EQ(run.WaitForExit(std::chrono::seconds(10)), 128 + SIGKILL);
    checkWhole("after kill -9");

    const std::string leftover =
        destination + "/central/caisse/.ferrix-tmp." + std::to_string(killed) + "." + HostName() + ".1";
    WriteTextFile(leftover, contents[0].substr(0, 1000));
    run.Start();
    ASSERT_TRUE(run.WaitForLog("processed " + std::to_string(Files) + " files OK, ", 1, std::chrono::seconds(120)))
        << run.Log();
    std::vector<std::string> all;
    for (int i = 0; i < Files; ++i)
        all.push_back("central/caisse/big" + std::to_string(i) + ".txt");
    std::sort(all.begin(), all.end());
    EXPECT_EQ(FilesUnder(destination), all);
    checkWhole("after the restart");
    EXPECT_EQ(run.Stop(), 0);
}
