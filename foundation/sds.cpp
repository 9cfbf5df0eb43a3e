#include "foundation/sds.h"

#include <cstdlib>

#include "platform/files/findfile.h"
#include "platform/process/progdir.h"

namespace {

std::string InitAppDir()
{
    std::string dir = ferrix::ProgramDirectoryOf(ferrix::ProgramFilePath());
    // Temporary files of the process land in the program directory; a failure keeps the old values.
    SetEnvironmentVariable("TEMP", dir);
    SetEnvironmentVariable("TMP", dir);
    return dir;
}

// Runs at program start, before main.
const std::string& StartupAppDir = AppDir();

}  // namespace

const std::string& AppDir()
{
    static const std::string dir = InitAppDir();
    return dir;
}

std::string ferrix::ProgramDirectoryOf(const std::string& programPath)
{
    const size_t slash = programPath.find_last_of('/');
    if (slash == std::string::npos)
        return std::string();
    if (slash == 0)
        return "/";
    return programPath.substr(0, slash);
}

std::string GetField(const std::string& text, char separator, int index)
{
    std::string result;
    if (index < 0)
        return result;
    int field = 0;
    for (const char c : text) {
        if (c == separator) {
            if (field == index)
                break;
            ++field;
            continue;
        }
        if (field == index && result.size() < 255)
            result += c;
    }
    return result;
}

TDateTime FileTimeToDateTime(const FILETIME& fileTime)
{
    // Days from 1601-01-01 to 1899-12-30.
    constexpr int64_t DaysFrom1601To1899 = 109205;
    const int64_t ms = static_cast<int64_t>(fileTime.Ticks / 10000);
    const int64_t days = ms / 86400000;
    const int64_t msOfDay = ms % 86400000;
    const TDateTime value = static_cast<double>(days - DaysFrom1601To1899) + static_cast<double>(msOfDay) / MSecsPerDay;
    if (DecodeDateTime(value).Year > 9999)
        throw EConvertError("Invalid argument to date encode");
    return value;
}

std::string FormatUtcBias(int bias)
{
    const int magnitude = bias < 0 ? -bias : bias;
    return Format("(UTC %s%2.2d:%2.2d)", bias <= 0 ? "+" : "-", magnitude / 60, magnitude % 60);
}

int64_t GetFileSize64(const std::string& path)
{
    TSearchRec rec;
    if (!ferrix::FindFile(path, rec) || (rec.Attr & faDirectory) != 0)
        return 0;
    return static_cast<int64_t>(rec.Size);
}

std::string FormatSystemTime(const SYSTEMTIME& time)
{
    return Format("%2.2u.%2.2u.%4.4u %2.2u:%2.2u:%2.2u", time.wDay, time.wMonth, time.wYear, time.wHour, time.wMinute,
                  time.wSecond);
}

void SplitUserName(const std::string& account, std::string& domain, std::string& user)
{
    domain.clear();
    user.clear();
    const size_t slash = account.find('\\');
    if (slash == std::string::npos) {
        user = account;
        return;
    }
    domain = account.substr(0, slash);
    user = account.substr(slash + 1);
}
