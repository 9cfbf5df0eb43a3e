#include "platform/eventlog/eventlog.h"

#include <syslog.h>

TEventLog::~TEventLog()
{
    if (Registered)
        closelog();
}

void TEventLog::Report(const std::string& sourceName, const std::string& message, int eventType)
{
    if (!Registered) {
        Ident = sourceName;
        openlog(Ident.c_str(), LOG_PID, LOG_DAEMON);
        Registered = true;
    }
    const int priority = eventType == EVENTLOG_ERROR_TYPE ? LOG_ERR : LOG_INFO;
    syslog(priority, "%s", message.c_str());
}
