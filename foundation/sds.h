// The program directory and small conversions shared by the programs.
#pragma once

#include <cstdint>
#include <string>

#include "base/sysutils.h"

// Directory of the running program without a trailing delimiter; the root stays "/".
// Settled at program start, when TEMP and TMP are also pointed at it.
const std::string& AppDir();

// Field `index` (0-based) of text split at `separator`; at most 255 characters; empty when absent.
std::string GetField(const std::string& text, char separator, int index);
// No time-zone conversion: a UTC file time gives a UTC value. Raises EConvertError when invalid.
TDateTime FileTimeToDateTime(const FILETIME& fileTime);
// "(UTC +01:00)" for a bias of -60 minutes (UTC = local time + bias).
std::string FormatUtcBias(int bias);
// Size of a file; 0 for a missing path or a directory.
int64_t GetFileSize64(const std::string& path);
// "dd.mm.yyyy hh:nn:ss"
std::string FormatSystemTime(const SYSTEMTIME& time);
// "dom\user" gives dom and user; an account without a backslash gives an empty domain.
void SplitUserName(const std::string& account, std::string& domain, std::string& user);

namespace ferrix {

// The program directory of a given program path (exposed for tests).
std::string ProgramDirectoryOf(const std::string& programPath);

}  // namespace ferrix
