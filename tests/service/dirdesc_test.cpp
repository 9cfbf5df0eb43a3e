#include "service/dirdesc.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files/findfile.h"
#include "testkit.h"

namespace {

constexpr int64_t T0 = 1796680884;  // 2026-12-07 22:01:24 UTC
const std::string StatusName = "tr2list0.dst";

class DirListTest : public ::testing::Test {
protected:
    TempDir Dir;
    std::vector<std::string> HandedOver;

    void MakeFile(const std::string& name, size_t size = 1, int64_t seconds = T0, int ms = 0)
    {
        WriteTextFile(Dir / name, std::string(size, 'x'));
        SetFileTime(Dir / name, seconds, ms);
    }
    void WriteStatus(const std::vector<std::string>& lines)
    {
        std::string text = "# directory status file \r\n# directory: x\r\n# file mask: *.arg\r\n# last update: x\r\n";
        for (const std::string& line : lines)
            text += line + "\r\n";
        WriteTextFile(Dir / StatusName, text);
    }
    // The file lines of the status file, after the four header lines.
    std::vector<std::string> StatusLines()
    {
        std::vector<std::string> lines;
        const std::string text = ReadTextFile(Dir / StatusName);
        for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
        EXPECT_GE(lines.size(), 4u);
        lines.erase(lines.begin(), lines.begin() + std::min<size_t>(4, lines.size()));
        return lines;
    }
    // Create, hand over with the handler (default: every file delivered), save; the names handed over.
    std::vector<std::string> Run(TFileHandler handler = nullptr, const std::string& extension = "arg")
    {
        HandedOver.clear();
        TDirectoryList list(Dir.Path(), extension, "entry;arg", StatusName);
        list.ProcessChanged([&](const std::string& path, const std::string& entry, bool& goOn) {
            EXPECT_EQ(entry, "entry;arg");
            EXPECT_EQ(path, Dir / ExtractFileName(path));
            HandedOver.push_back(ExtractFileName(path));
            return handler ? handler(ExtractFileName(path), entry, goOn) : true;
        });
        list.SaveStatusFile();
        return HandedOver;
    }
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(DirListTest, RoundTripListsHandsOverDescendingAndThenNothing)
{
    MakeFile("b.arg", 3, T0, 123);
    MakeFile("A.arg", 1234, T0, 123);
    MakeFile("c.ARG", 0, T0, 5);
    MakeFile(".hidden.arg");
    MakeFile("other.txt");
    MakeFile("old.dst");
    std::filesystem::create_directory(Dir / "sub.arg");
    ASSERT_EQ(mkfifo((Dir / "pipe.arg").c_str(), 0600), 0);

    EXPECT_EQ(Run(), (Names{"c.ARG", "b.arg", "A.arg"}));
    const std::string text = ReadTextFile(Dir / StatusName);
    EXPECT_EQ(text.substr(0, text.find("# last update: ")),
              "# directory status file \r\n# directory: " + Dir.Path() + "\r\n# file mask: *.arg\r\n");
    EXPECT_TRUE(std::regex_search(
        text, std::regex(R"(\n# last update: \d{4}/\d\d/\d\d \d\d:\d\d:\d\d:\d{3} \(UTC [-+]\d\d:\d\d\)\r\nA\.arg)")));
    const Names expected{"A.arg\t1234\t2026/12/07 22:01:24.123 UTC", "b.arg\t3\t2026/12/07 22:01:24.123 UTC",
                         "c.ARG\t0\t2026/12/07 22:01:24.005 UTC"};
    EXPECT_EQ(StatusLines(), expected);

    EXPECT_EQ(Run(), Names{});
    EXPECT_EQ(StatusLines(), expected);

    // With every extension, status files and ".dst" files of any case are still never listed.
    EXPECT_EQ(Run(nullptr, "*"), (Names{"other.txt"}));
}

TEST_F(DirListTest, SizeOrThreeSecondsMakeAFileChanged)
{
    const std::map<std::string, std::string> lines = {
        {"same.arg", "1\t2026/12/07 22:01:24.500 UTC"},
        {"later2999.arg", "1\t2026/12/07 22:01:27.499 UTC"},
        {"earlier2999.arg", "1\t2026/12/07 22:01:21.501 UTC"},
        {"later3.arg", "1\t2026/12/07 22:01:27.500 UTC"},
        {"earlier3.arg", "1\t2026/12/07 22:01:21.500 UTC"},
        {"size.arg", "2\t2026/12/07 22:01:24.500 UTC"},
        {"MiXed.arg", "1\t2026/12/07 22:01:24.500 UTC"},
        {"otherseparators.arg", "1\t2026-12-07T22.01.24,500 UTC"},
    };
    for (const auto& entry : lines)
        MakeFile(entry.first, 1, T0, 500);
    MakeFile("nomsec.arg", 1, T0, 0);          // the line's milliseconds default to 1: 2.999 s
    MakeFile("defaults.arg", 0, 946684802, 0);  // 2000-01-01 00:00:02 UTC, 1.999 s after the defaults
    MakeFile("defaults3.arg", 0, 946684803, 1);
    MakeFile("badsize.arg", 0);
    MakeFile("bigsize.arg", 0);
    MakeFile("twice.arg", 1, T0, 500);
    MakeFile("twice2.arg", 1, T0, 500);
    MakeFile("twin.arg", 1, T0, 500);  // names that differ only in case each find their own line
    MakeFile("TWIN.arg", 2, T0, 500);
    Names status;
    for (const auto& [name, line] : lines)
        status.push_back((name == "MiXed.arg" ? "mixed.ARG" : name) + "\t" + line);
    status.insert(status.end(), {"nomsec.arg\t1\t2026/12/07 22:01:21 UTC", "defaults.arg\t0\tUTC",
                                 "defaults3.arg\t0\tUTC", "badsize.arg\tabc\t2026/12/07 22:01:24.000 UTC",
                                 "bigsize.arg\t4294967296\t2026/12/07 22:01:24.000 UTC", "gone.arg\t1\tUTC",
                                 "twice.arg\t1\t2026/12/07 22:01:24.500 UTC", "twice.arg\t1\t2026/12/07 22:01:34.500 UTC",
                                 "twice2.arg\t1\t2026/12/07 22:01:34.500 UTC",
                                 "twice2.arg\t1\t2026/12/07 22:01:24.500 UTC",
                                 "twin.arg\t1\t2026/12/07 22:01:24.500 UTC", "TWIN.arg\t2\t2026/12/07 22:01:24.500 UTC"});
    WriteStatus(status);

    EXPECT_EQ(Run(), (Names{"twice.arg", "size.arg", "later3.arg", "earlier3.arg", "defaults3.arg"}));
    for (const std::string& line : StatusLines())
        EXPECT_NE(line.rfind("gone.arg", 0), 0u) << "a file that no longer exists stays in the status file";
    EXPECT_EQ(StatusLines().size(), 17u);
}

TEST_F(DirListTest, LinesWithoutUtcAreLocalTimeOfTheBaseBias)
{
    const char* oldTz = getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "XXX-1", 1);  // UTC + 1 hour: bias -60
    MakeFile("local.arg", 1, T0 - 22 * 3600 - 84 + 9 * 3600);  // 2026-12-07 09:00:00 UTC
    MakeFile("utc.arg", 1, T0 - 22 * 3600 - 84 + 10 * 3600);   // 10:00:00 UTC
    WriteStatus({"local.arg\t1\t2026/12/07 10:00:00.000", "utc.arg\t1\t2026/12/07 10:00:00.000"});
    const Names handed = Run();
    oldTz ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    EXPECT_EQ(handed, Names{"utc.arg"});
}

TEST_F(DirListTest, AnOutOfRangeTimeEndsTheReading)
{
    for (const std::string bad : {"0000/12/07 22:01:24.000 UTC", "2026/13/07 22:01:24.000 UTC",
                                  "2026/02/29 22:01:24.000 UTC", "2026/12/07 24:01:24.000 UTC",
                                  "2026/12/07 22:60:24.000 UTC", "2026/12/07 22:01:60.000 UTC"}) {
        MakeFile("a.arg");
        MakeFile("b.arg");
        MakeFile("c.arg");
        WriteStatus({"a.arg\t1\t2026/12/07 22:01:24.000 UTC", "b.arg\t1\t" + bad, "c.arg\t1\t2026/12/07 22:01:24.000 UTC"});
        EXPECT_EQ(Run(), (Names{"c.arg", "b.arg"})) << bad;
    }
}

TEST_F(DirListTest, FailedAndThrowingFilesAreRetriedInTheNextRun)
{
    for (const char* name : {"a.arg", "b.arg", "c.arg", "d.arg", "e.arg"})
        MakeFile(name);
    TDirectoryList list(Dir.Path(), "arg", "", StatusName);
    Names seen;
    list.ProcessChanged([&](const std::string& path, const std::string&, bool& goOn) {
        const std::string name = ExtractFileName(path);
        seen.push_back(name);
        if (name == "d.arg")
            return false;
        if (name == "c.arg") {
            goOn = false;  // not looked at after an exception
            throw Exception("transfer failed");
        }
        return true;  // b.arg returns normally with the flag still cleared: the walk stops
    });
    EXPECT_EQ(seen, (Names{"e.arg", "d.arg", "c.arg", "b.arg"}));
    EXPECT_EQ(list.OKCount(), 2);
    EXPECT_EQ(list.BadCount(), 2);  // the file whose handler raised was not sent either
    list.SaveStatusFile();
    EXPECT_EQ(StatusLines().size(), 2u);
    EXPECT_EQ(Run(), (Names{"d.arg", "c.arg", "a.arg"}));
    EXPECT_EQ(Run(), Names{});
}

TEST_F(DirListTest, ClearingTheContinueFlagStopsAfterThatFile)
{
    for (const char* name : {"a.arg", "b.arg", "c.arg", "d.arg"})
        MakeFile(name);
    EXPECT_EQ(Run([](const std::string& name, const std::string&, bool& goOn) {
                  goOn = name != "c.arg";
                  return true;
              }),
              (Names{"d.arg", "c.arg"}));
    EXPECT_EQ(StatusLines().size(), 2u);
    EXPECT_EQ(Run(), (Names{"b.arg", "a.arg"}));
}

TEST_F(DirListTest, AFileRewrittenBeforeTheSaveIsSentAgain)
{
    MakeFile("kept.arg", 1, T0);
    MakeFile("sent.arg", 1, T0);
    WriteStatus({"kept.arg\t1\t2026/12/07 22:01:24.000 UTC"});
    // Both files change after the scan: one while it is handed over, one that was not changed.
    EXPECT_EQ(Run([&](const std::string& name, const std::string&, bool&) {
                  MakeFile(name, 5, T0 + 60);
                  MakeFile("kept.arg", 5, T0 + 60);
                  return true;
              }),
              Names{"sent.arg"});
    EXPECT_EQ(StatusLines(), (Names{"kept.arg\t1\t2026/12/07 22:01:24.000 UTC", "sent.arg\t1\t2026/12/07 22:01:24.000 UTC"}));
    EXPECT_EQ(Run(), (Names{"sent.arg", "kept.arg"}));
    EXPECT_EQ(Run(), Names{});
}

TEST_F(DirListTest, MissingDirectoryAndTrailingDelimiters)
{
    const auto messageOf = [](const std::string& dir) {
        try {
            TDirectoryList list(dir, "arg", "", "");
        } catch (const Exception& e) {
            return e.Message();
        }
        return std::string("no exception");
    };
    EXPECT_EQ(messageOf(Dir / "nosuch/"), "Directory does not exist\"" + Dir / "nosuch" + "\"");
    EXPECT_EQ(messageOf(""), "Directory does not exist\"\"");
    EXPECT_EQ(TDirectoryList(Dir.Path() + "\\", "arg", "", "").DirPath(), Dir.Path());
    EXPECT_EQ(TDirectoryList(Dir.Path() + "//", "arg", "", "").DirPath(), Dir.Path() + "/");
}

TEST_F(DirListTest, EmptyListWritesTheHeaderOnlyToTheDefaultName)
{
    MakeFile(".hidden.arg");
    MakeFile("x.DST");
    TDirectoryList list(Dir.Path(), "*", "", "");
    bool called = false;
    list.ProcessChanged([&](const std::string&, const std::string&, bool&) { return called = true; });
    EXPECT_FALSE(called);
    list.SaveStatusFile();
    EXPECT_EQ(list.StatusFileName(), "dirlist.dst");
    const std::string text = ReadTextFile(Dir / "dirlist.dst");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
}

TEST_F(DirListTest, SavingRewritesReadOnlyFilesAndReportsFailures)
{
    MakeFile("#note.arg");
    MakeFile("big.arg");
    std::filesystem::resize_file(Dir / "big.arg", (uint64_t(1) << 32) + 5);
    SetFileTime(Dir / "big.arg", T0);
    WriteStatus({});
    ASSERT_EQ(chmod((Dir / StatusName).c_str(), 0444), 0);
    EXPECT_EQ(Run(), (Names{"big.arg", "#note.arg"}));
    EXPECT_EQ(GetFileAttributes(Dir / StatusName) & faReadOnly, 0);
    EXPECT_EQ(StatusLines()[1], "big.arg\t5\t2026/12/07 22:01:24.000 UTC");
    // A name beginning with "#" reads as a comment: changed in every pass.
    EXPECT_EQ(Run(), Names{"#note.arg"});

    for (const auto& [name, code] : {std::pair{std::string("sub.dst"), EISDIR}, {std::string("nosuch/x.dst"), ENOENT}}) {
        std::filesystem::create_directory(Dir / "sub.dst");
        TDirectoryList list(Dir.Path(), "arg", "", name);
        try {
            list.SaveStatusFile();
            ADD_FAILURE() << name;
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.ErrorCode, code);
            EXPECT_EQ(e.Message(), "Unable to write to " + Dir / name + " : " + SysErrorMessage(code));
        }
    }
}

