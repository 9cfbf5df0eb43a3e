// ferrix2 as a unit of a real systemd user manager (started by the fixture): INSTALL and
// UNINSTALL, start and stop through the service-control client, its status across them, a stop
// during a check pass, failed starts, and the account the service runs as.
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "ferrixrun.h"
#include "ferrixunit.h"
#include "ftpserver.h"
#include "pipekit.h"
#include "platform/namedpipe/pipeclient.h"
#include "platform/remote/relayclient.h"
#include "platform/scm/scm.h"
#include "service/ft_control.h"
#include "sshserver.h"
#include "platform/scm/unitfiles.h"
#include "testuser.h"
#include "usermanager.h"

using namespace ferrix;

namespace fs = std::filesystem;

namespace {

// The rights of the tests that start and stop the service.
constexpr uint32_t ControlRights = SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS;

const std::string Unit = "TransportSvc2.service";

class Ferrix2Unit : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string why = TFerrix2Unit::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        Svc = std::make_unique<TFerrix2Unit>(FERRIX2_PROGRAM);
        Run = Svc->Run.get();
        Manager = Svc->Manager.get();
        Shop = Svc->Shop;
    }

    void TearDown() override { Svc.reset(); }

    std::string Program() const { return Svc->Program(); }
    int Ferrix2(const std::vector<std::string>& args, std::string& output) const { return Svc->Ferrix2(args, output); }
    void Install() { ASSERT_NO_THROW(Svc->Install()); }

    // The console's start (or stop) and wait: after the request, poll with the wait hint while the
    // checkpoint rises; returns every state seen.
    std::vector<uint32_t> ControlAndWait(TScService& service, bool start)
    {
        if (start)
            StartServiceA(service);
        else
            ControlService(service, SERVICE_CONTROL_STOP);
        const uint32_t target = start ? SERVICE_RUNNING : SERVICE_STOPPED;
        TServiceStatus status = QueryServiceStatus(service);
        std::vector<uint32_t> seen{status.CurrentState};
        while (status.CurrentState != target) {
            const uint32_t checkPoint = status.CheckPoint;
            std::this_thread::sleep_for(std::chrono::milliseconds(status.WaitHint / 10));
            status = QueryServiceStatus(service);
            seen.push_back(status.CurrentState);
            if (status.CheckPoint <= checkPoint && status.CurrentState != target) {
                // no job runs any more: one more look, as after the console's full wait hint
                std::this_thread::sleep_for(std::chrono::milliseconds(status.WaitHint));
                status = QueryServiceStatus(service);
                seen.push_back(status.CurrentState);
                break;
            }
        }
        return seen;
    }

    bool StatisticsAnswer() const { return CallPipe("TrSvc2Info", PipeMessage("REQGETSTATS")).Ok; }

    void GivePipeDirectoryTo(uid_t uid, gid_t gid) { Svc->GivePipeDirectoryTo(uid, gid); }

    std::unique_ptr<TFerrix2Unit> Svc;
    Ferrix2Run* Run = nullptr;
    TUserManager* Manager = nullptr;
    std::string Shop;
};

constexpr const char* ServicePassword = "Secret-Pa55";

// The same manager and pipes reached as "another PC" through a real sshd on loopback: "otherpc"
// logs on as root.
class Ferrix2Remote : public Ferrix2Unit {
protected:
    void SetUp() override
    {
        Ferrix2Unit::SetUp();
        if (IsSkipped())
            return;
        const std::string why = TRemotePc::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        Remote = std::make_unique<TRemotePc>(*Manager, FERRIX_RELAY_PROGRAM);
        Ssh = Remote->Ssh.get();
    }
    void TearDown() override
    {
        Remote.reset();
        Ferrix2Unit::TearDown();
    }

    std::unique_ptr<TRemotePc> Remote;
    TSshServer* Ssh = nullptr;
};

