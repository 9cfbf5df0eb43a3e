// The file copy: whole or not at all under the target's name, with the source's times, refusing
// read-only targets and links, across file systems (the kernel copy's fallback) and on a file
// system without unnamed files (the named temporary).
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/files/copyfile.h"
#include "testkit.h"

namespace fs = std::filesystem;

namespace {

// Copies source to target in dir and checks that the copy, the source's times and nothing else
// are there; then replaces it with other content. Shared by the file systems below.
void CopyAndReplace(const std::string& from, const std::string& dir)
{
    const std::string big = PatternBytes(3 * 1024 * 1024 + 17, 1);
    WriteTextFile(from + "/big.bin", big);
    SetFileTime(from + "/big.bin", 1700000000, 250);
    ASSERT_TRUE(CopyFile(from + "/big.bin", dir + "/big.bin", false)) << strerror(errno);
    EXPECT_TRUE(ReadTextFile(dir + "/big.bin") == big);
    EXPECT_EQ(fs::last_write_time(dir + "/big.bin"), fs::last_write_time(from + "/big.bin"));

    const std::string other = PatternBytes(100 * 1024, 2);
    WriteTextFile(from + "/other.bin", other);
    ASSERT_TRUE(CopyFile(from + "/other.bin", dir + "/big.bin", false)) << strerror(errno);
    EXPECT_TRUE(ReadTextFile(dir + "/big.bin") == other);

    errno = 0;
    EXPECT_FALSE(CopyFile(from + "/big.bin", dir + "/big.bin", true));
    EXPECT_EQ(errno, EEXIST);
    ASSERT_TRUE(CopyFile(from + "/big.bin", dir + "/new.bin", true)) << strerror(errno);
    EXPECT_TRUE(ReadTextFile(dir + "/new.bin") == big);
    EXPECT_TRUE(ReadTextFile(dir + "/big.bin") == other);
}

// A sparse file of 1 GiB with three pieces of data, the last one before a hole to the end, copied
// from dir into to: the copy has the same size and data and takes no more room than the source.
void CopySparseFile(const std::string& dir, const std::string& to)
{
    const off_t size = off_t{1} << 30;
    const std::vector<off_t> offsets = {0, (off_t{300} << 20) + 5, size - (off_t{1} << 20)};
    const std::string piece = PatternBytes(10000, 3);
    {
        const ferrix::TFileDescriptor file(::open((dir + "/sparse").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644));
        ASSERT_TRUE(file.Valid());
        for (const off_t offset : offsets)
            ASSERT_EQ(::pwrite(file.Get(), piece.data(), piece.size(), offset), static_cast<ssize_t>(piece.size()));
        ASSERT_EQ(::ftruncate(file.Get(), size), 0);
    }
    ASSERT_TRUE(CopyFile(dir + "/sparse", to + "/sparse", false)) << strerror(errno);

    struct stat source{}, copy{};
    ASSERT_EQ(::stat((dir + "/sparse").c_str(), &source), 0);
    ASSERT_EQ(::stat((to + "/sparse").c_str(), &copy), 0);
    EXPECT_EQ(copy.st_size, size);
    EXPECT_LE(copy.st_blocks, source.st_blocks + 64);
    const ferrix::TFileDescriptor file(::open((to + "/sparse").c_str(), O_RDONLY));
    std::string read(piece.size(), '\0');
    for (const off_t offset : offsets) {
        ASSERT_EQ(::pread(file.Get(), read.data(), read.size(), offset), static_cast<ssize_t>(read.size()));
        EXPECT_TRUE(read == piece) << offset;
    }
}

}  // namespace

TEST(CopyFile, CopiesWholeWithTheSourceTimesAndLeavesNothingElse)
{
    TempDir dir;
    fs::create_directories(dir / "to");
    CopyAndReplace(dir.Path(), dir / "to");
    EXPECT_EQ(NamesIn(dir / "to"), (std::vector<std::string>{"big.bin", "new.bin"}));

    // An empty file and a file given to an unwritable place.
    WriteTextFile(dir / "empty", "");
    ASSERT_TRUE(CopyFile(dir / "empty", dir / "to/empty", false));
    EXPECT_EQ(fs::file_size(dir / "to/empty"), 0u);
    errno = 0;
    EXPECT_FALSE(CopyFile(dir / "empty", dir / "missing/empty", false));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(CopyFile(dir / "to", dir / "dir-copy", false));
    EXPECT_FALSE(fs::exists(dir / "dir-copy"));
}

