// Runs a service in the foreground of a program that no service manager started: SIGTERM and
// SIGINT become the stop control request, and Run returns once the service has ended.
#pragma once

#include <atomic>

#include "platform/files/filedescriptor.h"
#include "platform/service/service.h"

class TForegroundServiceHost : public TServiceHost {
public:
    TForegroundServiceHost();
    ~TForegroundServiceHost() override;
    TForegroundServiceHost(const TForegroundServiceHost&) = delete;
    TForegroundServiceHost& operator=(const TForegroundServiceHost&) = delete;

    // Runs the service to its end: 0 when it started, 1 when its start failed.
    int Run(TService& service);

    void SetServiceStatus(const TServiceStatus& status) override;

    // Blocks SIGTERM and SIGINT in the calling thread and in every thread it creates afterwards,
    // so that they reach the program only through Run's signal descriptor.
    static void BlockStopSignals();

protected:
    // The control request that a stop signal stands for.
    virtual uint32_t StopSignalControl() { return SERVICE_CONTROL_STOP; }

private:
    ferrix::TFileDescriptor EndedEvent;  // eventfd, signalled by the report of csStopped
    std::atomic<bool> Started{false};
};