// One exchange with a pipe of pc ("." for this PC).
TPipeReply Exchange(const std::string& pc, const std::string& pipe, const std::string& request)
{
    std::string buffer(PipeBufferSize, '\0');
    uint32_t read = 0;
    TPipeReply reply;
    reply.Ok = CallNamedPipeA("\\\\" + pc + "\\pipe\\" + pipe, request.data(), static_cast<uint32_t>(request.size()),
                              buffer.data(), PipeBufferSize, read);
    reply.Error = reply.Ok ? 0 : GetLastPipeError();
    reply.Answer = buffer.substr(0, read);
    return reply;
}

}  // namespace

TEST_F(Ferrix2Unit, InstallWritesAnEnabledNotifyUnitAndUninstallRemovesIt)
{
    std::string output;
    ASSERT_EQ(Ferrix2({"-install"}, output), 0) << output;
    const std::string path = Manager->ConfigDir() + "/systemd/user/" + Unit;
    EXPECT_EQ(output, "TransportSvc2: service installed as " + path + "\n");
    const std::string text = ReadTextFile(path);
    EXPECT_NE(text.find("Description=TOLVANE Transport Service 2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Type=notify\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ExecStart=\"" + Program() + "\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("WantedBy=default.target\n"), std::string::npos) << text;
    EXPECT_EQ(Manager->UnitProperty(Unit, "UnitFileState"), "enabled");
    EXPECT_EQ(Manager->UnitProperty(Unit, "LoadState"), "loaded");

    // A second INSTALL replaces the unit; SILENT keeps the success line back.
    ASSERT_EQ(Ferrix2({"/Install", "-silent"}, output), 0) << output;
    EXPECT_EQ(output, "");
    EXPECT_EQ(ReadTextFile(path), text);

    ASSERT_EQ(Ferrix2({"-UNINSTALL"}, output), 0) << output;
    EXPECT_EQ(output, "TransportSvc2: service uninstalled\n");
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(fs::exists(Manager->ConfigDir() + "/systemd/user/default.target.wants/" + Unit));
    EXPECT_EQ(Manager->UnitProperty(Unit, "LoadState"), "not-found");
    auto manager = OpenSCManagerA("");
    try {
        OpenServiceA(*manager, "TransportSvc2", SERVICE_QUERY_STATUS);
        ADD_FAILURE() << "a removed unit opened";
    } catch (const EOSError& e) {
        EXPECT_STREQ(e.what(), "Unit TransportSvc2.service not found.");
    }

    ASSERT_EQ(Ferrix2({"-uninstall"}, output), 1) << output;
    EXPECT_NE(output.find("TransportSvc2: the service could not be uninstalled: The service TransportSvc2 is not "
                          "installed"),
              std::string::npos)
        << output;
}

TEST_F(Ferrix2Unit, StartMakesTheUnitActiveOnlyOnceThePipesAnswer)
{
    Install();
    auto manager = OpenSCManagerA("");
    auto service = OpenServiceA(*manager, "TransportSvc2", ControlRights);
    EXPECT_EQ(QueryServiceStatus(*service).CurrentState, SERVICE_STOPPED);
    EXPECT_FALSE(StatisticsAnswer());

    // systemctl start returns when the unit is active: the service has done its start work.
    std::string output;
    ASSERT_EQ(Manager->Systemctl({"start", Unit}, output), 0) << output << Manager->Log();
    EXPECT_TRUE(StatisticsAnswer());
    EXPECT_EQ(QueryServiceStatus(*service).CurrentState, SERVICE_RUNNING);
    EXPECT_TRUE(Run->WaitForLog("TransportSvc2 service started"));

    const std::vector<uint32_t> stopping = ControlAndWait(*service, false);
    EXPECT_EQ(stopping.back(), SERVICE_STOPPED);
    EXPECT_EQ(Manager->UnitProperty(Unit, "ActiveState"), "inactive");
    EXPECT_EQ(Manager->UnitProperty(Unit, "ExecMainStatus"), "0");
    EXPECT_EQ(Run->CountLog("TransportSvc2 service stopped"), 1);
    EXPECT_FALSE(StatisticsAnswer());

    // Started by the client, as the console does: running is reported only with the pipes up.
    const std::vector<uint32_t> starting = ControlAndWait(*service, true);
    EXPECT_EQ(starting.back(), SERVICE_RUNNING);
    EXPECT_TRUE(StatisticsAnswer());
    for (uint32_t state : starting)
        EXPECT_TRUE(state == SERVICE_START_PENDING || state == SERVICE_RUNNING || state == SERVICE_STOPPED) << state;

    // UNINSTALL stops a running service first.
    ASSERT_EQ(Ferrix2({"/uninstall"}, output), 0) << output;
    EXPECT_EQ(QueryServiceStatus(*service).CurrentState, SERVICE_STOPPED);
    EXPECT_EQ(Run->CountLog("TransportSvc2 service stopped"), 2);
}

TEST_F(Ferrix2Unit, StopRequestDuringACheckPassEndsTheUnitCleanly)
{
    FtpServer server;
    Run->WriteIni(Ferrix2Ini(Ferrix2FtpSettings(Shop, server, true)));
    Install();
    auto manager = OpenSCManagerA("");
    auto service = OpenServiceA(*manager, "TransportSvc2", ControlRights);
    // The first file waits for the server; the stop request arrives meanwhile.
    server.Pause();
    StartServiceA(*service);
    ASSERT_TRUE(Run->WaitForLog("transmitting file ")) << Run->Log();
    ControlService(*service, SERVICE_CONTROL_STOP);
    ASSERT_TRUE(WaitFor([&] { return QueryServiceStatus(*service).CurrentState == SERVICE_STOP_PENDING; }));
    EXPECT_GT(QueryServiceStatus(*service).CheckPoint, 0u);
    server.Resume();

    ASSERT_TRUE(WaitFor([&] { return QueryServiceStatus(*service).CurrentState == SERVICE_STOPPED; },
                        std::chrono::seconds(60)));
    EXPECT_EQ(Manager->UnitProperty(Unit, "ActiveState"), "inactive");
    EXPECT_EQ(Manager->UnitProperty(Unit, "ExecMainStatus"), "0");
    EXPECT_EQ(Run->CountLog("transmitting file "), 1) << Run->Log();
    EXPECT_EQ(Run->CountLog("TransportSvc2 service stopped"), 1) << Run->Log();
}

TEST_F(Ferrix2Unit, StartThatFailsIsReportedStoppedNotRunning)
{
    Install();
    auto manager = OpenSCManagerA("");
    auto service = OpenServiceA(*manager, "TransportSvc2", ControlRights);
    // A second copy in the foreground holds the pipes.
    Run->Start();
    ASSERT_TRUE(WaitFor([&] { return StatisticsAnswer(); })) << Run->Log();

    std::string output;
    EXPECT_NE(Manager->Systemctl({"start", Unit}, output), 0) << output;
    EXPECT_EQ(Manager->UnitProperty(Unit, "ActiveState"), "failed");
    EXPECT_EQ(Manager->UnitProperty(Unit, "ExecMainStatus"), "1");
    EXPECT_EQ(QueryServiceStatus(*service).CurrentState, SERVICE_STOPPED);
    EXPECT_EQ(QueryServiceStatus(*service).CheckPoint, 0u);
    // The console's start and wait ends on stopped, never on running.
    const std::vector<uint32_t> seen = ControlAndWait(*service, true);
    EXPECT_EQ(seen.back(), SERVICE_STOPPED);
    for (uint32_t state : seen)
        EXPECT_NE(state, SERVICE_RUNNING);
    EXPECT_EQ(Run->Stop(), 0);
}

TEST_F(Ferrix2Unit, AccountChangeRunsTheNextStartAsThatUserAndLocalSystemAsRoot)
{
    TTestUser user("svc", ServicePassword);
    // A program another user could replace is neither installed nor given an account, and its
    // service is not opened for a change.
    const std::string replaceable = "The program " + Program() + " could be replaced by another user than root: ";
    fs::permissions(Run->ProgramDir(), fs::perms::group_write, fs::perm_options::add);
    std::string output;
    EXPECT_EQ(Ferrix2({"/INSTALL"}, output), 1);
    EXPECT_NE(output.find(replaceable + "its directory " + Run->ProgramDir() + " is writable by group or others"),
              std::string::npos)
        << output;
    EXPECT_FALSE(fs::exists(Manager->ConfigDir() + "/systemd/user/" + Unit));
    fs::permissions(Run->ProgramDir(), fs::perms::group_write, fs::perm_options::remove);
    Install();
    auto manager = OpenSCManagerA("");
    auto service = OpenServiceA(*manager, "TransportSvc2", ControlRights | SERVICE_CHANGE_CONFIG);
    const std::string dropIn = Manager->ConfigDir() + "/systemd/user/" + Unit + ".d/account.conf";
    ASSERT_EQ(::chown(Program().c_str(), user.Uid(), user.Gid()), 0);
    for (const std::string& account : {".\\" + user.Name(), std::string(".\\LocalSystem")})
        EXPECT_EQ(Refusal([&] { ChangeServiceConfigA(*service, account, ServicePassword); }),
                  replaceable + Program() + " belongs to " + user.Name());
    EXPECT_FALSE(fs::exists(dropIn));
    EXPECT_THROW(OpenServiceA(*manager, "TransportSvc2", SERVICE_CHANGE_CONFIG), EOSError);
    ASSERT_EQ(::chown(Program().c_str(), 0, 0), 0);

    // The password goes nowhere: not into the drop-in, not to the manager.
    ChangeServiceConfigA(*service, ".\\" + user.Name(), ServicePassword);
    EXPECT_EQ(ReadTextFile(dropIn), "[Service]\nUser=" + user.Name() + "\n");
    GivePipeDirectoryTo(user.Uid(), user.Gid());
    ASSERT_EQ(ControlAndWait(*service, true).back(), SERVICE_RUNNING) << Manager->Log();
    const pid_t pid = std::stoi(Manager->UnitProperty(Unit, "MainPID"));
    EXPECT_EQ(ProcessUid(pid), static_cast<long>(user.Uid()));
    EXPECT_TRUE(StatisticsAnswer());
    // The service writes its log in a directory that stays root's, where its user cannot replace
    // the program.
    EXPECT_TRUE(Run->WaitForLog("TransportSvc2 service started")) << Run->Log();
    {
        TThreadFsIdentity asUser(user.Uid(), user.Gid());
        EXPECT_NE(::rename(Program().c_str(), (Run->ProgramDir() + "/old").c_str()), 0);
        EXPECT_LT(::open(Program().c_str(), O_WRONLY), 0);
        EXPECT_NE(::rename(Run->ProgramDir().c_str(), Run->Path("moved").c_str()), 0);
    }
    EXPECT_EQ(ControlAndWait(*service, false).back(), SERVICE_STOPPED);

    ChangeServiceConfigA(*service, ".\\LocalSystem", "");
    EXPECT_FALSE(fs::exists(dropIn));
    struct stat st {};
    ASSERT_EQ(::stat(Run->LogPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    GivePipeDirectoryTo(0, 0);
    EXPECT_EQ(ControlAndWait(*service, true).back(), SERVICE_RUNNING);
    EXPECT_EQ(ProcessUid(std::stoi(Manager->UnitProperty(Unit, "MainPID"))), 0);
    EXPECT_EQ(ControlAndWait(*service, false).back(), SERVICE_STOPPED);

    // A user this PC does not know, another PC's account, or a name that carries a directive
    // changes nothing.
    EXPECT_THROW(ChangeServiceConfigA(*service, ".\\nosuchuser-ferrix", ""), EOSError);
    EXPECT_THROW(ChangeServiceConfigA(*service, "OTHERDOMAIN\\" + user.Name(), ""), EOSError);
    const std::string marker = Run->Path("ran-as-root");
    for (const std::string& end : {std::string(1, '\0'), std::string("\n")}) {
        const std::string name = ".\\" + user.Name() + end + "ExecStartPre=+/bin/touch " + marker;
        EXPECT_THROW(ChangeServiceConfigA(*service, name, ServicePassword), EOSError);
    }
    EXPECT_FALSE(fs::exists(dropIn));
    EXPECT_EQ(ControlAndWait(*service, true).back(), SERVICE_RUNNING);
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_EQ(ControlAndWait(*service, false).back(), SERVICE_STOPPED);

    // A program directory the service's user cannot enter: the start fails and reads stopped.
    ChangeServiceConfigA(*service, user.Name(), ServicePassword);
    fs::permissions(Run->ProgramDir(), fs::perms::owner_all);
    ::chown(Run->ProgramDir().c_str(), 0, 0);
    const std::vector<uint32_t> seen = ControlAndWait(*service, true);
    EXPECT_EQ(seen.back(), SERVICE_STOPPED);
    EXPECT_EQ(Manager->UnitProperty(Unit, "ActiveState"), "failed");
}

TEST_F(Ferrix2Remote, ControlAndExchangesOnAnotherPcGiveTheLocalAnswers)
{
    Install();
    auto local = OpenSCManagerA("");
    auto remote = OpenSCManagerA("\\\\otherpc");
    EXPECT_EQ(remote->MachineName, "otherpc");
    auto localService = OpenServiceA(*local, "TransportSvc2", ControlRights);
    auto remoteService = OpenServiceA(*remote, "TransportSvc2", ControlRights);
    EXPECT_EQ(QueryServiceStatus(*remoteService).CurrentState, SERVICE_STOPPED);

    const std::vector<uint32_t> starting = ControlAndWait(*remoteService, true);
    EXPECT_EQ(starting.back(), SERVICE_RUNNING);
    EXPECT_EQ(QueryServiceStatus(*localService).CurrentState, SERVICE_RUNNING);
    EXPECT_EQ(QueryServiceStatus(*remoteService).CurrentState, SERVICE_RUNNING);

    // Settings: the very bytes of the local answer.
    const TPipeReply localConfig = Exchange(".", "TrSvc2Control", PipeMessage("REQGETCONFIG"));
    const TPipeReply remoteConfig = Exchange("otherpc", "TrSvc2Control", PipeMessage("REQGETCONFIG"));
    ASSERT_TRUE(localConfig.Ok);
    EXPECT_TRUE(remoteConfig.Ok);
    EXPECT_EQ(remoteConfig.Answer, localConfig.Answer);

    // Statistics: the same bytes, but for the pipe's counters, which count the one more exchange.
    const std::string request = PipeMessage("REQGETSTATS");
    const TPipeReply localStats = Exchange(".", "TrSvc2Info", request);
    const TPipeReply remoteStats = Exchange("otherpc", "TrSvc2Info", request);
    ASSERT_TRUE(localStats.Ok);
    ASSERT_TRUE(remoteStats.Ok);
    ASSERT_EQ(remoteStats.Answer.size(), static_cast<size_t>(StatsAnswerLength));
    ASSERT_EQ(localStats.Answer.size(), remoteStats.Answer.size());
    EXPECT_EQ(remoteStats.Answer.substr(0, 44), localStats.Answer.substr(0, 44));
    EXPECT_EQ(remoteStats.Answer.substr(ServiceStatusOffset), localStats.Answer.substr(ServiceStatusOffset));
    const auto counter = [](const TPipeReply& reply, size_t offset) { return UInt32At(reply.Answer, offset); };
    EXPECT_EQ(counter(remoteStats, 44), counter(localStats, 44) + 1);  // connections
    EXPECT_EQ(counter(remoteStats, 52), counter(localStats, 52) + 1);  // requests
    EXPECT_EQ(Int64At(remoteStats.Answer, 56), Int64At(localStats.Answer, 56) + int64_t(request.size()));
    EXPECT_EQ(counter(remoteStats, 68), counter(localStats, 68) + 1);  // answers
    EXPECT_EQ(Int64At(remoteStats.Answer, 72), Int64At(localStats.Answer, 72) + StatsAnswerLength);

    EXPECT_EQ(ControlAndWait(*remoteService, false).back(), SERVICE_STOPPED);
    EXPECT_EQ(QueryServiceStatus(*localService).CurrentState, SERVICE_STOPPED);
    EXPECT_EQ(Run->CountLog("TransportSvc2 service stopped"), 1);

    // The relay there serves no other unit.
    EXPECT_EQ(Refusal([&] { OpenServiceA(*remote, "NoSuchService", SERVICE_QUERY_STATUS); }),
              "The relay serves only the service TransportSvc2, not NoSuchService.service");
}

TEST_F(Ferrix2Remote, SettingsPipeAdmitsOnlyRootOrTheServicesUserOverSsh)
{
    TTestUser sshUser("ssh", ServicePassword);
    Ssh->Authorize(sshUser.Name());
    Ssh->AddHost("userpc", sshUser.Name());
    Install();
    auto manager = OpenSCManagerA("");
    auto service = OpenServiceA(*manager, "TransportSvc2", ControlRights | SERVICE_CHANGE_CONFIG);
    ASSERT_EQ(ControlAndWait(*service, true).back(), SERVICE_RUNNING);

    // The service runs as root: the SSH user gets the statistics, not the settings.
    EXPECT_TRUE(Exchange("userpc", "TrSvc2Info", PipeMessage("REQGETSTATS")).Ok);
    const TPipeReply refused = Exchange("userpc", "TrSvc2Control", PipeMessage("REQGETCONFIG"));
    EXPECT_FALSE(refused.Ok);
    EXPECT_NE(refused.Error, PIPE_ERROR_REMOTE) << ferrix::PipeErrorMessage(refused.Error);
    EXPECT_EQ(refused.Answer, "");
    EXPECT_TRUE(Exchange("otherpc", "TrSvc2Control", PipeMessage("REQGETCONFIG")).Ok);

    // Run as the SSH user, the service admits it.
    EXPECT_EQ(ControlAndWait(*service, false).back(), SERVICE_STOPPED);
    // Changed from "another PC": the relay there checks the password it is sent.
    auto remote = OpenSCManagerA("\\\\otherpc");
    auto remoteService = OpenServiceA(*remote, "TransportSvc2", SERVICE_CHANGE_CONFIG);
    EXPECT_EQ(Refusal([&] { ChangeServiceConfigA(*remoteService, sshUser.Name(), "wrong-Pa55"); }),
              "The user name or password is incorrect.");
    ChangeServiceConfigA(*remoteService, sshUser.Name(), ServicePassword);
    GivePipeDirectoryTo(sshUser.Uid(), sshUser.Gid());
    ASSERT_EQ(ControlAndWait(*service, true).back(), SERVICE_RUNNING);
    const TPipeReply admitted = Exchange("userpc", "TrSvc2Control", PipeMessage("REQGETCONFIG"));
    EXPECT_TRUE(admitted.Ok) << ferrix::PipeErrorMessage(admitted.Error);
    EXPECT_EQ(admitted.Answer, Exchange(".", "TrSvc2Control", PipeMessage("REQGETCONFIG")).Answer);
}

TEST_F(Ferrix2Unit, ManagerThatIsStoppingShutsTheServiceDown)
{
    Install();
    std::string output;
    ASSERT_EQ(Manager->Systemctl({"start", Unit}, output), 0) << output;
    // The manager exits as at a machine's shutdown: its SIGTERM is the shutdown request.
    Manager->Systemctl({"exit"}, output);
    EXPECT_TRUE(Run->WaitForLog("TransportSvc2 stopped at system shutdown", 1, std::chrono::seconds(30))) << Run->Log();
    EXPECT_EQ(Run->CountLog("TransportSvc2 service stopped"), 0);
}
