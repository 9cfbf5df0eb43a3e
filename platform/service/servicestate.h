// The states, control codes and status record of a service, shared by the service framework and
// whoever watches or controls a service (the console and its service-manager client).
#pragma once

#include <cstdint>

// Control codes.
constexpr uint32_t SERVICE_CONTROL_STOP = 1;
constexpr uint32_t SERVICE_CONTROL_PAUSE = 2;
constexpr uint32_t SERVICE_CONTROL_CONTINUE = 3;
constexpr uint32_t SERVICE_CONTROL_INTERROGATE = 4;
constexpr uint32_t SERVICE_CONTROL_SHUTDOWN = 5;

// Controls a service accepts, as reported in its status.
constexpr uint32_t SERVICE_ACCEPT_STOP = 0x1;
constexpr uint32_t SERVICE_ACCEPT_SHUTDOWN = 0x4;

enum TCurrentStatus : uint32_t {
    csStopped = 1,
    csStartPending = 2,
    csStopPending = 3,
    csRunning = 4,
};

struct TServiceStatus {
    TCurrentStatus CurrentState = csStopped;
    uint32_t ControlsAccepted = 0;
    uint32_t CheckPoint = 0;  // counts the reports of one pending state
    uint32_t WaitHint = 0;    // milliseconds the host should allow for a pending state
};
