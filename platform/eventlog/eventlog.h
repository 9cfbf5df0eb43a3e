// The system log in place of the Windows event log: one source per service name.
#pragma once

#include <string>

constexpr int EVENTLOG_ERROR_TYPE = 1;
constexpr int EVENTLOG_INFORMATION_TYPE = 4;

// What a service offers the log writer for the echo of log lines to the system log.
class TLogEchoTarget {
public:
    virtual ~TLogEchoTarget() = default;
    // eventType is EVENTLOG_INFORMATION_TYPE or EVENTLOG_ERROR_TYPE.
    virtual void LogMessage(const std::string& message, int eventType) = 0;
};

class TEventLog {
public:
    TEventLog() = default;
    ~TEventLog();
    TEventLog(const TEventLog&) = delete;
    TEventLog& operator=(const TEventLog&) = delete;

    // Registers the source at the first report and keeps it until destroyed.
    void Report(const std::string& sourceName, const std::string& message, int eventType);

private:
    std::string Ident;  // syslog keeps a pointer to the ident, so it must outlive the registration
    bool Registered = false;
};
