// Basic types shared by every unit: date-time values, the Windows time records that travel
// in files and on the pipes, and the exception hierarchy.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// Days since 1899-12-30; the fraction is the time of day.
using TDateTime = double;

// Windows SYSTEMTIME: eight little-endian 16-bit fields, 16 bytes.
#pragma pack(push, 1)
struct SYSTEMTIME {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;
    uint16_t wDayOfWeek = 0;
    uint16_t wDay = 0;
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
};
#pragma pack(pop)
static_assert(sizeof(SYSTEMTIME) == 16);

// Windows FILETIME: 100-nanosecond ticks since 1601-01-01 UTC.
struct FILETIME {
    uint64_t Ticks = 0;
};

constexpr double MSecsPerDay = 86400000.0;
constexpr double SecsPerDay = 86400.0;

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// An input/output failure carrying the errno that caused it.
class EInOutError : public Exception {
public:
    EInOutError(const std::string& message, int errorCode) : Exception(message), ErrorCode(errorCode) {}
    int ErrorCode;
};

// An operating-system failure carrying the system's error code.
class EOSError : public Exception {
public:
    EOSError(const std::string& message, int errorCode) : Exception(message), ErrorCode(errorCode) {}
    int ErrorCode;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Encoding raises EConvertError for parts out of range; TryEncode returns false instead.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result);
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec);

struct TDateTimeParts {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, MSec = 0;
    int DayOfWeek = 0;  // 0 = Sunday, as in SYSTEMTIME
};
// Splits a value into its parts, rounded to the nearest millisecond.
TDateTimeParts DecodeDateTime(TDateTime value);

TDateTime Now();                 // local time
TDateTime NowUtc();              // UTC
TDateTime DateOf(TDateTime value);
TDateTime TimeOf(TDateTime value);

SYSTEMTIME DateTimeToSystemTime(TDateTime value);
TDateTime SystemTimeToDateTime(const SYSTEMTIME& st);  // raises EConvertError when invalid

// Text helpers in the style the units expect.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The case helpers change only the letters a to z, whatever the locale.
std::string UpperCase(const std::string& s);
std::string LowerCase(const std::string& s);
// Lower case by the process's locale (LC_CTYPE), one character at a time; ASCII letters as ASCII
// in every locale; bytes that are no character of the locale's encoding stay as they are.
std::string AnsiLowerCase(const std::string& s);
bool SameText(const std::string& a, const std::string& b);
int CompareText(const std::string& a, const std::string& b);
// An optional sign, then decimal digits or hexadecimal digits after "$", "x" or "0x" (x of
// either case); nothing else, not even blanks. Decimal values must fit 32 bits; hexadecimal
// ones up to $FFFFFFFF wrap to negative values, as the original's integer reader did.
bool TryStrToInt(const std::string& s, int& value);
int StrToIntDef(const std::string& s, int defaultValue);
std::string Trim(const std::string& s);  // removes blanks and control characters at both ends
std::string IncludeTrailingPathDelimiter(const std::string& path);
std::string ExcludeTrailingPathDelimiter(const std::string& path);
std::string ExtractFileName(const std::string& path);
std::string ExtractFilePath(const std::string& path);  // with the trailing delimiter
// Without the trailing delimiter; "/" for a file in the root, empty for a name without a directory.
std::string ExtractFileDir(const std::string& path);
std::string ExtractFileExt(const std::string& path);   // with the dot
std::string ChangeFileExt(const std::string& path, const std::string& ext);

namespace ferrix {
// The text with its control characters (bytes below 0x20 and 0x7F) written as \t, \r, \n or
// \xNN, so that a name from outside stays one plain line in a log.
std::string VisibleText(const std::string& text);
}  // namespace ferrix
