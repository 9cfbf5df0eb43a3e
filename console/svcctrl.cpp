#include "console/svcctrl.h"

#include <algorithm>
#include <thread>

#include "base/sysutils.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TWaitRule {
    uint32_t Target;
    bool FixedSleep;  // StopPollInterval instead of the service's wait hint
    const char* FailureText;
};

// Polls until the service reaches the rule's target, its checkpoint stands still, or the deadline
// passes; raises the rule's failure text unless the target was reached.
void WaitForState(TScService& service, const TWaitRule& rule, Clock::time_point deadline)
{
    TServiceStatus status = QueryServiceStatus(service);
    while (status.CurrentState != rule.Target) {
        const uint32_t checkPoint = status.CheckPoint;
        const auto now = Clock::now();
        if (now >= deadline)
            break;
        std::chrono::milliseconds pause =
            rule.FixedSleep ? StopPollInterval : std::chrono::milliseconds(status.WaitHint);
        pause = std::min(pause, std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
        std::this_thread::sleep_for(pause);
        status = QueryServiceStatus(service);
        if (status.CheckPoint <= checkPoint)
            break;
    }
    if (status.CurrentState != rule.Target)
        throw Exception(rule.FailureText);
}

}  // namespace

void StartServiceAndWait(TScManager& manager, const std::string& serviceName, std::chrono::milliseconds deadline)
{
    const auto end = Clock::now() + deadline;
    std::unique_ptr<TScService> service = OpenServiceA(manager, serviceName, SERVICE_START | SERVICE_QUERY_STATUS);
    StartServiceA(*service);
    WaitForState(*service, {SERVICE_RUNNING, false, "Failed to start service"}, end);
}

void StopServiceAndWait(TScManager& manager, const std::string& serviceName, std::chrono::milliseconds deadline)
{
    const auto end = Clock::now() + deadline;
    std::unique_ptr<TScService> service = OpenServiceA(manager, serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS);
    ControlService(*service, SERVICE_CONTROL_STOP);
    WaitForState(*service, {SERVICE_STOPPED, true, "Failed to stop service"}, end);
}

std::string ServiceStateText(uint32_t state)
{
    switch (state) {
    case 1: return "Service stopped";
    case 2: return "Service starting...";
    case 3: return "Service stopping...";
    case 4: return "Service is running";
    case 5: return "Service resuming...";
    case 6: return "Service pausing...";
    case 7: return "Service paused";
    default: return "Service state unknown";
    }
}
