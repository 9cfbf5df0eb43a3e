// Status queries of a unit through the service-control client, as the console's timer makes them:
// median and 90th percentile of 100 queries on this PC and of 100 on "another PC" over an open
// SSH connection. Runs its own systemd user manager, a running unit and an sshd on loopback (as
// the tests do); needs root.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "pipekit.h"
#include "platform/files/findfile.h"
#include "platform/remote/relayclient.h"
#include "platform/scm/scm.h"
#include "sshserver.h"
#include "testkit.h"
#include "benchkit.h"
#include "usermanager.h"

using namespace ferrix;

namespace {

// Milliseconds of each of count queries.
std::vector<double> Measure(TScService& service, int count)
{
    return TimeEach(count, [&service] {
        if (QueryServiceStatus(service).CurrentState != SERVICE_RUNNING)
            throw std::runtime_error("the unit is not running");
    });
}

}  // namespace

int main()
{
    const std::string why = TUserManager::Unavailable() + TSshServer::Unavailable();
    if (!why.empty()) {
        std::fprintf(stderr, "scmstatus_bench: %s\n", why.c_str());
        return 1;
    }
    try {
        PipeDirectory pipes;
        TUserManager manager(pipes.Path());
        ForceDirectories(manager.ConfigDir() + "/systemd/user");
        WriteTextFile(manager.ConfigDir() + "/systemd/user/FerrixBench.service",
                      "[Service]\nExecStart=/bin/sleep infinity\n");
        std::string output;
        if (manager.Systemctl({"daemon-reload"}, output) != 0 || manager.Systemctl({"start", "FerrixBench"}, output) != 0)
            throw std::runtime_error("the bench unit did not start: " + output);
        TSshServer ssh(manager.ClientEnvironment());
        ssh.Authorize("root");
        ssh.AddHost("otherpc", "root");
        ::setenv("FERRIX_SSH", ssh.SshCommand().c_str(), 1);
        ::setenv("FERRIX_RELAY", ssh.InstallProgram(FERRIX_RELAY_PROGRAM).c_str(), 1);

        auto local = OpenSCManagerA("");
        auto localService = OpenServiceA(*local, "FerrixBench", SERVICE_QUERY_STATUS);
        auto remote = OpenSCManagerA("otherpc");  // connects
        auto remoteService = OpenServiceA(*remote, "FerrixBench", SERVICE_QUERY_STATUS);
        Measure(*localService, 10);  // warm up
        Measure(*remoteService, 10);
        ReportTimes("status query, this PC (100)", Measure(*localService, 100), 5);
        ReportTimes("status query, another PC over SSH (100)", Measure(*remoteService, 100), 20);
        CloseRelayLinks();
        manager.Systemctl({"stop", "FerrixBench"}, output);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "scmstatus_bench: %s\n", e.what());
        return 1;
    }
}
