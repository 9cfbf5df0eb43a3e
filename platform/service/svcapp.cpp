#include "platform/service/svcapp.h"

#include <cstdio>
#include <exception>

#include "platform/service/foreground.h"

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
    for (const std::string& param : Params) {
        const std::string word = SwitchWord(param);
        if (SameText(word, "INSTALL") || SameText(word, "UNINSTALL")) {
            std::fprintf(stderr, "%s: no service manager to %s the service with\n", Service->Name.c_str(),
                         LowerCase(word).c_str());
            return 1;
        }
    }
    // Not started by a service manager: the service runs in the foreground.
    try {
        TForegroundServiceHost host;
        return host.Run(*Service);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", Service->Name.c_str(), e.what());
        return 1;
    }
}