// Without its owner write bit a file is read-only: no copy replaces it, not even root's, until the
// bit is back.
TEST(CopyFile, RefusesAReadOnlyTargetUntilItsWriteBitIsBack)
{
    TempDir dir;
    WriteTextFile(dir / "source", "new content");
    WriteTextFile(dir / "target", "kept");
    ASSERT_EQ(chmod((dir / "target").c_str(), 0444), 0);

    errno = 0;
    EXPECT_FALSE(CopyFile(dir / "source", dir / "target", false));
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(ReadTextFile(dir / "target"), "kept");
    EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"source", "target"}));

    ASSERT_EQ(chmod((dir / "target").c_str(), 0644), 0);
    EXPECT_TRUE(CopyFile(dir / "source", dir / "target", false));
    EXPECT_EQ(ReadTextFile(dir / "target"), "new content");
}

// A new copy takes the source's permission bits less the umask, never the wider default of a new
// file: a private file stays private. A read-only source gives a copy its owner may replace.
TEST(CopyFile, TakesTheSourcesPermissionBits)
{
    TempDir dir;
    fs::create_directories(dir / "to");
    const struct {
        const char* Name;
        mode_t Mode;
        mode_t Landed;
    } files[] = {{"private", 0600, 0600}, {"shared", 0644, 0644}, {"open", 0666, 0644}, {"readonly", 0440, 0640}};
    const mode_t umask = ::umask(022);
    for (const auto& file : files) {
        WriteTextFile(dir / file.Name, "data");
        struct stat st{};
        EXPECT_TRUE(chmod((dir / file.Name).c_str(), file.Mode) == 0 &&
                    CopyFile(dir / file.Name, dir / ("to/" + std::string(file.Name)), false) &&
                    stat((dir / ("to/" + std::string(file.Name))).c_str(), &st) == 0)
            << file.Name << ": " << strerror(errno);
        EXPECT_EQ(st.st_mode & 0777, file.Landed) << file.Name;
    }
    ::umask(umask);
}

// A link as source is refused; a link as target is replaced by the copy, and the file it pointed
// at keeps its content.
TEST(CopyFile, NeverReadsOrWritesThroughALink)
{
    TempDir dir;
    WriteTextFile(dir / "secret", "secret");
    WriteTextFile(dir / "source", "data");
    fs::create_symlink(dir / "secret", dir / "link-source");
    fs::create_symlink(dir / "secret", dir / "link-target");

    errno = 0;
    EXPECT_FALSE(CopyFile(dir / "link-source", dir / "copy", false));
    EXPECT_EQ(errno, ELOOP);
    EXPECT_FALSE(fs::exists(dir / "copy"));

    ASSERT_TRUE(CopyFile(dir / "source", dir / "link-target", false));
    EXPECT_FALSE(fs::is_symlink(dir / "link-target"));
    EXPECT_EQ(ReadTextFile(dir / "link-target"), "data");
    EXPECT_EQ(ReadTextFile(dir / "secret"), "secret");
}

// From a tmpfs to the test's own file system the kernel's copy refuses (EXDEV): the copy goes on
// through a buffer.
TEST(CopyFile, CopiesAcrossFileSystems)
{
    struct stat shm{}, tmp{};
    TempDir dir;
    if (stat("/dev/shm", &shm) != 0 || stat(dir.Path().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm";
    char pattern[] = "/dev/shm/copyfile-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string from = pattern;
    CopyAndReplace(from, dir.Path());
    fs::remove_all(from);
    EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"big.bin", "new.bin"}));
}

// Where the file system has no unnamed files the copy is written under a temporary name and
// renamed, and still leaves nothing else behind.
TEST(CopyFile, WorksWhereTheFileSystemHasNoUnnamedFiles)
{
    TempDir dir;
    const std::string to = dir / "to";
    fs::create_directories(to);
    RunWithoutUnnamedFiles([&] { CopyAndReplace(dir.Path(), to); });
    EXPECT_EQ(NamesIn(to), (std::vector<std::string>{"big.bin", "new.bin"}));

    // A copy that fails midway (at the file size limit) removes its temporary name again.
    int error = 0;
    {
        const TFileSizeLimit limit(64 * 1024);
        RunWithoutUnnamedFiles([&] {
            EXPECT_FALSE(CopyFile(dir / "big.bin", to + "/big.bin", false));
            error = errno;
        });
    }
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(NamesIn(to), (std::vector<std::string>{"big.bin", "new.bin"}));
}

// The holes of a sparse file stay holes, on the test's file system and from a tmpfs (through the
// buffer).
TEST(CopyFile, KeepsTheHolesOfASparseFile)
{
    TempDir dir;
    fs::create_directories(dir / "to");
    CopySparseFile(dir.Path(), dir / "to");

    char pattern[] = "/dev/shm/copyfile-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return;
    const std::unique_ptr<char, void (*)(char*)> removed(pattern, [](char* path) { fs::remove_all(path); });
    CopySparseFile(pattern, dir.Path());
}
