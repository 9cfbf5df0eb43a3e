// Runs a service that the service manager (systemd) started as a unit of type notify: every
// status report goes to the manager through sd_notify (a pending state with its wait hint,
// running, stopping, and a short status text). SIGTERM is the stop request, or the shutdown
// request while the manager itself is stopping.
#pragma once

#include "platform/service/foreground.h"

class TSystemdServiceHost : public TForegroundServiceHost {
public:
    // Whether the manager started this program and waits for its reports (NOTIFY_SOCKET).
    static bool StartedByManager();

    void SetServiceStatus(const TServiceStatus& status) override;

protected:
    uint32_t StopSignalControl() override;
};

namespace ferrix {

// The notification that reports a status to the manager.
std::string ManagerNotification(const TServiceStatus& status);

}  // namespace ferrix
