#include "platform/version/verresource.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/process/progdir.h"
#include "platform/version/verblock.h"
#include "testkit.h"

namespace {

// The block the build gave the sample program: the project version, no pre-release flag.
std::vector<uint8_t> SampleBlock()
{
    constexpr uint16_t project[] = {FERRIX_PROJECT_VERSION};
    const TVersionStrings table[] = {{0x0409, 0x04E4, "Ferrix service sample", "", ""}};
    return BuildVersionBlock({{project[0], project[1], project[2], 0}, FERRIX_DEBUG_BUILD != 0, false, table});
}

}  // namespace

TEST(VersionResource, ReadsTheBlockOfABuiltProgram)
{
    std::vector<uint8_t> data;
    ASSERT_TRUE(GetFileVersionInfo(FERRIX_SERVICE_SAMPLE, data));
    const std::vector<uint8_t> expected = SampleBlock();
    // Sanitizer builds may pad the section after the block.
    ASSERT_GE(data.size(), expected.size());
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected);
}

TEST(VersionResource, FilesWithoutABlock)
{
    TempDir dir;
    WriteTextFile(dir / "data.txt", "plain text, no ELF header\n");
    WriteTextFile(dir / "empty", "");
    std::filesystem::create_directory(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    // An ELF file cut short: its section headers are gone.
    std::ifstream in(FERRIX_SERVICE_SAMPLE, std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    WriteTextFile(dir / "cut", head);

    // This test program carries no version block.
    for (const std::string& path : {ferrix::ProgramFilePath(), dir / "data.txt", dir / "empty", dir / "folder", dir / "fifo",
                                    dir / "cut", dir / "missing", std::string()}) {
        std::vector<uint8_t> data{1, 2, 3};
        EXPECT_FALSE(GetFileVersionInfo(path, data)) << path;
        EXPECT_TRUE(data.empty()) << path;
    }
}
