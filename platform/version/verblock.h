// The version block every program of the project carries in its ELF section ".verinfo", in the
// manner of a Windows version resource. The block is written at compile time by the source that
// ferrix_add_version_info generates (MakeVersionBlock) and read back with VerQueryValue.
//
// The block is a tree of nodes. Numbers are little-endian; every node starts on a 4-byte boundary
// counted from the start of the block.
//   uint16 Length       bytes of the node from its start to the end of its last child (or value)
//   uint16 ValueLength  bytes of the value; a text value counts its terminating NUL
//   uint16 Type         0 binary value, 1 text value
//   char   Key[]        NUL-terminated
//   padding to 4 bytes, the value, padding to 4 bytes, then the child nodes one after another
//
//   "VS_VERSION_INFO"        value: the fixed file information (TFixedFileInfo, 52 bytes)
//     "StringFileInfo"
//       "040904E4"           a string table: language and code page as 8 upper-case hex digits
//         "FileDescription"  text
//         "LegalCopyright"   text
//         "Comments"         text
//     "VarFileInfo"
//       "Translation"        value: one uint32 per string table, language low, code page high
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

constexpr uint32_t VersionSignature = 0xFEEF04BD;
constexpr uint32_t VersionStrucVersion = 0x00010000;
constexpr uint32_t VS_FF_DEBUG = 0x1;
constexpr uint32_t VS_FF_PRERELEASE = 0x2;
constexpr uint32_t VersionFlagsMask = 0x3F;
constexpr uint32_t VersionFileTypeApp = 1;

// The value of the root node: thirteen 32-bit words in this order.
struct TFixedFileInfo {
    uint32_t Signature = 0;
    uint32_t StrucVersion = 0;
    uint32_t FileVersionMS = 0;  // major in the high word, minor in the low word
    uint32_t FileVersionLS = 0;  // release in the high word, build in the low word
    uint32_t ProductVersionMS = 0;
    uint32_t ProductVersionLS = 0;
    uint32_t FileFlagsMask = 0;
    uint32_t FileFlags = 0;  // VS_FF_DEBUG, VS_FF_PRERELEASE
    uint32_t FileOS = 0;
    uint32_t FileType = 0;
    uint32_t FileSubtype = 0;
    uint32_t FileDateMS = 0;
    uint32_t FileDateLS = 0;
};
constexpr size_t FixedFileInfoSize = 13 * 4;

// One string table and its translation entry.
struct TVersionStrings {
    uint16_t Language = 0;
    uint16_t CodePage = 0;
    std::string_view FileDescription;
    std::string_view LegalCopyright;
    std::string_view Comments;
};

struct TVersionBlockSource {
    std::array<uint16_t, 4> FileVersion{};  // major, minor, release, build
    bool Debug = false;
    bool PreRelease = false;
    std::span<const TVersionStrings> Tables;  // in translation-table order
};

namespace verblock_detail {

constexpr uint16_t BinaryValue = 0;
constexpr uint16_t TextValue = 1;

// Sinks the writer puts its bytes into: a counter, a fixed array (compile time), a vector.
struct TSizeCounter {
    size_t Count = 0;
    constexpr size_t Size() const { return Count; }
    constexpr void Put(uint8_t) { ++Count; }
    constexpr void Set(size_t, uint8_t) {}
};

template <size_t N>
struct TArraySink {
    std::array<uint8_t, N> Bytes{};
    size_t Count = 0;
    constexpr size_t Size() const { return Count; }
    constexpr void Put(uint8_t value)
    {
        if (Count >= N)
            throw std::length_error("version block larger than counted");
        Bytes[Count++] = value;
    }
    constexpr void Set(size_t at, uint8_t value) { Bytes[at] = value; }
};

struct TVectorSink {
    std::vector<uint8_t>& Bytes;
    size_t Size() const { return Bytes.size(); }
    void Put(uint8_t value) { Bytes.push_back(value); }
    void Set(size_t at, uint8_t value) { Bytes[at] = value; }
};

template <class TSink>
constexpr void Put16(TSink& out, uint16_t value)
{
    out.Put(static_cast<uint8_t>(value & 0xFF));
    out.Put(static_cast<uint8_t>(value >> 8));
}

template <class TSink>
constexpr void Put32(TSink& out, uint32_t value)
{
    Put16(out, static_cast<uint16_t>(value & 0xFFFF));
    Put16(out, static_cast<uint16_t>(value >> 16));
}

template <class TSink>
constexpr void PutText(TSink& out, std::string_view text)
{
    for (const char c : text)
        out.Put(static_cast<uint8_t>(c));
    out.Put(0);
}

template <class TSink>
constexpr void Pad(TSink& out)
{
    while (out.Size() % 4 != 0)
        out.Put(0);
}

constexpr uint16_t Checked16(size_t value)
{
    if (value > 0xFFFF)
        throw std::length_error("version block too large");
    return static_cast<uint16_t>(value);
}

// Writes a node's header and key; the caller writes the value and the children, then EndNode.
template <class TSink>
constexpr size_t BeginNode(TSink& out, std::string_view key, size_t valueLength, uint16_t type)
{
    Pad(out);
    const size_t start = out.Size();
    Put16(out, 0);
    Put16(out, Checked16(valueLength));
    Put16(out, type);
    PutText(out, key);
    Pad(out);
    return start;
}

template <class TSink>
constexpr void EndNode(TSink& out, size_t start)
{
    const uint16_t length = Checked16(out.Size() - start);
    out.Set(start, static_cast<uint8_t>(length & 0xFF));
    out.Set(start + 1, static_cast<uint8_t>(length >> 8));
}

template <class TSink>
constexpr void TextNode(TSink& out, std::string_view key, std::string_view text)
{
    const size_t start = BeginNode(out, key, text.size() + 1, TextValue);
    PutText(out, text);
    EndNode(out, start);
}

// "040904E4" for language 0x0409 and code page 1252.
constexpr std::array<char, 8> TableKey(const TVersionStrings& table)
{
    constexpr char digits[] = "0123456789ABCDEF";
    const uint32_t value = (uint32_t{table.Language} << 16) | table.CodePage;
    std::array<char, 8> key{};
    for (int i = 0; i < 8; ++i)
        key[static_cast<size_t>(i)] = digits[(value >> (28 - 4 * i)) & 0xF];
    return key;
}

}  // namespace verblock_detail

