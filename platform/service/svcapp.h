// The service program's application object, for the program's main block:
//     TServiceApplication Application(argc, argv);
//     Application.Initialize();
//     TransportSvc2 = &Application.CreateForm<TTransportSvc2>();
//     return Application.Run();
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/sysutils.h"
#include "platform/service/service.h"

class TServiceApplication {
public:
    TServiceApplication(int argc, char* argv[]);
    ~TServiceApplication();
    TServiceApplication(const TServiceApplication&) = delete;
    TServiceApplication& operator=(const TServiceApplication&) = delete;

    // Prepares the process before any thread exists: SIGTERM and SIGINT are kept for the service.
    void Initialize();

    // Creates the program's one service object, owned by the application.
    template <class T>
    T& CreateForm()
    {
        if (Service)
            throw Exception("A service program runs one service");
        auto service = std::make_unique<T>();
        T& result = *service;
        Service = std::move(service);
        return result;
    }

    // Runs the service until it has ended and returns the program's exit status: 0 when the
    // service started and ended, 1 when its start failed. Started by the service manager, the
    // service reports to it; otherwise it runs in the foreground. The switches INSTALL and
    // UNINSTALL (after "-" or "/", any case) make the service a unit of the service manager or
    // remove it instead, printing a line that says so (SILENT: only a failure) and returning 0 on
    // success, 1 on failure.
    int Run();

private:
    int RegisterService(bool install, bool silent);

    std::vector<std::string> Params;
    std::unique_ptr<TService> Service;
};
