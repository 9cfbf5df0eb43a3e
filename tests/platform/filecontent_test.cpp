// Reading, replacing and appending whole files: the one way the programs touch their files.
#include "platform/files/filecontent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testkit.h"

namespace {

struct stat StatOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

bool Replace(const std::string& path, const std::string& content, const ferrix::TReplaceOptions& options = {})
{
    return ferrix::ReplaceFileContent(path, content.data(), content.size(), options);
}

TEST(ReplaceFileContent, KeepsModeOwnerAndGroupOfAnotherUsersFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file away needs root";
    TempDir dir;
    const std::string path = dir / "settings.ini";
    WriteTextFile(path, "old");
    ASSERT_EQ(::chown(path.c_str(), 12345, 23456), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(Replace(path, "new"));
    const struct stat st = StatOf(path);
    EXPECT_EQ(st.st_uid, 12345u);
    EXPECT_EQ(st.st_gid, 23456u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadTextFile(path), "new");
    EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"settings.ini"});
}

TEST(ReplaceFileContent, NewFilesTakeTheGivenModeAndReadOnlyFilesTheAddedBits)
{
    TempDir dir;
    const mode_t umask = ::umask(0);
    ferrix::TReplaceOptions secret;
    secret.NewFileMode = 0600;
    EXPECT_TRUE(Replace(dir / "new.ini", "x", secret));
    EXPECT_TRUE(Replace(dir / "plain.ini", "x"));
    ::umask(umask);
    EXPECT_EQ(StatOf(dir / "new.ini").st_mode & 07777, 0600u);
    EXPECT_EQ(StatOf(dir / "plain.ini").st_mode & 07777, 0644u);

    // An existing file keeps its mode, whatever the mode for new files.
    EXPECT_TRUE(Replace(dir / "plain.ini", "y", secret));
    EXPECT_EQ(StatOf(dir / "plain.ini").st_mode & 07777, 0644u);

    WriteTextFile(dir / "ro.dst", "old");
    ASSERT_EQ(::chmod((dir / "ro.dst").c_str(), 0444), 0);
    ferrix::TReplaceOptions writable;
    writable.AddedModeBits = S_IWUSR;
    EXPECT_TRUE(Replace(dir / "ro.dst", "new", writable));
    EXPECT_EQ(StatOf(dir / "ro.dst").st_mode & 07777, 0644u);
    EXPECT_EQ(ReadTextFile(dir / "ro.dst"), "new");
}

TEST(ReplaceFileContent, RefusesLinksAndNonRegularFilesLeavingEverythingAsItWas)
{
    TempDir dir;
    WriteTextFile(dir / "target", "precious");
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    const std::vector<std::string> before = NamesIn(dir.Path());

    const std::map<std::string, int> refused = {
        {"link", ELOOP}, {"dangling", ELOOP}, {"sub", EISDIR}, {"fifo", EINVAL}, {"gone/x", ENOENT}};
    for (const auto& [name, code] : refused) {
        errno = 0;
        EXPECT_FALSE(Replace(dir / name, "evil")) << name;
        EXPECT_EQ(errno, code) << name;
    }
    EXPECT_EQ(ReadTextFile(dir / "target"), "precious");
    EXPECT_TRUE(S_ISLNK(StatOf(dir / "link").st_mode));
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
    EXPECT_EQ(NamesIn(dir.Path()), before);
}

// A step as nobody on files in a directory everyone may write, so that only the file's own
// permissions decide.
class UnprivilegedReplace : public ::testing::Test {
protected:
    TempDir Dir;
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to run a step as another user";
        ASSERT_EQ(::chmod(Dir.Path().c_str(), 0777), 0);
    }
};

TEST_F(UnprivilegedReplace, AFileTheCallerMayNotWriteIsRefusedAndLeftAsItWas)
{
    const std::string path = Dir / "root.ini";
    WriteTextFile(path, "[General]\nroot=1\n");
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    const int result = RunAsUnprivileged([&] { return Replace(path, "taken over") ? 0 : errno; });
    EXPECT_EQ(result, EACCES);
    EXPECT_EQ(ReadTextFile(path), "[General]\nroot=1\n");
    EXPECT_EQ(StatOf(path).st_uid, 0u);
    EXPECT_EQ(NamesIn(Dir.Path()), std::vector<std::string>{"root.ini"});
}

TEST_F(UnprivilegedReplace, TheOwnerMayReplaceItsReadOnlyFileOnlyWhereAsked)
{
    const std::string path = Dir / "own.dst";
    WriteTextFile(path, "old");
    ASSERT_EQ(::chown(path.c_str(), UnprivilegedUid(), UnprivilegedGid()), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_EQ(RunAsUnprivileged([&] { return Replace(path, "plain") ? 0 : errno; }), EACCES);
    EXPECT_EQ(ReadTextFile(path), "old");
    EXPECT_EQ(RunAsUnprivileged([&] {
                  ferrix::TReplaceOptions writable;
                  writable.AddedModeBits = S_IWUSR;
                  return Replace(path, "new", writable) ? 0 : errno;
              }),
              0);
    EXPECT_EQ(ReadTextFile(path), "new");
    EXPECT_EQ(StatOf(path).st_uid, UnprivilegedUid());
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0644u);
}

