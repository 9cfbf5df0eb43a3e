// INI files: "[Section]" lines open sections, "Key=Value" lines hold values. Section and key
// names match without regard to case; a missing file, section or key reads as the default.
// A write replaces or adds only its own key; every other byte of the file stays as it was.
// The file on disk is only ever replaced as a whole (temporary file and rename), so it is
// always either the old or the new complete file; it keeps its mode, owner and group.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/sysutils.h"

class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

// The file's text with an index of its sections and keys; the two classes below differ only
// in when a change reaches the disk.
class TCustomIniFile {
public:
    // Reads the whole file; a missing or unreadable file, or one that is not a regular file,
    // reads as empty. Never raises for the file's content. A file that exists but cannot be
    // read is never written (UpdateFile raises), so that its other lines are not lost.
    explicit TCustomIniFile(const std::string& fileName);
    virtual ~TCustomIniFile() = default;
    TCustomIniFile(const TCustomIniFile&) = delete;
    TCustomIniFile& operator=(const TCustomIniFile&) = delete;

    const std::string& FileName() const { return FFileName; }

    // The value of the first such key in the first such section, without the blanks around it.
    std::string ReadString(const std::string& section, const std::string& ident, const std::string& defaultValue) const;
    // An integer as TryStrToInt reads it; anything else gives the default.
    int ReadInteger(const std::string& section, const std::string& ident, int defaultValue) const;
    // Read as an integer: 0 is false, any other integer true.
    bool ReadBool(const std::string& section, const std::string& ident, bool defaultValue) const;

    // Line breaks in a value become blanks, since one line holds one value.
    void WriteString(const std::string& section, const std::string& ident, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& ident, int value);
    void WriteBool(const std::string& section, const std::string& ident, bool value);

    // Writes changes not yet on disk; raises EIniFileException("Unable to write to <file>").
    void UpdateFile();

protected:
    // Called after each change of the text.
    virtual void Changed() = 0;

private:
    // One section header or key line: offsets into FContent.
    struct TEntry {
        bool IsSection = false;
        size_t LineStart = 0;
        size_t LineEnd = 0;  // at the line's "\n" (or the end of the text); a "\r" before it is in the line
        size_t NameStart = 0;
        size_t NameEnd = 0;
        size_t ValueStart = 0;
        size_t ValueEnd = 0;
    };
    static constexpr size_t NotFound = static_cast<size_t>(-1);

    void Reindex();
    // Indexes the lines from offset `from` to the end of the text.
    void IndexFrom(size_t from);
    // False when the line [start, end) is neither a section header nor a key.
    bool ParseLine(size_t start, size_t end, TEntry& entry) const;
    // Moves every entry whose line starts at or after `from` by delta bytes.
    void ShiftEntries(size_t from, std::ptrdiff_t delta);
    std::string_view NameOf(const TEntry& entry) const;
    // Entry of the last key (or the header) of the first section of that name, or NotFound.
    size_t FindSection(const std::string& section) const;
    // Entry of the first key of that name in the first section of that name, or NotFound.
    size_t FindKey(const std::string& section, const std::string& ident) const;
    // Ends an unterminated last line with a line break, which stays part of its line.
    void EndLastLine();
    void ReplaceKeyLine(size_t key, const std::string& line);
    void InsertKeyLine(size_t lastEntry, const std::string& lowerSection, const std::string& line);
    void AppendSection(const std::string& section, const std::string& line);
    std::string LineBreak() const;

    std::string FFileName;
    std::string FContent;
    std::vector<TEntry> FEntries;  // inserted keys go at the back, out of file order
    std::unordered_map<std::string, size_t> FSections;  // last entry, by lower-case name
    std::unordered_map<std::string, size_t> FKeys;            // by KeyIndexName, into FEntries
    bool FModified = false;
    bool FUnreadable = false;  // the file exists but could not be read
};

// Every write reaches the file at once.
class TIniFile : public TCustomIniFile {
public:
    using TCustomIniFile::TCustomIniFile;

protected:
    void Changed() override { UpdateFile(); }
};

// Writes stay in memory until UpdateFile, which replaces the file once with all of them.
class TMemIniFile : public TCustomIniFile {
public:
    using TCustomIniFile::TCustomIniFile;

protected:
    void Changed() override {}
};
