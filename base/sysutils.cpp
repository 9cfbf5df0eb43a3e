#include "base/sysutils.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <climits>
#include <ctime>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

constexpr int64_t DaysFrom1899To1970 = 25569;

TDateTime FromTimespec(const timespec& ts, bool local)
{
    tm parts{};
    time_t secs = ts.tv_sec;
    if (local)
        localtime_r(&secs, &parts);
    else
        gmtime_r(&secs, &parts);
    return EncodeDateTime(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
                          parts.tm_sec, static_cast<int>(ts.tv_nsec / 1000000));
}

}  // namespace

bool IsLeapYear(int year)
{
    return (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return days[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return false;
    result = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                                 DaysFrom1899To1970);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result)
{
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
        return false;
    result = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / MSecsPerDay;
    return true;
}

TDateTime EncodeDate(int year, int month, int day)
{
    TDateTime result = 0;
    if (!TryEncodeDate(year, month, day, result))
        throw EConvertError("Invalid argument to date encode");
    return result;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec)
{
    TDateTime result = 0;
    if (!TryEncodeTime(hour, minute, second, msec, result))
        throw EConvertError("Invalid argument to time encode");
    return result;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec)
{
    return EncodeDate(year, month, day) + EncodeTime(hour, minute, second, msec);
}

TDateTimeParts DecodeDateTime(TDateTime value)
{
    // Work in whole milliseconds so that 23:59:59.9996 rolls over cleanly.
    const int64_t totalMs = static_cast<int64_t>(std::llround(value * MSecsPerDay));
    int64_t days = totalMs / 86400000;
    int64_t msOfDay = totalMs % 86400000;
    if (msOfDay < 0) {
        msOfDay += 86400000;
        days -= 1;
    }
    TDateTimeParts p;
    CivilFromDays(days - DaysFrom1899To1970, p.Year, p.Month, p.Day);
    p.Hour = static_cast<int>(msOfDay / 3600000);
    p.Minute = static_cast<int>(msOfDay / 60000 % 60);
    p.Second = static_cast<int>(msOfDay / 1000 % 60);
    p.MSec = static_cast<int>(msOfDay % 1000);
    // 1899-12-30 was a Saturday.
    p.DayOfWeek = static_cast<int>(((days + 6) % 7 + 7) % 7);
    return p;
}

TDateTime Now()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return FromTimespec(ts, true);
}

TDateTime NowUtc()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return FromTimespec(ts, false);
}

TDateTime DateOf(TDateTime value)
{
    return std::floor(value);
}

TDateTime TimeOf(TDateTime value)
{
    return value - std::floor(value);
}

SYSTEMTIME DateTimeToSystemTime(TDateTime value)
{
    const TDateTimeParts p = DecodeDateTime(value);
    SYSTEMTIME st;
    st.wYear = static_cast<uint16_t>(p.Year);
    st.wMonth = static_cast<uint16_t>(p.Month);
    st.wDayOfWeek = static_cast<uint16_t>(p.DayOfWeek);
    st.wDay = static_cast<uint16_t>(p.Day);
    st.wHour = static_cast<uint16_t>(p.Hour);
    st.wMinute = static_cast<uint16_t>(p.Minute);
    st.wSecond = static_cast<uint16_t>(p.Second);
    st.wMilliseconds = static_cast<uint16_t>(p.MSec);
    return st;
}

TDateTime SystemTimeToDateTime(const SYSTEMTIME& st)
{
    return EncodeDateTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}

std::string Format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int needed = vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string result;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        vsnprintf(buffer.data(), buffer.size(), fmt, args);
        result.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    return result;
}

