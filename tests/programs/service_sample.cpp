// A small service on the framework, run by the service tests in the foreground:
//     service_sample LOGFILE [fail-start | hold-start RELEASEFILE]
// It writes a log line at each of its events and, like the real service, lets the framework
// process control requests between short sleeps of its execute loop. With hold-start its start
// event lasts until RELEASEFILE exists.
#include <chrono>
#include <string>
#include <thread>
#include <unistd.h>

#include "foundation/debuglog.h"
#include "platform/service/svcapp.h"

namespace {

class TSampleService : public TService {
public:
    TSampleService()
    {
        Name = "FerrixSample";
        DisplayName = "Ferrix sample service";
        OnStart = [this](TService*, bool& started) {
            SetLogTarget(this, LogFile);
            WriteLog(0, "start");
            while (!HoldUntil.empty() && ::access(HoldUntil.c_str(), F_OK) != 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            started = !FailStart;
        };
        OnExecute = [this](TService*) {
            WriteLog(0, "execute");
            while (!ServiceThread().Terminated()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                ServiceThread().ProcessRequests(false);
            }
            WriteLog(0, "execute end");
        };
        OnStop = [](TService*, bool&) {
            WriteLog(0, "stop");
            ClearLogTarget();
        };
    }

    TServiceController GetServiceController() override
    {
        return [this](uint32_t CtrlCode) { Controller(CtrlCode); };
    }

    std::string LogFile;
    bool FailStart = false;
    std::string HoldUntil;
};

}  // namespace

int main(int argc, char* argv[])
{
    TServiceApplication Application(argc, argv);
    Application.Initialize();
    TSampleService& service = Application.CreateForm<TSampleService>();
    service.LogFile = argc > 1 ? argv[1] : "sample.log";
    service.FailStart = argc > 2 && std::string(argv[2]) == "fail-start";
    if (argc > 3 && std::string(argv[2]) == "hold-start")
        service.HoldUntil = argv[3];
    return Application.Run();
}
