// The service framework under a real systemd user manager: a notify unit of the sample service is
// "activating" for as long as the service's start event runs, the client sees start pending with
// a rising checkpoint meanwhile, and running only once the start event is done.
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

#include "pipekit.h"
#include "platform/scm/scm.h"
#include "testkit.h"
#include "usermanager.h"

using namespace ferrix;

namespace fs = std::filesystem;

TEST(SystemdHost, UnitIsActiveOnlyOnceTheStartEventIsDone)
{
    const std::string why = TUserManager::Unavailable();
    if (!why.empty())
        GTEST_SKIP() << why;
    TempDir dir;
    ::chmod(dir.Path().c_str(), 0755);
    TUserManager manager(dir / "pipes");
    const std::string log = dir / "sample.log";
    const std::string release = dir / "release";
    fs::create_directories(manager.ConfigDir() + "/systemd/user");
    WriteTextFile(manager.ConfigDir() + "/systemd/user/FerrixSample.service",
                  "[Service]\nType=notify\nExecStart=\"" FERRIX_SERVICE_SAMPLE "\" " + log + " hold-start " + release + "\n");
    std::string output;
    ASSERT_EQ(manager.Systemctl({"daemon-reload"}, output), 0) << output;

    auto scm = OpenSCManagerA("");
    auto service = OpenServiceA(*scm, "FerrixSample", SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    StartServiceA(*service);
    ASSERT_TRUE(WaitFor([&] { return fs::exists(log) && ReadTextFile(log).find("start") != std::string::npos; }));
    // The start event runs: pending, and each query while the start job runs counts on.
    const TServiceStatus first = QueryServiceStatus(*service);
    const TServiceStatus second = QueryServiceStatus(*service);
    EXPECT_EQ(first.CurrentState, SERVICE_START_PENDING);
    EXPECT_EQ(second.CurrentState, SERVICE_START_PENDING);
    EXPECT_EQ(second.CheckPoint, first.CheckPoint + 1);
    EXPECT_EQ(manager.UnitProperty("FerrixSample.service", "ActiveState"), "activating");
    EXPECT_EQ(manager.UnitProperty("FerrixSample.service", "StatusText"), "Service starting...");

    WriteTextFile(release, "");
    ASSERT_TRUE(WaitFor([&] { return QueryServiceStatus(*service).CurrentState == SERVICE_RUNNING; }));
    EXPECT_NE(ReadTextFile(log).find("execute"), std::string::npos);
    EXPECT_EQ(QueryServiceStatus(*service).CheckPoint, 0u);
    EXPECT_EQ(manager.UnitProperty("FerrixSample.service", "StatusText"), "Service is running");

    ControlService(*service, SERVICE_CONTROL_STOP);
    ASSERT_TRUE(WaitFor([&] { return QueryServiceStatus(*service).CurrentState == SERVICE_STOPPED; }));
    EXPECT_NE(ReadTextFile(log).find("stop"), std::string::npos);
    EXPECT_EQ(manager.UnitProperty("FerrixSample.service", "ActiveState"), "inactive");
    EXPECT_EQ(manager.UnitProperty("FerrixSample.service", "ExecMainStatus"), "0");
}
