// Version resource of a program file: version numbers, flags and the texts of its string table.
#pragma once

#include <cstdint>
#include <string>

class TVersionInfo {
public:
    // An empty file name means the running program. An empty language and code page means the
    // first entry of the file's translation table. Never raises.
    explicit TVersionInfo(const std::string& fileName = std::string(), const std::string& langCharset = std::string());

    // Fills the fields from the version resource of FileName; fields it cannot read keep their values.
    void Read();

    std::string FileName;
    std::string LangCharset;  // 4 hex digits of the language, then 4 of the code page
    std::string Comments;
    std::string LegalCopyright;
    bool Debug = false;
    std::string FileDescription;
    bool PreRelease = false;
    uint16_t Build = 0;
    uint16_t Release = 0;
    uint16_t Major = 0;
    uint16_t Minor = 0;
};
