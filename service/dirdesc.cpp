#include "service/dirdesc.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <sys/stat.h>

#include "foundation/sds.h"
#include "platform/files/filecontent.h"
#include "platform/files/findfile.h"
#include "platform/time/timezone.h"

namespace {

constexpr const char* DefaultStatusFileName = "dirlist.dst";

// Case-insensitive order; names that differ only in case follow their exact byte order.
bool NameLess(const TDirectoryItems::TItem& a, const TDirectoryItems::TItem& b)
{
    const int c = CompareText(a.Name, b.Name);
    return c != 0 ? c < 0 : a.Name < b.Name;
}

int64_t MilliSecondsOf(TDateTime value)
{
    return std::llround(value * MSecsPerDay);
}

// Trim without copying: blanks and control characters off both ends.
std::string_view TrimView(std::string_view s)
{
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
        s.remove_suffix(1);
    return s;
}

// Field index of a line split at TAB characters, by the rules of GetField (at most 255
// characters, empty when absent), without copying: this runs for every line of the file.
std::string_view TabField(std::string_view line, int index)
{
    for (; index > 0; --index) {
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos)
            return {};
        line.remove_prefix(tab + 1);
    }
    return line.substr(0, std::min<size_t>(line.find('\t'), 255));
}

// Characters position..position+count-1 (1-based) of s, as far as s reaches.
std::string_view Part(std::string_view s, size_t position, size_t count)
{
    if (position > s.size())
        return {};
    return s.substr(position - 1, count);
}

// A decimal number of digits only, or the default.
int PartValue(std::string_view part, int defaultValue)
{
    int value = 0;
    if (part.empty())
        return defaultValue;
    for (const char c : part) {
        if (c < '0' || c > '9')
            return defaultValue;
        value = value * 10 + (c - '0');
    }
    return value;
}

// An unsigned 32-bit decimal number; anything else counts as 0.
uint32_t SizeValue(std::string_view field)
{
    uint32_t value = 0;
    const char* end = field.data() + field.size();
    if (field.empty() || field[0] < '0' || field[0] > '9')
        return 0;
    const auto [ptr, ec] = std::from_chars(field.data(), end, value);
    return ec == std::errc() && ptr == end ? value : 0;
}

// The time of a status line, taken by position: yyyy?mm?dd hh?nn?ss?zzz. False when out of range.
bool LineTime(std::string_view s, int baseBias, int64_t& utcMs)
{
    const int year = PartValue(Part(s, 1, 4), 2000);
    const int month = PartValue(Part(s, 6, 2), 1);
    const int day = PartValue(Part(s, 9, 2), 1);
    const int hour = PartValue(Part(s, 12, 2), 0);
    const int minute = PartValue(Part(s, 15, 2), 0);
    const int second = PartValue(Part(s, 18, 2), 0);
    const int msec = PartValue(Part(s, 21, 3), 1);
    TDateTime date = 0;
    TDateTime time = 0;
    if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, msec, time))
        return false;
    utcMs = MilliSecondsOf(date) + MilliSecondsOf(time);
    // Without "UTC" the line holds local time.
    if (s.find("UTC") == std::string_view::npos)
        utcMs += static_cast<int64_t>(baseBias) * 60000;
    return true;
}

// Changed when the size differs or the times lie 3 whole seconds or more apart.
bool Differs(const TFileStatus& status, uint32_t size, int64_t utcMs)
{
    const int64_t difference = std::llabs(utcMs - MilliSecondsOf(status.LastWrite));
    return size != status.Size || difference / 1000 > 2;
}

// value as `width` digits, zero-padded; returns the end.
char* PutDigits(char* p, unsigned value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        p[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return p + width;
}

// yyyy/mm/dd hh:nn:ss with the locale's separators: 19 characters.
char* PutDateTime(char* p, const TDateTimeParts& t, char dateSeparator, char timeSeparator)
{
    p = PutDigits(p, static_cast<unsigned>(t.Year), 4);
    *p++ = dateSeparator;
    p = PutDigits(p, static_cast<unsigned>(t.Month), 2);
    *p++ = dateSeparator;
    p = PutDigits(p, static_cast<unsigned>(t.Day), 2);
    *p++ = ' ';
    p = PutDigits(p, static_cast<unsigned>(t.Hour), 2);
    *p++ = timeSeparator;
    p = PutDigits(p, static_cast<unsigned>(t.Minute), 2);
    *p++ = timeSeparator;
    return PutDigits(p, static_cast<unsigned>(t.Second), 2);
}

// The data directory without "\" and without one trailing delimiter.
std::string TrimmedDirPath(const std::string& dirPath)
{
    return ExcludeTrailingPathDelimiter(ferrix::LocalPath(dirPath));
}

// The whole file, or what was read before an error, cut back to its last whole line; false when
// there is no status file. A link in its place is not the list's status file.
bool ReadWholeFile(int dirFd, const std::string& name, std::string& text)
{
    if (ferrix::ReadFileContentAt(dirFd, name, text, false))
        return true;
    const size_t lastLine = text.rfind('\n');
    text.resize(lastLine == std::string::npos ? 0 : lastLine + 1);
    return !text.empty();
}

[[noreturn]] void RaiseWriteError(const std::string& path, int errorCode)
{
    throw EInOutError(Format("Unable to write to %s : %s", path.c_str(), SysErrorMessage(errorCode).c_str()),
                      errorCode);
}

}  // namespace

