#include "foundation/inifile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include <sys/stat.h>

#include "platform/files/findfile.h"
#include "testkit.h"

namespace {

// Every line kind the writer must leave alone: CR LF ends, comments, odd spacing, a key
// before any section, an unknown section, a blank line closing a section, no final line end.
const std::string Sample =
    "; ferrix settings\r\n"
    "orphan=before any section\r\n"
    "[ General ]\r\n"
    "  LogDetailed =  1  \r\n"
    "# a comment = not a key\r\n"
    "TimeBetweenActions=60\r\n"
    "\r\n"
    "[Unknown]\r\n"
    "Foo=Bar\r\n"
    "[Empty]\r\n"
    "junk line without equals\r\n"
    "[Transport]\r\n"
    "Port=21";

std::string FileNames(const std::string& dir)
{
    std::vector<std::string> names;
    for (const TSearchRec& rec : ferrix::FindFiles(dir, "*"))
        names.push_back(rec.Name);
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const std::string& name : names)
        joined += name + " ";
    return joined;
}

}  // namespace

TEST(IniRead, NamesWithoutRegardToCaseAndDefaultsForWhatIsMissing)
{
    TempDir dir;
    WriteTextFile(dir / "a.ini", Sample);
    TMemIniFile ini(dir / "a.ini");
    EXPECT_EQ(ini.ReadString("general", "LOGDETAILED", "x"), "1");
    EXPECT_EQ(ini.ReadString("GENERAL", "timebetweenactions", "x"), "60");
    EXPECT_EQ(ini.ReadString("unknown", "foo", "x"), "Bar");
    EXPECT_EQ(ini.ReadString("transport", "port", "x"), "21");
    EXPECT_EQ(ini.ReadString("General", "# a comment", "x"), "x");
    EXPECT_EQ(ini.ReadString("General", "Missing", "x"), "x");
    EXPECT_EQ(ini.ReadString("Missing", "Port", "x"), "x");
    EXPECT_EQ(ini.ReadString("General", "orphan", "x"), "x");

    TMemIniFile missing(dir / "none.ini");
    EXPECT_EQ(missing.ReadString("General", "LogDetailed", "d"), "d");
    EXPECT_EQ(missing.ReadInteger("General", "TimeBetweenActions", 60), 60);
    EXPECT_TRUE(missing.ReadBool("General", "LogDetailed", true));

    // A directory or a fifo in place of the file reads as empty, without blocking.
    ASSERT_TRUE(ForceDirectories(dir / "dir.ini"));
    EXPECT_EQ(TMemIniFile(dir / "dir.ini").ReadString("a", "b", "d"), "d");
    ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0644), 0);
    EXPECT_EQ(TMemIniFile(dir / "fifo.ini").ReadString("a", "b", "d"), "d");
}

TEST(IniRead, FirstSectionAndFirstKeyOfANameWin)
{
    TempDir dir;
    WriteTextFile(dir / "a.ini", "[S]\nk=1\nK=2\n[s]\nk=3\nother=4\n");
    TMemIniFile ini(dir / "a.ini");
    EXPECT_EQ(ini.ReadString("S", "k", ""), "1");
    EXPECT_EQ(ini.ReadString("S", "other", "none"), "none");
    ini.WriteString("s", "K", "9");
    EXPECT_EQ(ini.ReadString("S", "k", ""), "9");
    ini.UpdateFile();
    EXPECT_EQ(ReadTextFile(dir / "a.ini"), "[S]\nK=9\nK=2\n[s]\nk=3\nother=4\n");
}

// "k" followed by the number (built with append: GCC 12 warns falsely on "k" + to_string at -O2).
std::string KeyName(size_t i)
{
    return std::string("k").append(std::to_string(i));
}

