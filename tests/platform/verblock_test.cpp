#include "platform/version/verblock.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr TVersionStrings FrenchFirst[] = {
    {0x040C, 0x04E4, "Service de transport", "Droits r\xC3\xA9serv\xC3\xA9s", ""},
    {0x0409, 0x04E4, "Transport service", "All rights reserved", "English comments"},
};
constexpr TVersionBlockSource TwoTables{{2, 5, 0, 17}, false, true, FrenchFirst};

std::string Text(const std::vector<uint8_t>& block, const std::string& path)
{
    std::span<const uint8_t> value;
    if (!VerQueryValue(block, path, value))
        return "<missing>";
    return ferrix::VersionValueText(value);
}

uint16_t Word16(const std::vector<uint8_t>& block, size_t at)
{
    return static_cast<uint16_t>(block[at] | block[at + 1] << 8);
}

}  // namespace

TEST(VersionBlockLayout, NodesAsDocumented)
{
    constexpr TVersionStrings table[] = {{0x0409, 0x04E4, "D", "C", "X"}};
    const std::vector<uint8_t> block = BuildVersionBlock({{1, 2, 3, 4}, true, false, table});

    // Root: length of the whole block, a 52-byte binary value after the key "VS_VERSION_INFO".
    EXPECT_EQ(Word16(block, 0), block.size());
    EXPECT_EQ(Word16(block, 2), FixedFileInfoSize);
    EXPECT_EQ(Word16(block, 4), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&block[6])), "VS_VERSION_INFO");
    const std::vector<uint8_t> fixedStart(block.begin() + 24, block.begin() + 36);
    EXPECT_EQ(fixedStart, (std::vector<uint8_t>{0xBD, 0x04, 0xEF, 0xFE, 0, 0, 1, 0, 2, 0, 1, 0}));
    EXPECT_EQ(Word16(block, 24 + 12), 4);  // build in the low word of the least significant double word
    EXPECT_EQ(Word16(block, 24 + 14), 3);
    EXPECT_EQ(block[24 + 7 * 4], VS_FF_DEBUG);

    // First child right after the value, on a 4-byte boundary.
    const size_t child = 24 + FixedFileInfoSize;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&block[child + 6])), "StringFileInfo");
    EXPECT_EQ(Word16(block, child + 2), 0);

    // The one text value: its length counts the NUL.
    std::span<const uint8_t> value;
    ASSERT_TRUE(VerQueryValue(block, "\\StringFileInfo\\040904E4\\Comments", value));
    EXPECT_EQ(value.size(), 2u);
    EXPECT_EQ((value.data() - block.data()) % 4, 0);
}

TEST(VersionBlockLayout, CompileTimeBlockEqualsRunTimeBlock)
{
    constexpr size_t size = VersionBlockSize(TwoTables);
    constexpr auto fixed = MakeVersionBlock<size>(TwoTables);
    const std::vector<uint8_t> built = BuildVersionBlock(TwoTables);
    EXPECT_EQ(std::vector<uint8_t>(fixed.begin(), fixed.end()), built);
}

TEST(VersionBlockQuery, FindsEveryValueOfTheTree)
{
    const std::vector<uint8_t> block = BuildVersionBlock(TwoTables);

    std::span<const uint8_t> value;
    TFixedFileInfo info;
    ASSERT_TRUE(VerQueryValue(block, "\\", value));
    ASSERT_TRUE(ferrix::ReadFixedFileInfo(value, info));
    EXPECT_EQ(info.FileVersionMS, 0x00020005u);
    EXPECT_EQ(info.FileVersionLS, 0x00000011u);
    EXPECT_EQ(info.FileFlags, VS_FF_PRERELEASE);

    ASSERT_TRUE(VerQueryValue(block, "\\VarFileInfo\\Translation", value));
    uint32_t first = 0, second = 0, third = 0;
    EXPECT_TRUE(ferrix::ReadValueWord(value, 0, first));
    EXPECT_TRUE(ferrix::ReadValueWord(value, 4, second));
    EXPECT_FALSE(ferrix::ReadValueWord(value, 8, third));
    EXPECT_EQ(first, 0x04E4040Cu);
    EXPECT_EQ(second, 0x04E40409u);

    EXPECT_EQ(Text(block, "\\StringFileInfo\\040C04E4\\FileDescription"), "Service de transport");
    EXPECT_EQ(Text(block, "\\StringFileInfo\\040C04E4\\LegalCopyright"), "Droits r\xC3\xA9serv\xC3\xA9s");
    EXPECT_EQ(Text(block, "\\StringFileInfo\\040C04E4\\Comments"), "");
    EXPECT_EQ(Text(block, "\\StringFileInfo\\040904E4\\FileDescription"), "Transport service");
    EXPECT_EQ(Text(block, "\\StringFileInfo\\040904E4\\Comments"), "English comments");
    EXPECT_EQ(Text(block, "\\stringfileinfo\\040904e4\\COMMENTS"), "English comments");
}