template <class TSink>
constexpr void WriteVersionBlock(const TVersionBlockSource& source, TSink& out)
{
    using namespace verblock_detail;
    const auto& v = source.FileVersion;
    const uint32_t versionMS = (uint32_t{v[0]} << 16) | v[1];
    const uint32_t versionLS = (uint32_t{v[2]} << 16) | v[3];
    const uint32_t flags = (source.Debug ? VS_FF_DEBUG : 0) | (source.PreRelease ? VS_FF_PRERELEASE : 0);

    const size_t root = BeginNode(out, "VS_VERSION_INFO", FixedFileInfoSize, BinaryValue);
    for (const uint32_t word : {VersionSignature, VersionStrucVersion, versionMS, versionLS, versionMS, versionLS,
                                VersionFlagsMask, flags, uint32_t{0}, VersionFileTypeApp, uint32_t{0}, uint32_t{0},
                                uint32_t{0}})
        Put32(out, word);

    const size_t stringInfo = BeginNode(out, "StringFileInfo", 0, BinaryValue);
    for (const TVersionStrings& table : source.Tables) {
        const auto key = TableKey(table);
        const size_t tableNode = BeginNode(out, std::string_view(key.data(), key.size()), 0, BinaryValue);
        TextNode(out, "FileDescription", table.FileDescription);
        TextNode(out, "LegalCopyright", table.LegalCopyright);
        TextNode(out, "Comments", table.Comments);
        EndNode(out, tableNode);
    }
    EndNode(out, stringInfo);

    const size_t varInfo = BeginNode(out, "VarFileInfo", 0, BinaryValue);
    const size_t translation = BeginNode(out, "Translation", 4 * source.Tables.size(), BinaryValue);
    for (const TVersionStrings& table : source.Tables)
        Put32(out, (uint32_t{table.CodePage} << 16) | table.Language);
    EndNode(out, translation);
    EndNode(out, varInfo);

    EndNode(out, root);
}

constexpr size_t VersionBlockSize(const TVersionBlockSource& source)
{
    verblock_detail::TSizeCounter counter;
    WriteVersionBlock(source, counter);
    return counter.Count;
}

// The block as a constant, for the section of a program: N must be VersionBlockSize(source).
template <size_t N>
constexpr std::array<uint8_t, N> MakeVersionBlock(const TVersionBlockSource& source)
{
    verblock_detail::TArraySink<N> sink;
    WriteVersionBlock(source, sink);
    return sink.Bytes;
}

// The same block built at run time.
std::vector<uint8_t> BuildVersionBlock(const TVersionBlockSource& source);

// Finds the value of the node named by subBlock: "\" for the root, "\VarFileInfo\Translation",
// "\StringFileInfo\040904E4\Comments". Keys compare without regard to case. False when the path
// names no node or the block is malformed; never reads outside the block.
bool VerQueryValue(std::span<const uint8_t> block, const std::string& subBlock, std::span<const uint8_t>& value);

namespace ferrix {

// Decodes the root value; false when it is too short or lacks the signature.
bool ReadFixedFileInfo(std::span<const uint8_t> value, TFixedFileInfo& info);
// The text of a text value, up to its first NUL.
std::string VersionValueText(std::span<const uint8_t> value);
// The 32-bit little-endian word at a byte offset of a value; false when the value is too short.
bool ReadValueWord(std::span<const uint8_t> value, size_t offset, uint32_t& word);

}  // namespace ferrix