TEST(IniRead, IntegerAndBooleanRules)
{
    TempDir dir;
    const std::pair<const char*, int> cases[] = {
        {"42", 42},          {"-7", -7},           {"+7", 7},          {"$1F", 31},
        {"x10", 16},         {"X10", 16},          {"0x15", 21},       {"0X15", 21},
        {"-$10", -16},       {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},
        {"$FFFFFFFF", -1},   {"  5  ", 5},         {"007", 7},
        // Not integers: the default.
        {"", -99},           {"abc", -99},         {"12abc", -99},     {"0x", -99},
        {"$", -99},          {"-", -99},           {"2147483648", -99}, {"$100000000", -99},
        {"1 2", -99},        {"0x-1", -99},        {"1.5", -99},       {"00x1", -99},
    };
    std::string text = "[N]\n";
    for (size_t i = 0; i < std::size(cases); ++i)
        text += KeyName(i) + "=" + cases[i].first + "\n";
    text += "b0=0\nb1=2\nb2=-1\nb3=true\nb4=\n";
    WriteTextFile(dir / "n.ini", text);
    TMemIniFile ini(dir / "n.ini");
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(ini.ReadInteger("N", KeyName(i), -99), cases[i].second) << cases[i].first;
    EXPECT_FALSE(ini.ReadBool("N", "b0", true));
    EXPECT_TRUE(ini.ReadBool("N", "b1", false));
    EXPECT_TRUE(ini.ReadBool("N", "b2", false));
    EXPECT_FALSE(ini.ReadBool("N", "b3", false));
    EXPECT_TRUE(ini.ReadBool("N", "b3", true));
    EXPECT_TRUE(ini.ReadBool("N", "b4", true));
}

TEST(IniWrite, ChangesOnlyItsOwnKeyAndKeepsEveryOtherByte)
{
    TempDir dir;
    const std::string path = dir / "a.ini";
    WriteTextFile(path, Sample);
    TMemIniFile ini(path);
    ini.WriteString("GENERAL", "logdetailed", "0");        // replaced in place
    ini.WriteInteger("General", "ExactTimeMode", 1);       // added after the section's last key
    ini.WriteString("Unknown", "Added", "x");              // moves the sections after it
    ini.WriteString("Unknown", "Added2", "x2");            // right after the key just added
    ini.WriteString("Empty", "First", "y");                // added right after the header
    ini.WriteBool("Transport", "PassiveMode", true);       // added to the last section, which had no line end
    ini.WriteString("Directory0", "TrackDirectory", "");   // a new section at the end
    EXPECT_EQ(ReadTextFile(path), Sample) << "nothing reaches the file before UpdateFile";
    ini.UpdateFile();
    EXPECT_EQ(ReadTextFile(path),
              "; ferrix settings\r\n"
              "orphan=before any section\r\n"
              "[ General ]\r\n"
              "logdetailed=0\r\n"
              "# a comment = not a key\r\n"
              "TimeBetweenActions=60\r\n"
              "ExactTimeMode=1\r\n"
              "\r\n"
              "[Unknown]\r\n"
              "Foo=Bar\r\n"
              "Added=x\r\n"
              "Added2=x2\r\n"
              "[Empty]\r\n"
              "First=y\r\n"
              "junk line without equals\r\n"
              "[Transport]\r\n"
              "Port=21\r\n"
              "PassiveMode=1\r\n"
              "\r\n"
              "[Directory0]\r\n"
              "TrackDirectory=\r\n");
    EXPECT_EQ(FileNames(dir.Path()), "a.ini ") << "no temporary file is left behind";
}

TEST(IniWrite, KeysAfterAnUnterminatedLastLine)
{
    TempDir dir;
    const std::string path = dir / "a.ini";
    WriteTextFile(path, "[A]\r\nk=1\r");
    TMemIniFile ini(path);
    ini.WriteString("B", "n", "2");
    ini.WriteString("A", "m", "3");
    ini.WriteString("A", "k", "4");
    ini.WriteString("A", "o", "5");
    ini.UpdateFile();
    EXPECT_EQ(ReadTextFile(path), "[A]\r\nk=4\r\nm=3\r\no=5\r\n\r\n[B]\r\nn=2\r\n");
}

