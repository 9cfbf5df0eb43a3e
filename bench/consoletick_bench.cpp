// One timer tick of the console's window (the status query and the statistics exchange) against
// the real ferrix2 running as a unit of a test systemd user manager: median and 90th percentile of
// 100 ticks on this PC and of 100 on "another PC" over an open SSH connection (the relay). Runs its
// own manager and sshd on loopback, as the tests do; needs root.
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "console/application.h"
#include "console/ferrix_cfgmain2.h"
#include "ferrixunit.h"
#include "testkit.h"
#include "benchkit.h"

namespace {

// Milliseconds of each of count ticks; every tick must show the statistics.
std::vector<double> Measure(TMainWnd& wnd, int count)
{
    return TimeEach(count, [&wnd] {
        wnd.TmrMainTimer();
        if (!wnd.IsServiceRunning() || !wnd.StatusText().isEmpty())
            throw std::runtime_error("the tick did not show the statistics: " + wnd.StatusText().toStdString());
    });
}

int Run()
{
    TFerrix2Unit unit(FERRIX2_PROGRAM);
    unit.Install();
    unit.Systemctl("start");
    TRemotePc remote(*unit.Manager, FERRIX_RELAY_PROGRAM);
    TempDir consoleDir;
    TMainWnd wnd(nullptr, consoleDir.Path());
    wnd.TmrMain->stop();  // the bench runs the ticks itself

    Measure(wnd, 10);  // opens the handles
    ReportTimes("console tick, this PC (100)", Measure(wnd, 100), 10);

    wnd.CloseServiceHandles();
    wnd.SetPcName("otherpc");
    // The SSH connection comes up in the background; the ticks see when it is open.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!wnd.IsServiceRunning() && std::chrono::steady_clock::now() < deadline) {
        wnd.TmrMainTimer();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Measure(wnd, 10);
    ReportTimes("console tick, another PC over SSH (100)", Measure(wnd, 100), 40);
    wnd.CloseServiceHandles();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string why = TFerrix2Unit::Unavailable() + TRemotePc::Unavailable();
    if (!why.empty()) {
        std::fprintf(stderr, "consoletick_bench: %s\n", why.c_str());
        return 1;
    }
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TConsoleApplication application(argc, argv);
    try {
        return Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "consoletick_bench: %s\n", e.what());
        return 1;
    }
}