void TDirectoryItems::Add(std::string name, const TFileStatus& status)
{
    FItems.push_back(TItem{std::move(name), status});
}

void TDirectoryItems::Sort()
{
    std::sort(FItems.begin(), FItems.end(), NameLess);
}

int TDirectoryItems::IndexOf(std::string_view name, int hint) const
{
    if (hint >= 0 && hint < Count() && FItems[static_cast<size_t>(hint)].Name == name)
        return hint;
    const std::string key(name);
    auto first = std::lower_bound(FItems.begin(), FItems.end(), key,
                                  [](const TItem& item, const std::string& k) { return CompareText(item.Name, k) < 0; });
    if (first == FItems.end() || CompareText(first->Name, key) != 0)
        return -1;
    for (auto it = first; it != FItems.end() && CompareText(it->Name, key) == 0; ++it)
        if (it->Name == key)
            return static_cast<int>(it - FItems.begin());
    return static_cast<int>(first - FItems.begin());
}

bool StatusLineHolds(std::string_view name)
{
    return !name.empty() && name.find_first_of("\t\r\n") == std::string_view::npos;
}

void ReadStatusText(TDirectoryItems& items, std::string_view text, int baseBias)
{
    int next = 0;  // lines come in the list's order: the next line usually names the next item
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view rawLine = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

        // A line led by a blank or a control character stands for a name no line can give back:
        // trimmed, it would mark the file named without them.
        if (rawLine.empty() || static_cast<unsigned char>(rawLine.front()) <= ' ')
            continue;
        const std::string_view trimmed = TrimView(rawLine);
        if (trimmed.empty() || trimmed.front() == '#')
            continue;
        const std::string_view name = TabField(trimmed, 0);
        const uint32_t size = SizeValue(TabField(trimmed, 1));
        int64_t utcMs = 0;
        if (!LineTime(TabField(trimmed, 2), baseBias, utcMs))
            return;
        const int index = items.IndexOf(name, next);
        if (index >= 0) {
            TFileStatus& status = items[index].Status;
            status.Changed = Differs(status, size, utcMs);
            next = index + 1;
        }
    }
}

std::string WriteStatusText(const std::string& dirPath, const std::string& extension, const TDirectoryItems& items,
                            TDateTime localNow, int bias)
{
    const char dateSeparator = ferrix::LocaleDateSeparator();
    const char timeSeparator = ferrix::LocaleTimeSeparator();
    char buffer[64];
    std::string out;
    out.reserve(256 + dirPath.size() + extension.size() + static_cast<size_t>(items.Count()) * 64);
    out += "# directory status file \r\n";
    out += "# directory: ";
    out += dirPath;
    out += "\r\n# file mask: *.";
    out += extension;
    out += "\r\n";
    const TDateTimeParts now = DecodeDateTime(localNow);
    char* p = PutDateTime(buffer, now, dateSeparator, timeSeparator);
    *p++ = timeSeparator;
    p = PutDigits(p, static_cast<unsigned>(now.MSec), 3);
    out += "# last update: ";
    out.append(buffer, p);
    out += ' ';
    out += FormatUtcBias(bias);
    out += "\r\n";
    for (int i = 0; i < items.Count(); ++i) {
        const TDirectoryItems::TItem& item = items[i];
        if (item.Status.Changed)
            continue;
        // TAB, size, TAB, yyyy/mm/dd hh:nn:ss.zzz UTC
        p = buffer;
        *p++ = '\t';
        p = std::to_chars(p, p + 10, item.Status.Size).ptr;
        *p++ = '\t';
        const TDateTimeParts t = DecodeDateTime(item.Status.LastWrite);
        p = PutDateTime(p, t, dateSeparator, timeSeparator);
        *p++ = '.';
        p = PutDigits(p, static_cast<unsigned>(t.MSec), 3);
        p = std::copy_n(" UTC\r\n", 6, p);
        out += item.Name;
        out.append(buffer, p);
    }
    return out;
}