TEST(IniWrite, NewFileAndLineBreaksInValues)
{
    TempDir dir;
    const std::string path = dir / "new.ini";
    {
        TIniFile ini(path);
        ini.WriteString("A", "k", "line1\r\n[B]\nk=injected");
        EXPECT_EQ(ReadTextFile(path), "[A]\nk=line1  [B] k=injected\n") << "an immediate write reaches the file at once";
        ini.WriteBool("A", "flag", false);
        ini.WriteInteger("B", "n", -12);
    }
    EXPECT_EQ(ReadTextFile(path), "[A]\nk=line1  [B] k=injected\nflag=0\n\n[B]\nn=-12\n");
    TMemIniFile back(path);
    EXPECT_EQ(back.ReadString("B", "k", "none"), "none");
    EXPECT_EQ(back.ReadInteger("B", "n", 0), -12);
}

TEST(IniWrite, RefusedWriteRaisesAndLeavesTheOldFileWhole)
{
    TempDir dir;
    const std::string path = dir / "ro.ini";
    WriteTextFile(path, Sample);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    TMemIniFile ini(path);
    ini.WriteString("General", "LogDetailed", "0");
    try {
        ini.UpdateFile();
        FAIL() << "a read-only file took the write";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + path);
    }
    EXPECT_EQ(ReadTextFile(path), Sample);

    // A directory in place of the file.
    ASSERT_TRUE(ForceDirectories(dir / "dir.ini"));
    TIniFile onDir(dir / "dir.ini");
    EXPECT_THROW(onDir.WriteString("A", "k", "v"), EIniFileException);
    EXPECT_TRUE(DirectoryExists(dir / "dir.ini"));

    // A directory that does not exist.
    TIniFile nowhere(dir / "missing/x.ini");
    EXPECT_THROW(nowhere.WriteString("A", "k", "v"), EIniFileException);
    EXPECT_EQ(FileNames(dir.Path()), "dir.ini ro.ini ");
}

TEST(IniWrite, NeverWritesThroughALink)
{
    TempDir dir;
    WriteTextFile(dir / "real.ini", "[A]\nk=1\n");
    ASSERT_EQ(::symlink((dir / "real.ini").c_str(), (dir / "link.ini").c_str()), 0);
    TIniFile ini(dir / "link.ini");
    EXPECT_EQ(ini.ReadString("A", "k", ""), "1");
    try {
        ini.WriteString("A", "k", "2");
        ADD_FAILURE() << "written through the link";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + dir / "link.ini");
    }
    struct stat st {};
    ASSERT_EQ(::lstat((dir / "link.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadTextFile(dir / "real.ini"), "[A]\nk=1\n");
}

TEST(IniWrite, NulBytesAndMegabyteLinesSurviveAWrite)
{
    TempDir dir;
    const std::string junk = std::string("nul\0inside=1\n", 13) + std::string(1024 * 1024, '[') + "\n" +
                             std::string(1024 * 1024, '=') + "\n";
    const std::string content = junk + "[Last]\n" + std::string("value=a\0b\n", 10) +
                                std::string(1024 * 1024, 'x') + "=long\n";
    const std::string path = dir / "big.ini";
    WriteTextFile(path, content);

    TMemIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Last", "value", ""), std::string("a\0b", 3));
    EXPECT_EQ(ini.ReadString("Last", std::string(1024 * 1024, 'X'), ""), "long");
    ini.WriteString("Last", "value", "c");
    ini.WriteString("Last", "added", "1");
    ini.UpdateFile();
    const std::string expected = junk + "[Last]\nvalue=c\n" + std::string(1024 * 1024, 'x') + "=long\nadded=1\n";
    EXPECT_TRUE(ReadTextFile(path) == expected) << "every other byte kept";
}
