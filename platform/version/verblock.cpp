#include "platform/version/verblock.h"

#include <algorithm>

namespace {

constexpr size_t NodeHeaderSize = 6;

struct TNode {
    size_t End = 0;  // one past the node's last byte
    std::string_view Key;
    size_t ValueStart = 0;
    size_t ValueLength = 0;
    size_t ChildrenStart = 0;
};

size_t Align4(size_t offset)
{
    return (offset + 3) & ~size_t{3};
}

uint16_t Read16(std::span<const uint8_t> block, size_t at)
{
    return static_cast<uint16_t>(block[at] | (block[at + 1] << 8));
}

// Reads the node at offset, which must lie wholly before limit.
bool ReadNode(std::span<const uint8_t> block, size_t offset, size_t limit, TNode& node)
{
    if (offset > limit || limit - offset < NodeHeaderSize)
        return false;
    const size_t length = Read16(block, offset);
    if (length < NodeHeaderSize || length > limit - offset)
        return false;
    node.End = offset + length;
    node.ValueLength = Read16(block, offset + 2);

    const size_t keyStart = offset + NodeHeaderSize;
    const auto keyBegin = block.begin() + static_cast<std::ptrdiff_t>(keyStart);
    const auto keyEnd = std::find(keyBegin, block.begin() + static_cast<std::ptrdiff_t>(node.End), uint8_t{0});
    if (keyEnd == block.begin() + static_cast<std::ptrdiff_t>(node.End))
        return false;
    node.Key = std::string_view(reinterpret_cast<const char*>(block.data() + keyStart),
                                static_cast<size_t>(keyEnd - keyBegin));

    // A node without value or children may end before the padding after its key.
    node.ValueStart = std::min(Align4(keyStart + node.Key.size() + 1), node.End);
    if (node.ValueLength > node.End - node.ValueStart)
        return false;
    node.ChildrenStart = Align4(node.ValueStart + node.ValueLength);
    return true;
}

bool SameKey(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

bool FindChild(std::span<const uint8_t> block, const TNode& parent, std::string_view key, TNode& child)
{
    size_t offset = parent.ChildrenStart;
    while (offset < parent.End) {
        if (!ReadNode(block, offset, parent.End, child))
            return false;
        if (SameKey(child.Key, key))
            return true;
        offset = Align4(child.End);
    }
    return false;
}

}  // namespace

std::vector<uint8_t> BuildVersionBlock(const TVersionBlockSource& source)
{
    std::vector<uint8_t> bytes;
    verblock_detail::TVectorSink sink{bytes};
    WriteVersionBlock(source, sink);
    return bytes;
}

bool VerQueryValue(std::span<const uint8_t> block, const std::string& subBlock, std::span<const uint8_t>& value)
{
    if (subBlock.empty() || subBlock[0] != '\\')
        return false;
    TNode node;
    if (!ReadNode(block, 0, block.size(), node))
        return false;
    if (subBlock.size() > 1) {
        std::string_view rest(subBlock);
        rest.remove_prefix(1);
        for (;;) {
            const size_t cut = rest.find('\\');
            TNode child;
            if (!FindChild(block, node, rest.substr(0, cut), child))
                return false;
            node = child;
            if (cut == std::string_view::npos)
                break;
            rest.remove_prefix(cut + 1);
        }
    }
    value = block.subspan(node.ValueStart, node.ValueLength);
    return true;
}

bool ferrix::ReadValueWord(std::span<const uint8_t> value, size_t offset, uint32_t& word)
{
    if (offset > value.size() || value.size() - offset < 4)
        return false;
    word = static_cast<uint32_t>(value[offset]) | static_cast<uint32_t>(value[offset + 1]) << 8 |
           static_cast<uint32_t>(value[offset + 2]) << 16 | static_cast<uint32_t>(value[offset + 3]) << 24;
    return true;
}

bool ferrix::ReadFixedFileInfo(std::span<const uint8_t> value, TFixedFileInfo& info)
{
    if (value.size() < FixedFileInfoSize)
        return false;
    uint32_t* const fields[] = {&info.Signature,        &info.StrucVersion,     &info.FileVersionMS, &info.FileVersionLS,
                                &info.ProductVersionMS, &info.ProductVersionLS, &info.FileFlagsMask, &info.FileFlags,
                                &info.FileOS,           &info.FileType,         &info.FileSubtype,   &info.FileDateMS,
                                &info.FileDateLS};
    for (size_t i = 0; i < std::size(fields); ++i)
        ferrix::ReadValueWord(value, 4 * i, *fields[i]);
    return info.Signature == VersionSignature;
}

std::string ferrix::VersionValueText(std::span<const uint8_t> value)
{
    const auto end = std::find(value.begin(), value.end(), uint8_t{0});
    return std::string(value.begin(), end);
}
