#include "foundation/verinfo.h"

#include <cstdlib>
#include <gtest/gtest.h>

#include "platform/process/progdir.h"
#include "platform/version/verblock.h"
#include "testkit.h"

// This test program carries its own block (tests/CMakeLists.txt): version 2.5.0.17, pre-release,
// string tables 040904E4 and then 040C04E4 with the same texts.

namespace {

const char* const OwnDescription = "Version reader tests";
const char* const OwnCopyright = "Copyright \xC2\xA9 \"Ferrix\" team";
const char* const OwnComments = "Comments with a back\\slash";

void ExpectNoResource(const TVersionInfo& info)
{
    EXPECT_EQ(info.Major, 0);
    EXPECT_EQ(info.Minor, 0);
    EXPECT_EQ(info.Release, 0);
    EXPECT_EQ(info.Build, 0);
    EXPECT_FALSE(info.Debug);
    EXPECT_FALSE(info.PreRelease);
    EXPECT_EQ(info.FileDescription, "");
    EXPECT_EQ(info.LegalCopyright, "");
    EXPECT_EQ(info.Comments, "");
}

// A copy of /bin/true with the given block in its ".verinfo" section, made by objcopy.
std::string ProgramWithBlock(const TempDir& dir, const std::vector<uint8_t>& block)
{
    const std::string blockFile = dir / "block.bin";
    const std::string program = dir / "program";
    WriteTextFile(blockFile, std::string(block.begin(), block.end()));
    const std::string command = "objcopy --add-section .verinfo=" + blockFile +
                                " --set-section-flags .verinfo=alloc,readonly /bin/true " + program;
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("objcopy failed");
    return program;
}

}  // namespace

TEST(VersionInfo, RunningProgramByDefault)
{
    const TVersionInfo info;
    EXPECT_EQ(info.FileName, ferrix::ProgramFilePath());
    EXPECT_EQ(info.Major, 2);
    EXPECT_EQ(info.Minor, 5);
    EXPECT_EQ(info.Release, 0);
    EXPECT_EQ(info.Build, 17);
    EXPECT_TRUE(info.PreRelease);
    EXPECT_EQ(info.Debug, FERRIX_DEBUG_BUILD != 0);
    EXPECT_EQ(info.LangCharset, "040904E4");  // the first translation entry, upper-case
    EXPECT_EQ(info.FileDescription, OwnDescription);
    EXPECT_EQ(info.LegalCopyright, OwnCopyright);
    EXPECT_EQ(info.Comments, OwnComments);
}

TEST(VersionInfo, AnotherProgramCarriesTheProjectVersion)
{
    const TVersionInfo info(FERRIX_SERVICE_SAMPLE);
    const uint16_t project[] = {FERRIX_PROJECT_VERSION};
    EXPECT_EQ(info.FileName, FERRIX_SERVICE_SAMPLE);
    EXPECT_EQ(info.Major, project[0]);
    EXPECT_EQ(info.Minor, project[1]);
    EXPECT_EQ(info.Release, project[2]);
    EXPECT_EQ(info.Build, 0);
    EXPECT_FALSE(info.PreRelease);
    EXPECT_EQ(info.Debug, FERRIX_DEBUG_BUILD != 0);
    EXPECT_EQ(info.FileDescription, "Ferrix service sample");
    EXPECT_EQ(info.LegalCopyright, "");
}

TEST(VersionInfo, GivenLanguageIsUsedAsGiven)
{
    const TVersionInfo second("", "040C04E4");
    EXPECT_EQ(second.LangCharset, "040C04E4");
    EXPECT_EQ(second.FileDescription, OwnDescription);

    const TVersionInfo lower("", "040c04e4");
    EXPECT_EQ(lower.LangCharset, "040c04e4");
    EXPECT_EQ(lower.Comments, OwnComments);

    // A table the file lacks: no texts, and no falling back to the translation table.
    const TVersionInfo absent("", "041004E4");
    EXPECT_EQ(absent.LangCharset, "041004E4");
    EXPECT_EQ(absent.Major, 2);
    EXPECT_EQ(absent.Build, 17);
    EXPECT_EQ(absent.FileDescription, "");
    EXPECT_EQ(absent.LegalCopyright, "");
    EXPECT_EQ(absent.Comments, "");
}

TEST(VersionInfo, FirstOfSeveralTranslations)
{
    TempDir dir;
    const TVersionStrings tables[] = {
        {0x040C, 0x04E4, "Service de transport", "Tous droits", "Remarques"},
        {0x0409, 0x04E4, "Transport service", "All rights", "Remarks"},
    };
    const std::string program = ProgramWithBlock(dir, BuildVersionBlock({{3, 1, 4, 1}, false, false, tables}));

    const TVersionInfo first(program);
    EXPECT_EQ(first.LangCharset, "040C04E4");
    EXPECT_EQ(first.FileDescription, "Service de transport");
    EXPECT_EQ(first.Comments, "Remarques");
    EXPECT_EQ(first.Major, 3);
    EXPECT_EQ(first.Release, 4);
    EXPECT_FALSE(first.Debug);

    const TVersionInfo english(program, "040904E4");
    EXPECT_EQ(english.FileDescription, "Transport service");
    EXPECT_EQ(english.LegalCopyright, "All rights");
}

TEST(VersionInfo, FilesWithoutAResource)
{
    // An ELF program without the block, and a missing file (the reader's own tests try more kinds).
    for (const std::string path : {"/bin/true", "/nonexistent/ferrix/program"}) {
        const TVersionInfo info(path);
        EXPECT_EQ(info.FileName, path);
        EXPECT_EQ(info.LangCharset, "") << path;
        ExpectNoResource(info);
    }
    const TVersionInfo given("/bin/true", "040904E4");
    EXPECT_EQ(given.LangCharset, "040904E4");
    ExpectNoResource(given);
}

TEST(VersionInfo, DamagedBlocksKeepWhatWasRead)
{
    TempDir dir;
    const TVersionStrings table[] = {{0x0409, 0x04E4, "Description", "Copyright", "Comments"}};
    std::vector<uint8_t> block = BuildVersionBlock({{1, 2, 3, 4}, true, true, table});

    // No translation table: the fixed information is read, the texts are not found.
    const TVersionInfo noTable(ProgramWithBlock(dir, BuildVersionBlock({{1, 2, 3, 4}, true, true, {}})));
    EXPECT_EQ(noTable.Minor, 2);
    EXPECT_TRUE(noTable.Debug);
    EXPECT_EQ(noTable.LangCharset, "");
    EXPECT_EQ(noTable.FileDescription, "");

    // A signature that does not match: no numbers, but the string table is still read.
    std::vector<uint8_t> badSignature = block;
    badSignature[24] ^= 0xFF;
    const TVersionInfo unsigned_(ProgramWithBlock(dir, badSignature));
    EXPECT_EQ(unsigned_.Major, 0);
    EXPECT_FALSE(unsigned_.Debug);
    EXPECT_EQ(unsigned_.FileDescription, "Description");

    // A root that claims more bytes than the section holds: nothing at all.
    std::vector<uint8_t> cut(block.begin(), block.end() - 8);
    ExpectNoResource(TVersionInfo(ProgramWithBlock(dir, cut)));
}
