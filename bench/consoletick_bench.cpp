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
#include <vector>

#include "console/application.h"
#include "console/ferrix_cfgmain2.h"
#include "ferrixunit.h"
#include "testkit.h"

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds of each of count ticks; every tick must show the statistics.
std::vector<double> Measure(TMainWnd& wnd, int count)
{
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        wnd.TmrMainTimer();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (!wnd.IsServiceRunning() || !wnd.StatusText().isEmpty())
            throw std::runtime_error("the tick did not show the statistics: " + wnd.StatusText().toStdString());
    }
    std::sort(times.begin(), times.end());
    return times;
}

void Report(const char* what, const std::vector<double>& times, double target)
{
    std::printf("%-44s median %7.3f ms  p90 %7.3f ms  (target < %.0f ms: %s)\n", what, times[times.size() / 2],
                times[times.size() * 9 / 10], target, times[times.size() / 2] < target ? "met" : "MISSED");
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
    Report("console tick, this PC (100)", Measure(wnd, 100), 10);

    wnd.CloseServiceHandles();
    wnd.SetPcName("otherpc");
    Measure(wnd, 10);  // opens the SSH connection
    Report("console tick, another PC over SSH (100)", Measure(wnd, 100), 40);
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