TEST(ReplaceFileContent, ACrashWhileWritingLeavesTheOldFileAndNoTemporary)
{
    TempDir dir;
    const std::string path = dir / "status.dst";
    const std::string old(100000, 'o');
    WriteTextFile(path, old);
    // The file-size limit ends the child by SIGXFSZ in the middle of writing the new content.
    const int result = RunInChild([&] {
        const rlimit limit{65536, 65536};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const std::string content(1 << 20, 'n');
        ferrix::ReplaceFileContent(path, content.data(), content.size());
        return 0;
    });
    EXPECT_EQ(result, 128 + SIGXFSZ);
    EXPECT_TRUE(ReadTextFile(path) == old);
    EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"status.dst"});
}

TEST(ReplaceFileContent, AFullFileSystemLeavesTheOldFileAndNoTemporary)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a file system needs root";
    SmallFileSystem fs(256 * 1024);
    WriteTextFile(fs / "settings.ini", "[General]\nkept=1\n");
    ASSERT_TRUE(fs.Fill("filler"));
    const std::string content(64 * 1024, 'n');
    errno = 0;
    EXPECT_FALSE(ferrix::ReplaceFileContent(fs / "settings.ini", content.data(), content.size()));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(ReadTextFile(fs / "settings.ini"), "[General]\nkept=1\n");
    EXPECT_EQ(NamesIn(fs.Path()), (std::vector<std::string>{"filler", "settings.ini"}));
}

TEST(ReadFileContent, ReadsRegularFilesOnly)
{
    TempDir dir;
    const std::string big(3 * 65536 + 17, 'b');
    WriteTextFile(dir / "big", big);
    WriteTextFile(dir / "empty", "");
    ASSERT_EQ(::symlink((dir / "big").c_str(), (dir / "link").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    std::string content;
    EXPECT_TRUE(ferrix::ReadFileContent(dir / "big", content));
    EXPECT_TRUE(content == big);
    EXPECT_TRUE(ferrix::ReadFileContent(dir / "empty", content));
    EXPECT_EQ(content, "");
    EXPECT_TRUE(ferrix::ReadFileContent(dir / "link", content));
    EXPECT_EQ(content.size(), big.size());

    // A fifo without a writer would block a plain read for ever.
    const std::map<std::string, std::pair<bool, int>> refused = {
        {"fifo", {true, EINVAL}}, {"", {true, EISDIR}}, {"gone", {true, ENOENT}}, {"link", {false, ELOOP}}};
    for (const auto& [name, how] : refused) {
        errno = 0;
        EXPECT_FALSE(ferrix::ReadFileContent(dir / name, content, how.first)) << name;
        EXPECT_EQ(errno, how.second) << name;
        EXPECT_EQ(content, "") << name;
    }
}

TEST(ReadFileHead, CutsALongFileAndReadsAShortOneWhole)
{
    TempDir dir;
    std::string big(3 * 65536 + 17, 'b');
    big[70000] = 'x';
    WriteTextFile(dir / "big", big);
    WriteTextFile(dir / "small", "short");
    std::string buffer(70001, '\0');
    size_t count = 1;
    ASSERT_TRUE(ferrix::ReadFileHead(dir / "big", buffer.data(), buffer.size(), count));
    EXPECT_EQ(count, 70001u);
    EXPECT_TRUE(buffer == big.substr(0, 70001));
    ASSERT_TRUE(ferrix::ReadFileHead(dir / "small", buffer.data(), buffer.size(), count));
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(buffer.substr(0, 5), "short");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    errno = 0;
    EXPECT_FALSE(ferrix::ReadFileHead(dir / "fifo", buffer.data(), buffer.size(), count));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(ferrix::ReadFileHead(dir / "gone", buffer.data(), buffer.size(), count));
    EXPECT_EQ(errno, ENOENT);
}

TEST(AppendFileLine, LinesOfManyWritersNeverInterleave)
{
    TempDir dir;
    const std::string path = dir / "test.log";
    constexpr int Writers = 4;
    constexpr int Lines = 500;
    std::vector<pid_t> children;
    for (int w = 0; w < Writers; ++w) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const std::string line = std::string(1000, static_cast<char>('a' + w)) + "\r\n";
            bool ok = true;
            for (int i = 0; i < Lines; ++i)
                ok = ferrix::AppendFileLine(path, line) && ok;
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::vector<std::string> lines = LogMessages(path);
    ASSERT_EQ(lines.size(), static_cast<size_t>(Writers * Lines));
    for (const std::string& line : lines)
        ASSERT_TRUE(line == std::string(1000, line[0])) << line.substr(0, 40);
}

TEST(AppendFileLine, CreatesTheFileButNeverWritesThroughALink)
{
    TempDir dir;
    const mode_t umask = ::umask(0);
    EXPECT_TRUE(ferrix::AppendFileLine(dir / "new.log", "one\n", 0640));
    ::umask(umask);
    EXPECT_TRUE(ferrix::AppendFileLine(dir / "new.log", "two\n"));
    EXPECT_EQ(ReadTextFile(dir / "new.log"), "one\ntwo\n");
    EXPECT_EQ(StatOf(dir / "new.log").st_mode & 07777, 0640u);

    WriteTextFile(dir / "passwd", "root:x:0:0\n");
    ASSERT_EQ(::symlink((dir / "passwd").c_str(), (dir / "link.log").c_str()), 0);
    errno = 0;
    EXPECT_FALSE(ferrix::AppendFileLine(dir / "link.log", "evil\n"));
    EXPECT_EQ(errno, ELOOP);
    EXPECT_EQ(ReadTextFile(dir / "passwd"), "root:x:0:0\n");
}

}  // namespace
