#include "foundation/debuglog.h"

#include <mutex>

#include "foundation/sds.h"
#include "platform/eventlog/eventlog.h"
#include "platform/files/filecontent.h"
#include "platform/files/findfile.h"

namespace {

// One lock for the shared log state, so concurrent lines never interleave or get lost.
std::mutex& LogLock()
{
    static std::mutex lock;
    return lock;
}

std::string& LogFilePathRef()
{
    static std::string path = "debug.txt";
    return path;
}

TLogEchoTarget*& LogServiceRef()
{
    static TLogEchoTarget* service = nullptr;
    return service;
}

// The message as a log line shows it: each CR LF pair becomes one blank, and every other control
// character is written visibly (\t, \r, \n or \xNN), so that no text (a file name, say) can break
// the line or send terminal escapes to its reader. A backslash stays as it is, so a text made
// visible before reads the same.
std::string VisibleMessage(const std::string& message)
{
    std::string result;
    result.reserve(message.size());
    size_t from = 0;
    for (size_t pair = message.find("\r\n"); pair != std::string::npos; pair = message.find("\r\n", from)) {
        result += ferrix::VisibleText(message.substr(from, pair - from));
        result += ' ';
        from = pair + 2;
    }
    return result + ferrix::VisibleText(message.substr(from));
}

// Appends one line; failures lose the line and nothing else.
void WriteLogLine(const std::string& path, const std::string& line)
{
    ferrix::AppendFileLine(ferrix::LocalPath(path), line + "\r\n");
}

}  // namespace

std::string ferrix::FormatLogLine(TDateTime localTime, const std::string& message)
{
    const TDateTimeParts p = DecodeDateTime(localTime);
    return Format("%02d/%02d/%04d %02d:%02d:%02d\t", p.Day, p.Month, p.Year, p.Hour, p.Minute, p.Second) + message;
}

void WriteLog(int level, const std::string& message)
{
    try {
        const std::string visible = VisibleMessage(message);
        const std::string line = ferrix::FormatLogLine(Now(), visible);
        std::lock_guard<std::mutex> guard(LogLock());
        WriteLogLine(LogFilePathRef(), line);
        if (TLogEchoTarget* service = LogServiceRef()) {
            try {
                service->LogMessage(visible, level >= 0 && level <= 2 ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE);
            } catch (...) {
            }
        }
    } catch (...) {
    }
}

void SetLogTarget(TLogEchoTarget* service, const std::string& path)
{
    std::lock_guard<std::mutex> guard(LogLock());
    LogServiceRef() = service;
    LogFilePathRef() = path;
}

void ClearLogTarget()
{
    std::lock_guard<std::mutex> guard(LogLock());
    LogServiceRef() = nullptr;
}

void TrimLogFile()
{
    std::lock_guard<std::mutex> guard(LogLock());
    const std::string path = ferrix::LocalPath(LogFilePathRef());
    if (GetFileSize64(path) > 131072)
        DeleteFile(path);
}

std::string LogFilePath()
{
    std::lock_guard<std::mutex> guard(LogLock());
    return LogFilePathRef();
}
