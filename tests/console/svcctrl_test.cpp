// Start and stop with waiting against a real systemd user manager and small units of its own:
// a unit that starts at once, one that fails, one that never reports ready, one whose stop takes
// a while and one whose stop never ends.
#include <gtest/gtest.h>
#include <chrono>
#include <filesystem>
#include <memory>

#include "console/svcctrl.h"
#include "pipekit.h"
#include "usermanager.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

const char* const PlainUnit = "[Service]\nExecStart=/bin/sleep infinity\n";

class ServiceWait : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string why = TUserManager::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        Manager = std::make_unique<TUserManager>(Pipes.Path());
    }

    // Units whose stop never ends would hold the manager's own exit: their processes go first.
    void TearDown() override
    {
        std::string output;
        for (const std::string& unit : Units)
            Manager->Systemctl({"kill", "--kill-whom=all", "--signal=KILL", unit + ".service"}, output);
        Manager.reset();
    }

    // Installs the unit NAME.service with the text and makes the manager read it.
    void AddUnit(const std::string& name, const std::string& text)
    {
        const std::string dir = Manager->ConfigDir() + "/systemd/user";
        std::filesystem::create_directories(dir);
        WriteTextFile(dir + "/" + name + ".service", text);
        Units.push_back(name);
        std::string output;
        ASSERT_EQ(Manager->Systemctl({"daemon-reload"}, output), 0) << output;
    }

    std::string State(const std::string& name) const { return Manager->UnitProperty(name + ".service", "ActiveState"); }

    // The message StartServiceAndWait or StopServiceAndWait raises, with the time it took.
    template <class Call>
    std::string Failure(Call call, milliseconds& took)
    {
        const auto start = Clock::now();
        try {
            call();
        } catch (const std::exception& e) {
            took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
            return e.what();
        }
        took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
        return "(no error)";
    }

    PipeDirectory Pipes;
    std::unique_ptr<TUserManager> Manager;
    std::vector<std::string> Units;
};

}  // namespace

TEST(ServiceStateText, NamesEveryStateAndCallsTheRestUnknown)
{
    EXPECT_EQ(ServiceStateText(0), "Service state unknown");
    EXPECT_EQ(ServiceStateText(1), "Service stopped");
    EXPECT_EQ(ServiceStateText(2), "Service starting...");
    EXPECT_EQ(ServiceStateText(3), "Service stopping...");
    EXPECT_EQ(ServiceStateText(4), "Service is running");
    EXPECT_EQ(ServiceStateText(5), "Service resuming...");
    EXPECT_EQ(ServiceStateText(6), "Service pausing...");
    EXPECT_EQ(ServiceStateText(7), "Service paused");
    EXPECT_EQ(ServiceStateText(8), "Service state unknown");
    EXPECT_EQ(ServiceStateText(0xFFFFFFFF), "Service state unknown");
}

TEST_F(ServiceWait, StartAndStopReturnOnceThereAndAStoppingUnitIsWaitedFor)
{
    AddUnit("FerrixPlain", PlainUnit);
    // The stop runs a command of 3 seconds first: two polls of 2000 ms see the job still running.
    AddUnit("FerrixSlowStop", "[Service]\nExecStart=/bin/sleep infinity\nExecStop=/bin/sleep 3\n");
    auto manager = OpenSCManagerA("");

    // Running at once or after one wait hint of 1000 ms: no poll more.
    auto start = Clock::now();
    StartServiceAndWait(*manager, "FerrixPlain");
    EXPECT_LT(Clock::now() - start, milliseconds(1900));
    EXPECT_EQ(State("FerrixPlain"), "active");
    StopServiceAndWait(*manager, "FerrixPlain");
    EXPECT_EQ(State("FerrixPlain"), "inactive");

    StartServiceAndWait(*manager, "FerrixSlowStop");
    start = Clock::now();
    StopServiceAndWait(*manager, "FerrixSlowStop");
    const auto took = Clock::now() - start;
    EXPECT_EQ(State("FerrixSlowStop"), "inactive");
    EXPECT_GE(took, seconds(3));
    EXPECT_LT(took, seconds(10));
}

TEST_F(ServiceWait, UnitThatFailsOrIsUnknownRaises)
{
    // Exits before it reports ready: the start job fails and the state reads stopped.
    AddUnit("FerrixFails", "[Service]\nType=notify\nExecStart=/bin/false\n");
    auto manager = OpenSCManagerA("");
    milliseconds took{};
    EXPECT_EQ(Failure([&] { StartServiceAndWait(*manager, "FerrixFails"); }, took), "Failed to start service");
    EXPECT_EQ(State("FerrixFails"), "failed");
    EXPECT_LT(took, seconds(10));

    EXPECT_EQ(Failure([&] { StartServiceAndWait(*manager, "FerrixNoSuch"); }, took), "Unit FerrixNoSuch.service not found.");
    EXPECT_EQ(Failure([&] { StopServiceAndWait(*manager, "FerrixNoSuch"); }, took), "Unit FerrixNoSuch.service not found.");
    // Stopping a stopped unit is no failure: it is where the stop leads.
    AddUnit("FerrixPlain", PlainUnit);
    StopServiceAndWait(*manager, "FerrixPlain");
    EXPECT_EQ(State("FerrixPlain"), "inactive");
}

TEST_F(ServiceWait, StartEndsWithTheManagersOwnTimeOut)
{
    // Never reports ready; the manager gives up after 2 seconds, long before the wait's deadline.
    AddUnit("FerrixSlowReady", "[Service]\nType=notify\nExecStart=/bin/sleep infinity\nTimeoutStartSec=2\n");
    auto manager = OpenSCManagerA("");
    milliseconds took{};
    EXPECT_EQ(Failure([&] { StartServiceAndWait(*manager, "FerrixSlowReady", seconds(60)); }, took),
              "Failed to start service");
    EXPECT_GE(took, seconds(2));
    EXPECT_LT(took, seconds(8));
    EXPECT_EQ(State("FerrixSlowReady"), "failed");
}

TEST_F(ServiceWait, JobsWithoutATimeOutEndAtTheWaitsDeadline)
{
    AddUnit("FerrixNeverReady", "[Service]\nType=notify\nExecStart=/bin/sleep infinity\nTimeoutStartSec=infinity\n");
    AddUnit("FerrixNeverStops",
            "[Service]\nExecStart=/bin/sleep infinity\nExecStop=/bin/sleep infinity\nTimeoutStopSec=infinity\n");
    auto manager = OpenSCManagerA("");
    milliseconds took{};
    EXPECT_EQ(Failure([&] { StartServiceAndWait(*manager, "FerrixNeverReady", seconds(3)); }, took),
              "Failed to start service");
    EXPECT_GE(took, seconds(3));
    EXPECT_LT(took, seconds(5));
    EXPECT_EQ(State("FerrixNeverReady"), "activating");

    StartServiceAndWait(*manager, "FerrixNeverStops");
    EXPECT_EQ(Failure([&] { StopServiceAndWait(*manager, "FerrixNeverStops", seconds(3)); }, took),
              "Failed to stop service");
    EXPECT_GE(took, seconds(3));
    EXPECT_LT(took, seconds(5));
    EXPECT_EQ(State("FerrixNeverStops"), "deactivating");
}
