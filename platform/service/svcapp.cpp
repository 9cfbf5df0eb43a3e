#include "platform/service/svcapp.h"

#include <cstdio>
#include <exception>

#include "platform/process/progdir.h"
#include "platform/scm/managerbus.h"
#include "platform/scm/unitfiles.h"
#include "platform/service/foreground.h"
#include "platform/service/systemdhost.h"

namespace {

// "-install" or "/INSTALL": the switch word without its prefix, else empty.
std::string SwitchWord(const std::string& param)
{
    if (param.size() < 2 || (param[0] != '-' && param[0] != '/'))
        return std::string();
    return param.substr(1);
}

}  // namespace

TServiceApplication::TServiceApplication(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i)
        Params.emplace_back(argv[i]);
}

TServiceApplication::~TServiceApplication() = default;

void TServiceApplication::Initialize()
{
    TForegroundServiceHost::BlockStopSignals();
}

int TServiceApplication::Run()
{
    if (!Service) {
        std::fprintf(stderr, "No service to run\n");
        return 1;
    }
    bool install = false, uninstall = false, silent = false;
    for (const std::string& param : Params) {
        const std::string word = SwitchWord(param);
        install = install || SameText(word, "INSTALL");
        uninstall = uninstall || SameText(word, "UNINSTALL");
        silent = silent || SameText(word, "SILENT");
    }
    if (install || uninstall)
        return RegisterService(install, silent);
    try {
        if (TSystemdServiceHost::StartedByManager()) {
            TSystemdServiceHost host;
            return host.Run(*Service);
        }
        // Not started by a service manager: the service runs in the foreground.
        TForegroundServiceHost host;
        return host.Run(*Service);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", Service->Name.c_str(), e.what());
        return 1;
    }
}

int TServiceApplication::RegisterService(bool install, bool silent)
{
    const std::string& name = Service->Name;
    try {
        ferrix::TManagerBus bus;
        if (install) {
            const std::string path = ferrix::InstallServiceUnit(bus, name, Service->DisplayName, ferrix::ProgramFilePath());
            if (!silent)
                std::printf("%s: service installed as %s\n", name.c_str(), path.c_str());
        } else {
            ferrix::UninstallServiceUnit(bus, name);
            if (!silent)
                std::printf("%s: service uninstalled\n", name.c_str());
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: the service could not be %s: %s\n", name.c_str(),
                     install ? "installed" : "uninstalled", e.what());
        return 1;
    }
}
