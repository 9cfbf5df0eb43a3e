#include "platform/service/systemdhost.h"

#include <cstdlib>
#include <exception>
#include <systemd/sd-daemon.h>

#include "platform/scm/managerbus.h"

bool TSystemdServiceHost::StartedByManager()
{
    const char* socket = std::getenv("NOTIFY_SOCKET");
    return socket != nullptr && *socket != '\0';
}

namespace ferrix {

std::string ManagerNotification(const TServiceStatus& status)
{
    const std::string extend = "EXTEND_TIMEOUT_USEC=" + std::to_string(uint64_t{status.WaitHint} * 1000) + "\n";
    switch (status.CurrentState) {
    case csStartPending:
        return extend + "STATUS=Service starting...";
    case csRunning:
        return "READY=1\nSTATUS=Service is running";
    case csStopPending:
        return "STOPPING=1\n" + extend + "STATUS=Service stopping...";
    case csStopped:
    default:
        return "STATUS=Service stopped";
    }
}

}  // namespace ferrix

void TSystemdServiceHost::SetServiceStatus(const TServiceStatus& status)
{
    sd_notify(0, ferrix::ManagerNotification(status).c_str());
    TForegroundServiceHost::SetServiceStatus(status);
}

uint32_t TSystemdServiceHost::StopSignalControl()
{
    // The manager stops its units with SIGTERM both on request and when the PC shuts down. It is
    // asked on its private socket first: at shutdown the message bus may be stopping as well.
    for (ferrix::TManagerBus::TRoute route : {ferrix::TManagerBus::TRoute::Private, ferrix::TManagerBus::TRoute::Bus}) {
        try {
            ferrix::TManagerBus bus(route);
            return bus.ManagerProperty("SystemState") == "stopping" ? SERVICE_CONTROL_SHUTDOWN : SERVICE_CONTROL_STOP;
        } catch (const std::exception&) {
            // A service run as another user may not reach the private socket.
        }
    }
    return SERVICE_CONTROL_STOP;
}
