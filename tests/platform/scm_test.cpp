// The pieces of the service-manager layer that need no manager: the unit text INSTALL writes, the
// status the client reads from a unit's state, the account names, the notifications of the
// systemd host and the relay's message framing; and, against a real user manager, the access
// rights a service is opened with.
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <systemd/sd-bus.h>
#include <thread>
#include <tuple>
#include <unistd.h>

#include "platform/remote/relayclient.h"
#include "platform/remote/relayproto.h"
#include "platform/scm/programdir.h"
#include "platform/scm/scm.h"
#include "platform/scm/unitfiles.h"
#include "childproc.h"
#include "platform/service/systemdhost.h"
#include "systembus.h"
#include "testkit.h"
#include "testuser.h"
#include "usermanager.h"

using namespace ferrix;

TEST(UnitFile, NotifyUnitQuotesThePathAndEscapesSpecifiers)
{
    EXPECT_EQ(ServiceUnitText("TOLVANE Transport Service 2", "/opt/ferrix/ferrix2", false),
              "[Unit]\nDescription=TOLVANE Transport Service 2\n\n[Service]\nType=notify\n"
              "ExecStart=\"/opt/ferrix/ferrix2\"\n"
              "RuntimeDirectory=namedpipe\nRuntimeDirectoryMode=0755\nRuntimeDirectoryPreserve=yes\n\n[Install]\nWantedBy=multi-user.target\n");
    const std::string odd = ServiceUnitText("100% \"sure\"\nInjected=1", "/opt/my dir/a\"b\\c$HOME%i", true);
    EXPECT_NE(odd.find("Description=100%% \"sure\"Injected=1\n"), std::string::npos) << odd;
    EXPECT_NE(odd.find("ExecStart=\"/opt/my dir/a\\\"b\\\\c$$HOME%%i\"\n"), std::string::npos) << odd;
    EXPECT_NE(odd.find("Environment=FERRIX_SERVICE_MANAGER=user\n"), std::string::npos);
    EXPECT_NE(odd.find("WantedBy=default.target\n"), std::string::npos);
    EXPECT_EQ(odd.find("RuntimeDirectory"), std::string::npos);  // a user manager's runtime folder is not /run
}

TEST(UnitFile, DirectoryOfTheSystemOrTheUserManager)
{
    ::unsetenv("FERRIX_SERVICE_MANAGER");
    EXPECT_EQ(UnitDirectory(), "/etc/systemd/system");
    ::setenv("FERRIX_SERVICE_MANAGER", "User", 1);
    ::setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
    EXPECT_EQ(UnitFilePath("TransportSvc2.service"), "/tmp/cfg/systemd/user/TransportSvc2.service");
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", "/home/shop", 1);
    EXPECT_EQ(UnitDirectory(), "/home/shop/.config/systemd/user");
    ::unsetenv("FERRIX_SERVICE_MANAGER");
}

TEST(AccountUser, LocalSystemIsRootAndOtherNamesLoseThisPcsDomain)
{
    EXPECT_EQ(AccountUser(".\\LocalSystem"), "");
    EXPECT_EQ(AccountUser(".\\localsystem"), "");
    EXPECT_EQ(AccountUser(""), "");
    EXPECT_EQ(AccountUser(".\\root"), "root");
    EXPECT_EQ(AccountUser("nobody"), "nobody");
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    EXPECT_EQ(AccountUser(std::string(host) + "\\nobody"), "nobody");
    EXPECT_THROW(AccountUser("SHOPDOMAIN\\nobody"), EOSError);
    EXPECT_THROW(AccountUser(".\\no-such-user-here"), EOSError);
}

TEST(AccountUser, ANameWithALineBreakANulABlankOrEqualsIsRefusedShowingItsCharacters)
{
    for (const auto& c : std::vector<std::pair<std::string, std::string>>{
             {std::string(".\\nobody") + '\0' + "ExecStartPre=+/bin/sh", ".\\nobody\\x00ExecStartPre=+/bin/sh"},
             {".\\nobody\nExecStartPre=/bin/sh", ".\\nobody\\x0AExecStartPre=/bin/sh"},
             {"nobody\r", "nobody\\x0D"},
             {"no body", "no body"},
             {"nobody=x", "nobody=x"}}) {
        int code = 0;
        EXPECT_EQ(Refusal([&] { AccountUser(c.first); }, code),
                  "The account name \"" + c.second +
                      "\" is not a user name of this PC: it holds a control character, a blank or \"=\"");
        EXPECT_EQ(code, EINVAL);
    }
}