// The names in the test directory, sorted: a leftover temporary file shows here.
Names DirectoryNames(const std::string& dir)
{
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(DirListTest, ACrashWhileSavingLeavesTheOldStatusFile)
{
    MakeFile("a.arg");
    EXPECT_EQ(Run(), Names{"a.arg"});
    const std::string old = ReadTextFile(Dir / StatusName);
    for (int i = 0; i < 50; ++i)
        MakeFile("new" + std::to_string(i) + ".arg");
    const Names before = DirectoryNames(Dir.Path());
    // The file-size limit ends the child by SIGXFSZ in the middle of writing the status file.
    const int result = RunInChild([&] {
        TDirectoryList list(Dir.Path(), "arg", "", StatusName);
        list.ProcessChanged([](const std::string&, const std::string&, bool&) { return true; });
        const rlimit limit{512, 512};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        list.SaveStatusFile();
        return 0;
    });
    EXPECT_EQ(result, 128 + SIGXFSZ);
    EXPECT_EQ(ReadTextFile(Dir / StatusName), old);
    EXPECT_EQ(DirectoryNames(Dir.Path()), before);
    // The next pass hands over exactly the files the lost save did not record.
    EXPECT_EQ(Run().size(), 50u);
}

// A user who may write a data directory must not make the service read or write another file.
TEST_F(DirListTest, AStatusFileLinkIsNeitherReadNorWrittenThrough)
{
    MakeFile("a.arg", 1, T0);
    const std::string victim = Dir / "victim.txt";
    const std::string content = "# directory status file \r\n# directory: x\r\n# file mask: *.arg\r\n# last update: x\r\n"
                                "a.arg\t1\t2026/12/07 22:01:24.000 UTC\r\n";
    WriteTextFile(victim, content);
    ASSERT_EQ(::symlink(victim.c_str(), (Dir / StatusName).c_str()), 0);
    TDirectoryList list(Dir.Path(), "arg", "", StatusName);
    EXPECT_TRUE(list.Items()[0].Status.Changed);
    list.ProcessChanged([](const std::string&, const std::string&, bool&) { return true; });
    // The status file takes the link's place; the file the link named is left alone.
    list.SaveStatusFile();
    EXPECT_EQ(ReadTextFile(victim), content);
    struct stat st {};
    ASSERT_EQ(::lstat((Dir / StatusName).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(StatusLines(), Names{"a.arg\t1\t2026/12/07 22:01:24.000 UTC"});
}

TEST_F(DirListTest, BadStatusFilesNeitherCrashNorHang)
{
    MakeFile("a.arg", 1, T0);
    MakeFile("z.arg", 1, T0);
    const std::string good = "a.arg\t1\t2026/12/07 22:01:24.000 UTC\r\n";
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 7919) % 256);
    for (const std::string& bad : Names{
             std::string(1 << 20, 'x'),
             std::string(1 << 20, '\t'),
             "z.arg\t" + std::string(1 << 20, '9') + "\t" + std::string(1 << 20, '7'),
             "z.arg\t1\t9999/99/99 99:99:99.999 UTC",
             binary,
         }) {
        WriteTextFile(Dir / StatusName, good + bad + "\r\n" + good);
        TDirectoryList list(Dir.Path(), "arg", "", StatusName);
        EXPECT_FALSE(list.Items()[0].Status.Changed);
    }
    // A file cut short anywhere is read up to the cut; the cut line reads with its defaults.
    const std::string whole = good + "z.arg\t1\t2026/12/07 22:01:24.000 UTC\r\n";
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        TDirectoryItems items;
        items.Add("a.arg", {1, EncodeDateTime(2026, 12, 7, 22, 1, 24, 0), true});
        items.Add("z.arg", {1, EncodeDateTime(2026, 12, 7, 22, 1, 24, 0), true});
        ReadStatusText(items, std::string_view(whole).substr(0, cut), 0);
        if (cut >= good.size())
            EXPECT_FALSE(items[0].Status.Changed) << cut;
        else
            EXPECT_TRUE(items[1].Status.Changed) << cut;
    }
}

