#include "foundation/verinfo.h"

#include <span>
#include <vector>

#include "base/sysutils.h"
#include "platform/process/progdir.h"
#include "platform/version/verblock.h"
#include "platform/version/verresource.h"

TVersionInfo::TVersionInfo(const std::string& fileName, const std::string& langCharset)
    : FileName(fileName.empty() ? ferrix::ProgramFilePath() : fileName), LangCharset(langCharset)
{
    Read();
}

void TVersionInfo::Read()
{
    try {
        std::vector<uint8_t> data;
        if (!GetFileVersionInfo(FileName, data))
            return;
        const std::span<const uint8_t> block(data);
        std::span<const uint8_t> value;

        TFixedFileInfo fixed;
        if (VerQueryValue(block, "\\", value) && ferrix::ReadFixedFileInfo(value, fixed)) {
            Major = static_cast<uint16_t>(fixed.FileVersionMS >> 16);
            Minor = static_cast<uint16_t>(fixed.FileVersionMS & 0xFFFF);
            Release = static_cast<uint16_t>(fixed.FileVersionLS >> 16);
            Build = static_cast<uint16_t>(fixed.FileVersionLS & 0xFFFF);
            Debug = (fixed.FileFlags & VS_FF_DEBUG) != 0;
            PreRelease = (fixed.FileFlags & VS_FF_PRERELEASE) != 0;
        }

        uint32_t translation = 0;
        if (LangCharset.empty() && VerQueryValue(block, "\\VarFileInfo\\Translation", value) &&
            ferrix::ReadValueWord(value, 0, translation))
            LangCharset = Format("%4.4X%4.4X", translation & 0xFFFF, translation >> 16);

        const std::pair<const char*, std::string*> strings[] = {
            {"FileDescription", &FileDescription}, {"LegalCopyright", &LegalCopyright}, {"Comments", &Comments}};
        for (const auto& [name, field] : strings)
            if (VerQueryValue(block, "\\StringFileInfo\\" + LangCharset + "\\" + name, value))
                *field = ferrix::VersionValueText(value);
    } catch (...) {
        // The fields keep what was read so far.
    }
}