TEST(ProgramPath, OnlyAProgramThatNoOtherUserCanReplaceOrRedirectIsAccepted)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving files away needs root";
    TempDir dir;
    const std::string programDir = dir / "bin";
    const std::string program = programDir + "/ferrix2";
    std::filesystem::create_directories(programDir);
    WriteTextFile(program, "#!/bin/sh\n");
    for (const std::string& path : {dir.Path(), programDir, program})
        ::chmod(path.c_str(), 0755);
    const auto refusal = [](const std::string& path) { return Refusal([&] { CheckProgramPath(path); }); };
    EXPECT_EQ(refusal(program), "");
    const std::string start = "The program " + program + " could be replaced by another user than root: ";
    for (const auto& [path, mode, refused] : std::vector<std::tuple<std::string, mode_t, std::string>>{
             {program, 0775, start + "it is writable by group or others"},
             {programDir, 01777, start + "its directory " + programDir + " is writable by group or others"},
             {dir.Path(), 0777, start + dir.Path() + " is writable by group or others and not sticky"},
             {dir.Path(), 01777, ""}}) {  // as /tmp: no one may rename what is root's
        ::chmod(path.c_str(), mode);
        EXPECT_EQ(refusal(program), refused) << path;
        ::chmod(path.c_str(), 0755);
    }
    ASSERT_EQ(::symlink(programDir.c_str(), (dir / "link").c_str()), 0);
    EXPECT_EQ(refusal(dir / "link/ferrix2"), "The program " + (dir / "link/ferrix2") +
                                                 " could be replaced by another user than root: its path is not "
                                                 "canonical (the real path is " + program + ")");

    // The account's directory stays acceptable; a log that is another name of the program is not
    // handed to the account.
    HandProgramDirectoryTo(program, UnprivilegedUid(), UnprivilegedGid());
    EXPECT_EQ(refusal(program), "");
    TakeBackProgramDirectory(program);
    ASSERT_EQ(::unlink((programDir + "/ferrix.log").c_str()), 0);
    ASSERT_EQ(::link(program.c_str(), (programDir + "/ferrix.log").c_str()), 0);
    EXPECT_THROW(HandProgramDirectoryTo(program, UnprivilegedUid(), UnprivilegedGid()), EOSError);
    struct stat st {};
    ASSERT_EQ(::stat(program.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
}

// Another program or a folder beside the program (the console's plugins) keeps the directory from
// the account; the service's own files do not.
TEST(ProgramPath, OnlyADirectoryOfTheServicesOwnIsHandedToAnAccount)
{
    TempDir dir;
    const std::string program = dir / "ferrix2";
    for (const char* name : {"ferrix2", "ferrix.log", "ferrix.ini", ".ferrix-tmp.42.shop.1700000000000000000-0"})
        WriteTextFile(dir / name, "x");
    EXPECT_EQ(Refusal([&] { CheckProgramDirectoryOfItsOwn(program); }), "");
    const std::string start = "The directory " + dir.Path() + " holds ";
    const std::string rest = ": the service may run as an account only from a directory that holds nothing but "
                             "ferrix2 and the service's own files (ferrix.log, ferrix.ini and its temporary files)";
    WriteTextFile(dir / "ferrixcon2", "x");
    EXPECT_EQ(Refusal([&] { CheckProgramDirectoryOfItsOwn(program); }), start + "ferrixcon2" + rest);
    ASSERT_EQ(::unlink((dir / "ferrixcon2").c_str()), 0);
    std::filesystem::create_directory(dir / "platforms");
    EXPECT_EQ(Refusal([&] { HandProgramDirectoryTo(program, UnprivilegedUid(), UnprivilegedGid()); }),
              start + "platforms" + rest);
    struct stat st {};
    ASSERT_EQ(::stat(dir.Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_ISVTX, 0u);  // refused before anything changed
}

TEST(UnitStatus, ActiveStatesMapToServiceStatesAndJobsRaiseTheCheckpoint)
{
    uint32_t checkPoint = 0;
    const auto state = [&](const char* active, const char* job) {
        return UnitServiceStatus(TUnitState{active, job}, checkPoint);
    };
    EXPECT_EQ(state("inactive", "").CurrentState, SERVICE_STOPPED);
    EXPECT_EQ(state("failed", "").CurrentState, SERVICE_STOPPED);
    EXPECT_EQ(state("inactive", "start").CurrentState, SERVICE_START_PENDING);  // queued
    EXPECT_EQ(checkPoint, 1u);
    TServiceStatus status = state("activating", "start");
    EXPECT_EQ(status.CurrentState, SERVICE_START_PENDING);
    EXPECT_EQ(status.CheckPoint, 2u);
    EXPECT_EQ(status.WaitHint, 1000u);
    status = state("active", "");
    EXPECT_EQ(status.CurrentState, SERVICE_RUNNING);
    EXPECT_EQ(status.CheckPoint, 0u);
    EXPECT_EQ(state("reloading", "").CurrentState, SERVICE_RUNNING);
    EXPECT_EQ(state("deactivating", "stop").CurrentState, SERVICE_STOP_PENDING);
    EXPECT_EQ(state("deactivating", "stop").CheckPoint, 2u);
    // A pending state whose job is gone stops counting: the console then gives up waiting.
    EXPECT_EQ(state("deactivating", "").CheckPoint, 0u);
    EXPECT_EQ(state("inactive", "stop").CurrentState, SERVICE_STOPPED);
}

TEST(SystemdHost, NotificationsCarryStateWaitHintAndText)
{
    TServiceStatus status;
    status.CurrentState = csStartPending;
    status.WaitHint = 10000;
    EXPECT_EQ(ManagerNotification(status), "EXTEND_TIMEOUT_USEC=10000000\nSTATUS=Service starting...");
    status.CurrentState = csRunning;
    EXPECT_EQ(ManagerNotification(status), "READY=1\nSTATUS=Service is running");
    status.CurrentState = csStopPending;
    EXPECT_EQ(ManagerNotification(status), "STOPPING=1\nEXTEND_TIMEOUT_USEC=10000000\nSTATUS=Service stopping...");
    status.CurrentState = csStopped;
    EXPECT_EQ(ManagerNotification(status), "STATUS=Service stopped");
}

TEST(RelayMessages, FramesSplitAndJoinAtAnyByteBoundary)
{
    const std::string body = TRelayWriter().U8(7).U32(0x01020304).Bytes(std::string("a\0b", 3)).Data();
    const std::string frame = RelayFrame(body);
    ASSERT_EQ(frame.size(), 4 + 1 + 4 + 4 + 3);
    EXPECT_EQ(frame.substr(0, 4), std::string("\x0c\0\0\0", 4));
    std::string buffer;
    std::string taken;
    for (char c : frame + frame) {
        buffer += c;
        if (TakeRelayFrame(buffer, taken) == TRelayFrame::Whole) {
            TRelayReader reader(taken);
            EXPECT_EQ(reader.U8(), 7);
            EXPECT_EQ(reader.U32(), 0x01020304u);
            EXPECT_EQ(reader.Bytes(), std::string("a\0b", 3));
            EXPECT_THROW(reader.U8(), Exception);
            taken.clear();
        }
    }
    EXPECT_TRUE(buffer.empty());
    std::string huge = RelayFrame(std::string()).replace(0, 4, std::string("\xff\xff\xff\x7f", 4));
    EXPECT_EQ(TakeRelayFrame(huge, taken), TRelayFrame::Invalid);
}

TEST(RemotePipeNames, OnlyAnotherPcGoesToTheRelay)
{
    std::string pc, local;
    EXPECT_FALSE(SplitRemotePipeName("\\\\.\\pipe\\TrSvc2Info", pc, local));
    EXPECT_FALSE(SplitRemotePipeName("pipe\\TrSvc2Info", pc, local));
    ASSERT_TRUE(SplitRemotePipeName("\\\\SHOP1\\pipe\\TrSvc2Info", pc, local));
    EXPECT_EQ(pc, "SHOP1");
    EXPECT_EQ(local, "\\\\.\\pipe\\TrSvc2Info");
    EXPECT_TRUE(IsThisPc(""));
    EXPECT_TRUE(IsThisPc("."));
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    EXPECT_TRUE(IsThisPc(host));
    EXPECT_FALSE(IsThisPc("SHOP1"));
}

TEST(ServiceControl, ManagerThatCannotBeReachedRaisesWithTheSystemsText)
{
    ::setenv("FERRIX_SERVICE_MANAGER", "user", 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    try {
        OpenSCManagerA("");
        ADD_FAILURE() << "opened a manager that is not there";
    } catch (const EOSError& e) {
        EXPECT_STREQ(e.what(), "Cannot connect to the user's service manager: No such file or directory");
        EXPECT_EQ(e.ErrorCode, ENOENT);
    }
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::unsetenv("FERRIX_SERVICE_MANAGER");
}

namespace {

constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;

// A simple unit "FerrixAccess" of a real user manager, running a sleep when started.
class ServiceAccess : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string why = TUserManager::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        Manager = std::make_unique<TUserManager>(Dir / "pipes");
        UnitDir = Manager->ConfigDir() + "/systemd/user";
        std::filesystem::create_directories(UnitDir);
        // A program at its real path, as a unit must have for its account to be changed.
        WriteTextFile(UnitDir + "/FerrixAccess.service",
                      "[Service]\nExecStart=" + std::filesystem::canonical("/bin/sleep").string() + " 600\n");
        std::string output;
        ASSERT_EQ(Manager->Systemctl({"daemon-reload"}, output), 0) << output;
        Scm = OpenSCManagerA("");
    }

    void TearDown() override
    {
        if (Scm)
            CloseServiceHandle(Scm);
        Manager.reset();
    }

    std::string ActiveState() const { return Manager->UnitProperty("FerrixAccess.service", "ActiveState"); }

    TempDir Dir;
    std::unique_ptr<TUserManager> Manager;
    std::string UnitDir;
    std::unique_ptr<TScManager> Scm;
};

}  // namespace

TEST_F(ServiceAccess, AUserWhoCannotWriteTheDropInPlaceMayQueryButNotReconfigure)
{
    const std::string dropIns = UnitDir + "/FerrixAccess.service.d";
    int code = 0;
    {
        // The bus connection stays root's; only the file accesses become nobody's.
        TThreadFsIdentity nobody(Nobody, NoGroup);
        const std::string text = Refusal(
            [&] { OpenServiceA(*Scm, "FerrixAccess", SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS); }, code);
        EXPECT_EQ(text.rfind("Access is denied. ", 0), 0u) << text;
        EXPECT_NE(text.find(UnitDir + " ("), std::string::npos) << text;  // no drop-ins yet: their parent
        EXPECT_EQ(code, EACCES);
        auto service = OpenServiceA(*Scm, "FerrixAccess", SERVICE_QUERY_STATUS);
        EXPECT_EQ(QueryServiceStatus(*service).CurrentState, SERVICE_STOPPED);
        // Starting and stopping a unit of the user's own manager needs no more.
        EXPECT_NO_THROW(OpenServiceA(*Scm, "FerrixAccess", SERVICE_START | SERVICE_STOP));
        // An unknown unit still fails with the manager's text, not with a refusal.
        EXPECT_EQ(Refusal([&] { OpenServiceA(*Scm, "NoSuchFerrix", SERVICE_CHANGE_CONFIG); }, code),
                  "Unit NoSuchFerrix.service not found.");
    }

    // Once the drop-in directory exists, it is the one that counts.
    std::filesystem::create_directories(dropIns);
    {
        TThreadFsIdentity nobody(Nobody, NoGroup);
        const std::string text =
            Refusal([&] { OpenServiceA(*Scm, "FerrixAccess", SERVICE_CHANGE_CONFIG); }, code);
        EXPECT_NE(text.find(dropIns + " ("), std::string::npos) << text;
    }
    ASSERT_EQ(::chown(dropIns.c_str(), Nobody, NoGroup), 0);
    {
        TThreadFsIdentity nobody(Nobody, NoGroup);
        EXPECT_NO_THROW(OpenServiceA(*Scm, "FerrixAccess", SERVICE_CHANGE_CONFIG));
    }
    EXPECT_NO_THROW(OpenServiceA(*Scm, "FerrixAccess", SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG));
}

TEST_F(ServiceAccess, CallsTheHandleWasNotOpenedForAreRefusedAndChangeNothing)
{
    auto watcher = OpenServiceA(*Scm, "FerrixAccess", SERVICE_QUERY_STATUS);
    int code = 0;
    EXPECT_EQ(Refusal([&] { StartServiceA(*watcher); }, code).rfind("Access is denied. ", 0), 0u);
    EXPECT_EQ(Refusal([&] { ChangeServiceConfigA(*watcher, "nobody", ""); }, code).rfind("Access is denied. ", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(UnitDir + "/FerrixAccess.service.d/account.conf"));
    EXPECT_EQ(ActiveState(), "inactive");

    auto starter = OpenServiceA(*Scm, "FerrixAccess", SERVICE_START);
    StartServiceA(*starter);
    EXPECT_EQ(Refusal([&] { QueryServiceStatus(*starter); }, code).rfind("Access is denied. ", 0), 0u);
    ASSERT_TRUE(WaitFor([&] { return QueryServiceStatus(*watcher).CurrentState == SERVICE_RUNNING; }));
    EXPECT_EQ(Refusal([&] { ControlService(*starter, SERVICE_CONTROL_STOP); }, code).rfind("Access is denied. ", 0),
              0u);
    EXPECT_EQ(code, EACCES);
    EXPECT_EQ(ActiveState(), "active");
    auto stopper = OpenServiceA(*Scm, "FerrixAccess", SERVICE_STOP);
    ControlService(*stopper, SERVICE_CONTROL_STOP);
    EXPECT_TRUE(WaitFor([&] { return QueryServiceStatus(*watcher).CurrentState == SERVICE_STOPPED; }));
}

namespace {

// What the polkit stand-in was asked.
struct TPolkitQuestion {
    std::string SubjectKind, Action, Cancellation;
    uint32_t Pid = 0, Flags = 99;
    uint64_t StartTime = 0;
};

// A bus of the test's own (dbus-daemon) as the system bus, and on it, when Serve is called, a
// stand-in for polkit's authority that answers CheckAuthorization with Authorized.
class PolkitQuestion : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access("/usr/bin/dbus-daemon", X_OK) != 0)
            GTEST_SKIP() << "dbus-daemon is not installed";
        Bus.emplace();
    }

    void TearDown() override
    {
        Stop = true;
        if (Server.joinable())
            Server.join();
    }

    void Serve()
    {
        std::atomic<bool> ready{false};
        Server = std::thread([this, &ready] { Run(ready); });
        ASSERT_TRUE(WaitFor([&] { return ready.load(); }));
    }

    static int Check(sd_bus_message* m, void* data, sd_bus_error*)
    {
        auto* self = static_cast<PolkitQuestion*>(data);
        TPolkitQuestion& q = self->Asked;
        const char* text = nullptr;
        sd_bus_message_enter_container(m, 'r', "sa{sv}");
        sd_bus_message_read(m, "s", &text);
        q.SubjectKind = text;
        sd_bus_message_enter_container(m, 'a', "{sv}");
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            sd_bus_message_read(m, "s", &text);
            const std::string key = text;
            if (key == "pid")
                sd_bus_message_read(m, "v", "u", &q.Pid);
            else if (key == "start-time")
                sd_bus_message_read(m, "v", "t", &q.StartTime);
            else
                sd_bus_message_skip(m, "v");
            sd_bus_message_exit_container(m);
        }
        sd_bus_message_exit_container(m);
        sd_bus_message_exit_container(m);
        sd_bus_message_read(m, "s", &text);
        q.Action = text;
        sd_bus_message_skip(m, "a{ss}");
        sd_bus_message_read(m, "us", &q.Flags, &text);
        q.Cancellation = text;
        ++self->Questions;
        return sd_bus_reply_method_return(m, "(bba{ss})", self->Authorized ? 1 : 0, 0, 0);
    }

    void Run(std::atomic<bool>& ready)
    {
        static const sd_bus_vtable vtable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("CheckAuthorization", "(sa{sv})sa{ss}us", "(bba{ss})", Check, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_VTABLE_END,
        };
        sd_bus* bus = nullptr;
        sd_bus_slot* slot = nullptr;
        if (sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, Bus->Address().c_str()) >= 0 &&
            sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0 &&
            sd_bus_add_object_vtable(bus, &slot, "/org/freedesktop/PolicyKit1/Authority",
                                     "org.freedesktop.PolicyKit1.Authority", vtable, this) >= 0 &&
            sd_bus_request_name(bus, "org.freedesktop.PolicyKit1", 0) >= 0) {
            ready = true;
            while (!Stop) {
                if (sd_bus_process(bus, nullptr) > 0)
                    continue;
                sd_bus_wait(bus, 50000);  // wakes to look at Stop
            }
        }
        sd_bus_slot_unref(slot);
        sd_bus_flush_close_unref(bus);
    }

    std::optional<TSystemBus> Bus;
    std::thread Server;
    std::atomic<bool> Stop{false};
    std::atomic<bool> Authorized{false};
    std::atomic<int> Questions{0};
    TPolkitQuestion Asked;
};