TDirectoryList::TDirectoryList(const std::string& dirPath, const std::string& extension, const std::string& entryText,
                               const std::string& statusFileName)
    : TDirectoryList(ferrix::OpenDirectory(TrimmedDirPath(dirPath), true), dirPath, extension, entryText,
                     statusFileName)
{
}

TDirectoryList::TDirectoryList(ferrix::TFileDescriptor directory, const std::string& dirPath,
                               const std::string& extension, const std::string& entryText,
                               const std::string& statusFileName)
    : FDirectory(std::move(directory)),
      FDirPath(TrimmedDirPath(dirPath)),
      FExtension(extension),
      FEntryText(entryText),
      FStatusFileName(statusFileName.empty() ? DefaultStatusFileName : statusFileName)
{
    if (!FDirectory.Valid())
        throw Exception("Directory does not exist\"" + FDirPath + "\"");
    Scan();
    ReadStatusFile();
}

void TDirectoryList::Scan()
{
    FBaseBias = ferrix::GetTimeZoneBaseBias();
    std::vector<TSearchRec> entries = ferrix::FindFilesAt(FDirectory.Get(), FExtension);
    FItems.Reserve(entries.size());
    for (TSearchRec& entry : entries) {
        if ((entry.Attr & (faHidden | faSysFile | faDirectory)) != 0)
            continue;
        if (SameText(ExtractFileExt(entry.Name), ".dst"))
            continue;
        if (!StatusLineHolds(entry.Name)) {
            FSkippedNames.push_back(std::move(entry.Name));
            continue;
        }
        TFileStatus status;
        status.Size = static_cast<uint32_t>(entry.Size);
        try {
            status.LastWrite = FileTimeToDateTime(entry.Time);
        } catch (const EConvertError&) {
            FBadNames.push_back(std::move(entry.Name));
            continue;
        }
        status.Changed = true;
        FItems.Add(std::move(entry.Name), status);
    }
    FItems.Sort();
}

void TDirectoryList::ReadStatusFile()
{
    std::string text;
    if (!ReadWholeFile(FDirectory.Get(), FStatusFileName, text))
        return;
    ReadStatusText(FItems, text, FBaseBias);
}

void TDirectoryList::ProcessChanged(const TFileHandler& handler)
{
    FBadCount += static_cast<int>(FBadNames.size());
    bool continueFlag = true;
    for (int i = FItems.Count() - 1; i >= 0; --i) {
        TDirectoryItems::TItem& item = FItems[i];
        if (!item.Status.Changed)
            continue;
        bool delivered = false;
        try {
            delivered = handler(FDirPath + "/" + item.Name, FEntryText, continueFlag);
        } catch (...) {
            // The handler reports its own failures; the file stays changed and counts as not sent.
            ++FBadCount;
            continue;
        }
        if (delivered) {
            item.Status.Changed = false;
            ++FOKCount;
        } else {
            ++FBadCount;
        }
        if (!continueFlag)
            break;
    }
}

void TDirectoryList::SaveStatusFile()
{
    const int bias = ferrix::GetTimeZoneBaseBias();
    const std::string path = IncludeTrailingPathDelimiter(FDirPath) + FStatusFileName;
    // A link in the status file's place is not followed: the status file takes its place.
    if (ferrix::IsSymbolicLinkAt(FDirectory.Get(), FStatusFileName))
        ferrix::DeleteFileAt(FDirectory.Get(), FStatusFileName);
    // Each file is recorded with the size and time the scan listed, the version that was
    // compared and handed over; a later rewrite is then found changed in the next pass.
    const std::string text = WriteStatusText(FDirPath, FExtension, FItems, Now(), bias);
    // Replaced as a whole, so a crash leaves the old file; a read-only file becomes writable. Not
    // flushed: a status file lost to a power cut only makes its files be sent again, and a flush
    // per directory and destination costs more than the copy of a directory of small files.
    ferrix::TReplaceOptions options;
    options.AddedModeBits = S_IWUSR;
    options.Durable = false;
    if (!ferrix::ReplaceFileContentAt(FDirectory.Get(), FStatusFileName, text.data(), text.size(), options))
        RaiseWriteError(path, errno);
}