// Only the letters a to z change case: the result must not depend on the user's locale (a
// Turkish one has no upper-case dotted i in one byte, and the console runs in the user's locale).
namespace {

char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

unsigned char LowerAscii(char c)
{
    return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

}  // namespace

std::string UpperCase(const std::string& s)
{
    std::string r = s;
    for (char& c : r)
        c = UpperAscii(c);
    return r;
}

std::string LowerCase(const std::string& s)
{
    std::string r = s;
    for (char& c : r)
        c = static_cast<char>(LowerAscii(c));
    return r;
}

std::string AnsiLowerCase(const std::string& s)
{
    std::string r;
    r.reserve(s.size());
    std::mbstate_t in{};
    size_t i = 0;
    while (i < s.size()) {
        wchar_t wc = 0;
        const size_t n = std::mbrtowc(&wc, s.data() + i, s.size() - i, &in);
        if (n == 0 || n > s.size() - i) {
            // A NUL, or a byte that starts no character here: kept, and the next byte begins anew.
            r += s[i++];
            in = std::mbstate_t{};
            continue;
        }
        if (wc >= 0 && wc < 0x80) {
            // ASCII letters lower as ASCII in every locale: the Turkish I must not become a dotless i.
            r += static_cast<char>(LowerAscii(static_cast<char>(wc)));
            i += n;
            continue;
        }
        char out[MB_LEN_MAX];
        std::mbstate_t state{};
        const size_t m = std::wcrtomb(out, static_cast<wchar_t>(std::towlower(static_cast<wint_t>(wc))), &state);
        if (m == static_cast<size_t>(-1))
            r.append(s, i, n);
        else
            r.append(out, m);
        i += n;
    }
    return r;
}

bool SameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && CompareText(a, b) == 0;
}

int CompareText(const std::string& a, const std::string& b)
{
    const size_t common = std::min(a.size(), b.size());
    for (size_t n = 0; n < common; ++n) {
        if (LowerAscii(a[n]) != LowerAscii(b[n]))
            return LowerAscii(a[n]) - LowerAscii(b[n]);
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool TryStrToInt(const std::string& s, int& value)
{
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    unsigned base = 10;
    if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == s.size())
        return false;
    const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    uint64_t magnitude = 0;
    for (; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && (c | 0x20) >= 'a' && (c | 0x20) <= 'f')
            digit = (c | 0x20) - 'a' + 10;
        else
            return false;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return false;
    }
    const uint32_t bits = static_cast<uint32_t>(magnitude);
    value = static_cast<int>(negative ? 0u - bits : bits);
    return true;
}

int StrToIntDef(const std::string& s, int defaultValue)
{
    int value = 0;
    return TryStrToInt(s, value) ? value : defaultValue;
}

std::string Trim(const std::string& s)
{
    size_t first = 0;
    size_t last = s.size();
    while (first < last && static_cast<unsigned char>(s[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(s[last - 1]) <= ' ')
        --last;
    return s.substr(first, last - first);
}

std::string IncludeTrailingPathDelimiter(const std::string& path)
{
    if (!path.empty() && path.back() == '/')
        return path;
    return path + "/";
}

std::string ExcludeTrailingPathDelimiter(const std::string& path)
{
    if (path.size() > 1 && path.back() == '/')
        return path.substr(0, path.size() - 1);
    return path;
}

std::string ExtractFileName(const std::string& path)
{
    const size_t pos = path.find_last_of('/');
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string ExtractFilePath(const std::string& path)
{
    const size_t pos = path.find_last_of('/');
    return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::string ExtractFileDir(const std::string& path)
{
    return ExcludeTrailingPathDelimiter(ExtractFilePath(path));
}

std::string ExtractFileExt(const std::string& path)
{
    const size_t pos = path.find_last_of("./");
    if (pos == std::string::npos || path[pos] != '.')
        return std::string();
    return path.substr(pos);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext)
{
    const size_t pos = path.find_last_of("./");
    if (pos == std::string::npos || path[pos] != '.')
        return path + ext;
    return path.substr(0, pos) + ext;
}

std::string ferrix::VisibleText(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '\t')
            result += "\\t";
        else if (c == '\r')
            result += "\\r";
        else if (c == '\n')
            result += "\\n";
        else if (code < ' ' || code == 0x7F)
            result += Format("\\x%02X", code);
        else
            result += c;
    }
    return result;
}