// Field 22 of /proc/self/stat.
uint64_t OwnStartTime()
{
    std::ifstream file("/proc/self/stat");
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int number = 3; number <= 22; ++number)
        fields >> field;
    return std::stoull(field);
}

}  // namespace

TEST_F(PolkitQuestion, AskedForThisProcessWithoutInteractionAndItsAnswerTaken)
{
    // Nobody answers for polkit: not authorized.
    EXPECT_FALSE(PolkitAllowsManagingUnits());
    Serve();
    EXPECT_FALSE(PolkitAllowsManagingUnits());
    ASSERT_EQ(Questions, 1);
    EXPECT_EQ(Asked.SubjectKind, "unix-process");
    EXPECT_EQ(Asked.Pid, static_cast<uint32_t>(::getpid()));
    EXPECT_EQ(Asked.StartTime, OwnStartTime());
    EXPECT_NE(Asked.StartTime, 0u);
    EXPECT_EQ(Asked.Action, "org.freedesktop.systemd1.manage-units");
    EXPECT_EQ(Asked.Flags, 0u);  // no interaction
    EXPECT_EQ(Asked.Cancellation, "");
    Authorized = true;
    EXPECT_TRUE(PolkitAllowsManagingUnits());
    EXPECT_EQ(Questions, 2);
}

TEST_F(PolkitQuestion, StartAndStopOfTheSystemManagerAreUpToPolkitForAUserOtherThanRoot)
{
    // The child is nobody by its effective ids alone: they decide whether polkit is asked.
    pid_t child = 0;
    EXPECT_EQ(AccessOfNobody(SERVICE_START, true, &child), 1);  // no polkit on the bus
    Serve();
    EXPECT_EQ(AccessOfNobody(SERVICE_STOP | SERVICE_QUERY_STATUS, true, &child), 1);
    ASSERT_EQ(Questions, 1);
    EXPECT_EQ(Asked.Pid, static_cast<uint32_t>(child));
    Authorized = true;
    EXPECT_EQ(AccessOfNobody(SERVICE_START | SERVICE_STOP, true, &child), 0);
    EXPECT_EQ(Questions, 2);
    // Other rights, and root, are not polkit's matter.
    Authorized = false;
    EXPECT_EQ(AccessOfNobody(SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG, true, &child), 0);
    EXPECT_NO_THROW(CheckUnitAccess("FerrixAccess.service", SERVICE_START | SERVICE_STOP));
    EXPECT_EQ(Questions, 2);
}
