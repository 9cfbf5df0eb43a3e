// The text log: one line per event, "dd/mm/yyyy hh:nn:ss<TAB>message", appended to the log file
// and, while a service is attached, echoed to the system log.
#pragma once

#include <string>

#include "base/sysutils.h"
#include "platform/eventlog/eventlog.h"

// Safe to call from any thread; never raises. Levels 0 to 2 are information, any other an error.
// In the file and in the echo each CR LF pair of the message becomes one blank and every other
// control character is written visibly (\t, \r, \n, \xNN); a backslash stays as it is.
void WriteLog(int level, const std::string& message);
void SetLogTarget(TLogEchoTarget* service, const std::string& path);
void ClearLogTarget();
// Deletes the log file once it has grown beyond 131072 bytes.
void TrimLogFile();

// The current log file path ("debug.txt" until a service sets its own).
std::string LogFilePath();
namespace ferrix {

// The line WriteLog writes for a message at the given local time, without the line end.
std::string FormatLogLine(TDateTime localTime, const std::string& message);

}  // namespace ferrix
