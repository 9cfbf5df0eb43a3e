// Starting and stopping the service with waiting, and the texts of the service states.
#pragma once
#include <cstdint>
#include <string>
#include "platform/scm/scm.h"

// Starts the service and returns once it runs; raises EOSError for a failed call and
// "Failed to start service" when it does not get there.
void StartServiceAndWait(TScManager& manager, const std::string& serviceName);
// Stops the service and returns once it is stopped; raises like StartServiceAndWait, with
// "Failed to stop service".
void StopServiceAndWait(TScManager& manager, const std::string& serviceName);
// "Service stopped", "Service is running", ... for a service state; "Service state unknown" for 0
// and every value above 7.
std::string ServiceStateText(uint32_t state);
