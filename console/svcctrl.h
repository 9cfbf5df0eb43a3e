// Starting and stopping the service with waiting, and the texts of the service states.
//
// A wait polls the service's status: after a start, once per wait hint that the service reports;
// after a stop, once every 2000 ms; it goes on while the checkpoint rises and ends when it does not
// (the manager ends a stuck job at its own time-out, and the checkpoint then stops rising). A job
// that never ends (a unit without a time-out) would hold the caller for ever, so every wait also
// ends at an overall deadline and then fails like a wait whose checkpoint stood still.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include "platform/scm/scm.h"

// The overall deadline of one wait: longer than the manager's default job time-out (90 s), so that
// the manager's own verdict comes first wherever it has one.
inline constexpr std::chrono::milliseconds ServiceWaitDeadline = std::chrono::minutes(3);

// The sleep between two polls of a stop.
inline constexpr std::chrono::milliseconds StopPollInterval = std::chrono::milliseconds(2000);

// Starts the service and returns once it runs; raises EOSError for a failed call and
// "Failed to start service" when it does not get there (checkpoint standing still, or deadline).
// The service handle it opens is closed in every case.
void StartServiceAndWait(TScManager& manager, const std::string& serviceName,
                         std::chrono::milliseconds deadline = ServiceWaitDeadline);
// Stops the service and returns once it is stopped; raises like StartServiceAndWait, with
// "Failed to stop service".
void StopServiceAndWait(TScManager& manager, const std::string& serviceName,
                        std::chrono::milliseconds deadline = ServiceWaitDeadline);
// "Service stopped", "Service is running", ... for a service state; "Service state unknown" for 0
// and every value above 7.
std::string ServiceStateText(uint32_t state);
