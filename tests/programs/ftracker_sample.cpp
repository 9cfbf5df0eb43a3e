// A small service on the generic file-tracking base, run by the tests as a real process in the
// foreground: settings "ftsample.ini" and log "ftsample.log" next to the program, the pipes
// "FtSampleInfo" (statistics) and "FtSampleControl" (settings). Its changed files go nowhere.
#include "foundation/ftconfigbase.h"
#include "platform/service/svcapp.h"
#include "service/ftsrvbase.h"

namespace {

class TFtrackerSample : public TBaseFtrackerService {
public:
    TFtrackerSample()
    {
        Name = "FtSample";
        DisplayName = "Ferrix file-tracking sample";
        ConfigFileName = "ftsample.ini";
        InfoPipeName = "FtSampleInfo";
        ControlPipeName = "FtSampleControl";
        LogFileName = "ftsample.log";
        Config = std::make_unique<TBaseFtConfig>();
    }

    TServiceController GetServiceController() override
    {
        return [this](uint32_t CtrlCode) { Controller(CtrlCode); };
    }
    void BeforeDestination() override {}
    void AfterDestination() override {}
};

}  // namespace

int main(int argc, char* argv[])
{
    TServiceApplication Application(argc, argv);
    Application.Initialize();
    Application.CreateForm<TFtrackerSample>();
    return Application.Run();
}
