#include "foundation/inifile.h"

#include <cerrno>

#include "platform/files/filecontent.h"
#include "platform/files/findfile.h"

namespace {

bool IsBlank(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Names match without regard to case: the index holds them in lower case.
std::string LowerName(std::string_view name)
{
    std::string result(name);
    for (char& c : result)
        c = LowerAscii(c);
    return result;
}

// Key of the key index: section and key name, split by a character no name can hold.
std::string KeyIndexName(const std::string& lowerSection, std::string_view ident)
{
    return lowerSection + '\n' + LowerName(ident);
}

// Moves start and end inward past blanks and control characters.
void TrimRange(const std::string& text, size_t& start, size_t& end)
{
    while (start < end && IsBlank(text[start]))
        ++start;
    while (end > start && IsBlank(text[end - 1]))
        --end;
}

std::string OneLine(const std::string& value)
{
    std::string result = value;
    for (char& c : result) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return result;
}

}  // namespace

TCustomIniFile::TCustomIniFile(const std::string& fileName) : FFileName(fileName)
{
    // A file that cannot be read reads as missing: every key reads as its default. Unless it
    // is missing indeed, it is never written: the new text would hold only the written keys.
    if (!ferrix::ReadFileContent(ferrix::LocalPath(fileName), FContent)) {
        FUnreadable = errno != ENOENT;
        FContent.clear();
    }
    Reindex();
}

void TCustomIniFile::Reindex()
{
    FEntries.clear();
    FSections.clear();
    FKeys.clear();
    IndexFrom(0);
}

void TCustomIniFile::IndexFrom(size_t from)
{
    std::string currentSection;
    bool firstOfItsName = false;  // keys of a later section of the same name are never read
    size_t start = from;
    while (start < FContent.size()) {
        size_t end = FContent.find('\n', start);
        if (end == std::string::npos)
            end = FContent.size();
        TEntry entry;
        if (ParseLine(start, end, entry)) {
            const size_t index = FEntries.size();
            FEntries.push_back(entry);
            if (entry.IsSection) {
                currentSection = LowerName(NameOf(entry));
                firstOfItsName = FSections.emplace(currentSection, index).second;
            } else if (firstOfItsName) {
                FKeys.emplace(KeyIndexName(currentSection, NameOf(entry)), index);
                FSections[currentSection] = index;
            }
        }
        start = end + 1;
    }
}

bool TCustomIniFile::ParseLine(size_t start, size_t end, TEntry& entry) const
{
    size_t first = start;
    size_t last = end;
    TrimRange(FContent, first, last);
    if (first == last)
        return false;
    entry = TEntry{};
    entry.LineStart = start;
    entry.LineEnd = end;
    const std::string_view text = std::string_view(FContent).substr(first, last - first);
    const char lead = text.front();
    if (lead == '[') {
        const size_t found = text.find(']');
        if (found == std::string_view::npos)
            return false;
        entry.IsSection = true;
        entry.NameStart = first + 1;
        entry.NameEnd = first + found;
    } else {
        if (lead == ';' || lead == '#')
            return false;
        const size_t found = text.find('=');
        if (found == std::string_view::npos)
            return false;
        entry.NameStart = first;
        entry.NameEnd = first + found;
        entry.ValueStart = first + found + 1;
        entry.ValueEnd = last;
        TrimRange(FContent, entry.ValueStart, entry.ValueEnd);
    }
    TrimRange(FContent, entry.NameStart, entry.NameEnd);
    return entry.IsSection || entry.NameStart != entry.NameEnd;
}

void TCustomIniFile::ShiftEntries(size_t from, std::ptrdiff_t delta)
{
    for (TEntry& entry : FEntries) {
        if (entry.LineStart < from)
            continue;
        entry.LineStart += delta;
        entry.LineEnd += delta;
        entry.NameStart += delta;
        entry.NameEnd += delta;
        entry.ValueStart += delta;
        entry.ValueEnd += delta;
    }
}

std::string_view TCustomIniFile::NameOf(const TEntry& entry) const
{
    return std::string_view(FContent).substr(entry.NameStart, entry.NameEnd - entry.NameStart);
}

size_t TCustomIniFile::FindSection(const std::string& section) const
{
    const auto found = FSections.find(LowerName(section));
    return found == FSections.end() ? NotFound : found->second;
}

size_t TCustomIniFile::FindKey(const std::string& section, const std::string& ident) const
{
    const auto found = FKeys.find(KeyIndexName(LowerName(section), ident));
    return found == FKeys.end() ? NotFound : found->second;
}

std::string TCustomIniFile::ReadString(const std::string& section, const std::string& ident,
                                       const std::string& defaultValue) const
{
    const size_t key = FindKey(section, ident);
    if (key == NotFound)
        return defaultValue;
    const TEntry& entry = FEntries[key];
    return FContent.substr(entry.ValueStart, entry.ValueEnd - entry.ValueStart);
}

int TCustomIniFile::ReadInteger(const std::string& section, const std::string& ident, int defaultValue) const
{
    return StrToIntDef(ReadString(section, ident, ""), defaultValue);
}

bool TCustomIniFile::ReadBool(const std::string& section, const std::string& ident, bool defaultValue) const
{
    return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

std::string TCustomIniFile::LineBreak() const
{
    const size_t newline = FContent.find('\n');
    if (newline != std::string::npos && newline > 0 && FContent[newline - 1] == '\r')
        return "\r\n";
    return "\n";
}

void TCustomIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value)
{
    const std::string line = OneLine(ident) + "=" + OneLine(value);
    if (const size_t key = FindKey(section, ident); key != NotFound)
        ReplaceKeyLine(key, line);
    else if (const size_t lastEntry = FindSection(section); lastEntry != NotFound)
        InsertKeyLine(lastEntry, LowerName(section), line);
    else
        AppendSection(OneLine(section), line);
    FModified = true;
    Changed();
}

// The index follows each change as it is made; a name that does not read back as written
// (such as one holding "=" or "]") has the whole text indexed again instead.
void TCustomIniFile::ReplaceKeyLine(size_t key, const std::string& line)
{
    const size_t start = FEntries[key].LineStart;
    size_t end = FEntries[key].LineEnd;
    if (end > start && FContent[end - 1] == '\r')
        --end;
    const std::string oldName = LowerName(NameOf(FEntries[key]));
    const std::ptrdiff_t delta = static_cast<std::ptrdiff_t>(line.size()) - static_cast<std::ptrdiff_t>(end - start);
    FContent.replace(start, end - start, line);
    ShiftEntries(start + 1, delta);
    TEntry parsed;
    if (!ParseLine(start, FEntries[key].LineEnd + delta, parsed) || parsed.IsSection || LowerName(NameOf(parsed)) != oldName) {
        Reindex();
        return;
    }
    FEntries[key] = parsed;
}

void TCustomIniFile::EndLastLine()
{
    const size_t end = FContent.size();
    FContent += LineBreak();
    for (TEntry& entry : FEntries) {
        if (entry.LineEnd == end)
            entry.LineEnd = FContent.size() - 1;
    }
}

void TCustomIniFile::InsertKeyLine(size_t lastEntry, const std::string& lowerSection, const std::string& line)
{
    // Right after the section's last key (or its header).
    if (FEntries[lastEntry].LineEnd == FContent.size())
        EndLastLine();
    const std::string lineBreak = LineBreak();
    const size_t at = FEntries[lastEntry].LineEnd + 1;
    FContent.insert(at, line + lineBreak);
    ShiftEntries(at, static_cast<std::ptrdiff_t>(line.size() + lineBreak.size()));
    // The line ends where its "\n" stands, as for the lines that were read.
    TEntry parsed;
    if (!ParseLine(at, at + line.size() + lineBreak.size() - 1, parsed) || parsed.IsSection) {
        Reindex();
        return;
    }
    const size_t index = FEntries.size();
    FEntries.push_back(parsed);
    FKeys.emplace(KeyIndexName(lowerSection, NameOf(parsed)), index);
    FSections[lowerSection] = index;
}

void TCustomIniFile::AppendSection(const std::string& section, const std::string& line)
{
    // At the end of the file, after a blank line.
    if (!FContent.empty() && FContent.back() != '\n')
        EndLastLine();
    const std::string lineBreak = LineBreak();
    const size_t from = FContent.size();
    if (!FContent.empty())
        FContent += lineBreak;
    FContent += "[" + section + "]" + lineBreak + line + lineBreak;
    IndexFrom(from);
    if (FindSection(section) == NotFound)
        Reindex();
}

void TCustomIniFile::WriteInteger(const std::string& section, const std::string& ident, int value)
{
    WriteString(section, ident, std::to_string(value));
}

void TCustomIniFile::WriteBool(const std::string& section, const std::string& ident, bool value)
{
    WriteString(section, ident, value ? "1" : "0");
}

void TCustomIniFile::UpdateFile()
{
    if (!FModified)
        return;
    // A read-only file refuses writes, as it did when files were written in place.
    const std::string path = ferrix::LocalPath(FFileName);
    const int attributes = GetFileAttributes(path);
    if (FUnreadable || (attributes != -1 && (attributes & faReadOnly) != 0) ||
        !ferrix::ReplaceFileContent(path, FContent.data(), FContent.size()))
        throw EIniFileException(Format("Unable to write to %s", FFileName.c_str()));
    FModified = false;
}
