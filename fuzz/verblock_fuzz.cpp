// Queries arbitrary bytes as a version block: every lookup stays inside the bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/version/verblock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> block(data, size);
    for (const char* path : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904E4\\FileDescription",
                             "\\StringFileInfo\\040904E4\\Comments"}) {
        std::span<const uint8_t> value;
        if (!VerQueryValue(block, path, value))
            continue;
        if (value.data() < data || value.data() + value.size() > data + size)
            __builtin_trap();
        TFixedFileInfo info;
        ferrix::ReadFixedFileInfo(value, info);
        uint32_t word = 0;
        ferrix::ReadValueWord(value, 0, word);
        ferrix::VersionValueText(value);
    }
    return 0;
}
