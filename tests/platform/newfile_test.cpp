// A new file is invisible under the target's name until it is put in place whole, leaves nothing
// when it is dropped, also where the file system has no unnamed files; what ended processes of
// this host left under a temporary name is removed, nothing else.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/files/findfile.h"
#include "platform/files/newfile.h"
#include "testkit.h"

namespace fs = std::filesystem;

namespace {

// A process id that no process has: a child that has ended and been reaped.
pid_t EndedPid()
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    int status = 0;
    waitpid(pid, &status, 0);
    return pid;
}

// Writes a new file over an existing target: while it is written the directory shows the old
// target alone (or, with named, a temporary name beside it); dropped it leaves the old target;
// replaced it shows the new content alone. Create refuses an existing name.
void WriteAndReplace(const std::string& dir, bool named)
{
    const std::string target = dir + "/status.dst";
    WriteTextFile(target, "old");
    const std::string prefix = ".ferrix-tmp." + std::to_string(getpid()) + "." + HostName() + ".";
    {
        ferrix::TNewFile file(target, 0644);
        ASSERT_TRUE(file.Valid()) << strerror(errno);
        ASSERT_TRUE(ferrix::WriteAll(file.Get(), "torn", 4));
        const std::vector<std::string> names = NamesIn(dir);
        ASSERT_EQ(names.size(), named ? 2u : 1u);
        EXPECT_EQ(names.back(), "status.dst");
        if (named) {
            EXPECT_EQ(names.front().rfind(prefix, 0), 0u) << names.front();
        }
    }
    EXPECT_EQ(ReadTextFile(target), "old");
    EXPECT_EQ(NamesIn(dir), std::vector<std::string>{"status.dst"});

    ferrix::TNewFile file(target, 0644);
    const std::string content = PatternBytes(200000, 7);
    ASSERT_TRUE(ferrix::WriteAll(file.Get(), content.data(), content.size()));
    ASSERT_TRUE(file.Replace()) << strerror(errno);
    EXPECT_TRUE(ReadTextFile(target) == content);
    EXPECT_EQ(NamesIn(dir), std::vector<std::string>{"status.dst"});

    ferrix::TNewFile again(target, 0644);
    errno = 0;
    EXPECT_FALSE(again.Create());
    EXPECT_EQ(errno, EEXIST);
    ferrix::TNewFile fresh(dir + "/fresh", 0600);
    ASSERT_TRUE(ferrix::WriteAll(fresh.Get(), "fresh", 5));
    ASSERT_TRUE(fresh.Create()) << strerror(errno);
    EXPECT_EQ(ReadTextFile(dir + "/fresh"), "fresh");
    EXPECT_EQ(fs::status(dir + "/fresh").permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace

TEST(NewFile, TakesTheTargetsPlaceOnlyWhole)
{
    TempDir dir;
    WriteAndReplace(dir.Path(), false);
    EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"fresh", "status.dst"}));

    // A symbolic link at the target's name is replaced, and what it pointed at is left alone.
    WriteTextFile(dir / "elsewhere", "elsewhere");
    fs::create_symlink(dir / "elsewhere", dir / "link");
    ferrix::TNewFile file(dir / "link", 0644);
    ASSERT_TRUE(ferrix::WriteAll(file.Get(), "new", 3) && file.Replace());
    EXPECT_FALSE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(ReadTextFile(dir / "elsewhere"), "elsewhere");

    ferrix::TNewFile nowhere(dir / "missing/file", 0644);
    EXPECT_FALSE(nowhere.Valid());
}

TEST(NewFile, GoesThroughATemporaryNameWhereTheFileSystemHasNoUnnamedFiles)
{
    TempDir dir;
    RunWithoutUnnamedFiles([&] { WriteAndReplace(dir.Path(), true); });
    EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"fresh", "status.dst"}));
}

// Leftovers of this host's ended processes and of this process go; those of running processes,
// of other hosts and other files stay.
TEST(NewFile, LeftoversOfEndedProcessesOfThisHostAreRemoved)
{
    TempDir dir;
    const std::string host = HostName();
    const std::string ended = ".ferrix-tmp." + std::to_string(EndedPid()) + "." + host + ".1";
    const std::string own = ".ferrix-tmp." + std::to_string(getpid()) + "." + host + ".2";
    const std::string running = ".ferrix-tmp." + std::to_string(getppid()) + "." + host + ".3";
    const std::string otherHost = ".ferrix-tmp.999999." + host + "x.4";
    const std::string noPid = ".ferrix-tmp.x." + host + ".5";
    for (const std::string& name : {ended, own, running, otherHost, noPid, std::string("data.txt")})
        WriteTextFile(dir / name, "torn");

    ferrix::RemoveNewFileLeftovers(ferrix::OpenDirectory(dir.Path(), false).Get());
    std::vector<std::string> kept = {running, otherHost, noPid, "data.txt"};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(NamesIn(dir.Path()), kept);
    ferrix::RemoveNewFileLeftovers(-1);
}