// A link is not a data file, wherever it points, and a link in the status file's place is neither
// read as the status file nor written through.
TEST_F(DirListTest, LinksAreNeitherListedNorReadOrWrittenAsTheStatusFile)
{
    TempDir outside;
    WriteTextFile(outside / "secret.arg", "secret");
    const std::string planted = "# directory status file \r\na.arg\t1\t2026/12/07 22:01:24.000 UTC\r\n";
    WriteTextFile(outside / "victim.txt", planted);
    MakeFile("a.arg");
    ASSERT_EQ(symlink((outside / "secret.arg").c_str(), (Dir / "secret.arg").c_str()), 0);
    ASSERT_EQ(symlink((outside / "missing.arg").c_str(), (Dir / "dangling.arg").c_str()), 0);
    ASSERT_EQ(symlink((outside / "victim.txt").c_str(), (Dir / StatusName).c_str()), 0);

    EXPECT_EQ(Run(), Names{"a.arg"});  // the planted line did not mark a.arg as delivered
    EXPECT_EQ(ReadTextFile(outside / "victim.txt"), planted);
    struct stat st {};
    ASSERT_EQ(lstat((Dir / StatusName).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(StatusLines(), Names{"a.arg\t1\t2026/12/07 22:01:24.000 UTC"});
    EXPECT_EQ(Run(), Names{});
}

// Names holding a TAB or a line break are left out: never handed over, never recorded (a line
// break once smuggled a line for the file named after its second half). A name with a leading
// blank is recorded but its line matches no name, so it goes again in every pass and never marks
// the file named without the blank.
TEST_F(DirListTest, NamesAStatusLineCannotHoldAreSkippedAndALeadingBlankGoesEveryPass)
{
    const Names odd = {"\tlead-tab.arg", "cr\r.arg", "evil\nc2.arg", "tab\tc3.arg"};
    for (const std::string& name : odd)
        MakeFile(name, 4);
    MakeFile("ok.arg");
    MakeFile("mid blank.arg");
    MakeFile(" lead-blank.arg");
    {
        TDirectoryList list(Dir.Path(), "arg", "", StatusName);
        Names skipped = list.SkippedNames();
        std::sort(skipped.begin(), skipped.end());
        EXPECT_EQ(skipped, odd);
        EXPECT_EQ(list.Items().Count(), 3);
    }
    EXPECT_EQ(Run(), (Names{"ok.arg", "mid blank.arg", " lead-blank.arg"}));
    EXPECT_EQ(StatusLines().size(), 3u);

    // The file named after the second half arrives with the very size and time of the odd one.
    MakeFile("c2.arg", 4);
    MakeFile("c3.arg", 4);
    MakeFile("lead-blank.arg");
    EXPECT_EQ(Run(), (Names{"lead-blank.arg", "c3.arg", "c2.arg", " lead-blank.arg"}));
    EXPECT_EQ(Run(), Names{" lead-blank.arg"});
}