TEST(VersionBlockQuery, PathsThatNameNoNode)
{
    const std::vector<uint8_t> block = BuildVersionBlock(TwoTables);
    for (const char* path : {"", "StringFileInfo", "\\StringFileInfo\\\\Comments", "\\StringFileInfo\\041004E4\\Comments",
                             "\\StringFileInfo\\040904E4\\ProductName", "\\StringFileInfo\\040904E4\\Comments\\More",
                             "\\StringFileInfo\\040904E4\\", "\\VarFileInfo\\Translation\\"})
        EXPECT_EQ(Text(block, path), "<missing>") << path;
}

TEST(VersionBlockQuery, MalformedBlocksAreNeverReadOutside)
{
    const std::vector<uint8_t> block = BuildVersionBlock(TwoTables);
    const char* paths[] = {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904E4\\Comments"};

    // Every truncation: the root claims more than there is.
    for (size_t size = 0; size < block.size(); ++size) {
        const std::vector<uint8_t> cut(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(size));
        for (const char* path : paths)
            EXPECT_EQ(Text(cut, path), "<missing>") << size;
    }
    // Every byte changed: whatever is found lies inside the block (AddressSanitizer checks the reads).
    for (size_t at = 0; at < block.size(); ++at) {
        std::vector<uint8_t> bad = block;
        bad[at] ^= 0xFF;
        for (const char* path : paths) {
            std::span<const uint8_t> value;
            if (VerQueryValue(bad, path, value)) {
                EXPECT_GE(value.data(), bad.data());
                EXPECT_LE(value.data() + value.size(), bad.data() + bad.size());
            }
        }
    }
    // A node that ends right after its key, before the padding: an empty value inside the node.
    const std::vector<uint8_t> bare{13, 0, 0, 0, 0, 0, 'R', 'O', 'O', 'T', 'K', 'Y', 0, 0x67};
    std::span<const uint8_t> value;
    ASSERT_TRUE(VerQueryValue(bare, "\\", value));
    EXPECT_TRUE(value.empty());
    EXPECT_LE(value.data(), bare.data() + 13);
    EXPECT_FALSE(VerQueryValue(bare, "\\Child", value));

    // A block followed by padding reads as the block alone.
    std::vector<uint8_t> padded = block;
    padded.resize(block.size() + 40, 0);
    EXPECT_EQ(Text(padded, "\\StringFileInfo\\040904E4\\Comments"), "English comments");
}

TEST(VersionBlockQuery, FixedInfoNeedsItsSignatureAndSize)
{
    std::vector<uint8_t> block = BuildVersionBlock(TwoTables);
    std::span<const uint8_t> value;
    ASSERT_TRUE(VerQueryValue(block, "\\", value));
    TFixedFileInfo info;
    EXPECT_FALSE(ferrix::ReadFixedFileInfo(value.first(FixedFileInfoSize - 1), info));
    block[24] = 0;  // first byte of the signature
    ASSERT_TRUE(VerQueryValue(block, "\\", value));
    EXPECT_FALSE(ferrix::ReadFixedFileInfo(value, info));
}

TEST(VersionBlockBuild, RefusesABlockBeyond64KiB)
{
    const std::string longText(70000, 'x');
    const TVersionStrings table[] = {{0x0409, 0x04E4, longText, "", ""}};
    EXPECT_THROW(BuildVersionBlock({{1, 0, 0, 0}, false, false, table}), std::length_error);
}
