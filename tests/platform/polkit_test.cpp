// The start and stop check of a user other than root against a real polkit authority: Debian's
// polkitd with systemd's actions, on a system bus of the test's own, reading its rules from a
// folder of the test's that a mount namespace of its own puts over /etc/polkit-1/rules.d.
#include <csignal>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/scm/managerbus.h"
#include "platform/scm/unitaccess.h"
#include "childproc.h"
#include "testkit.h"

using namespace ferrix;

namespace {

constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;
constexpr const char* Polkitd = "/usr/lib/polkit-1/polkitd";

class RealPolkit : public ::testing::Test {
protected:
    static std::string Unavailable()
    {
        if (::geteuid() != 0)
            return "polkitd is started by root, in a mount namespace of its own";
        for (const char* tool : {"/usr/bin/dbus-daemon", "/usr/bin/unshare", "/usr/bin/timeout", Polkitd})
            if (::access(tool, X_OK) != 0)
                return std::string(tool) + " is missing (scripts/install-deps.sh installs it)";
        if (::access("/usr/share/polkit-1/actions/org.freedesktop.systemd1.policy", R_OK) != 0)
            return "systemd's polkit actions are missing";
        return std::string();
    }

    void SetUp() override
    {
        const std::string why = Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        const char* saved = ::getenv("DBUS_SYSTEM_BUS_ADDRESS");
        if (saved != nullptr)
            SavedAddress = saved;
        // polkitd runs as its own user and every test user must reach the bus.
        ::chmod(Dir.Path().c_str(), 0755);
        std::filesystem::create_directory(Rules);
        ::chmod(Rules.c_str(), 0755);
        const std::string address = "unix:path=" + (Dir / "bus");
        WriteTextFile(Dir / "bus.conf",
                      "<busconfig><type>system</type><listen>" + address +
                          "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
                          "<allow own=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy>"
                          "</busconfig>\n");
        // timeout ends the bus, and polkitd with it, should this process die before TearDown.
        Bus = SpawnChild({"/usr/bin/timeout", "300", "/usr/bin/dbus-daemon", "--config-file=" + (Dir / "bus.conf"),
                          "--nofork", "--nopidfile"});
        ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(Dir / "bus"); }));
        ::chmod((Dir / "bus").c_str(), 0777);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        AddressSet = true;
        // The test's rules folder takes the place of this machine's own in /etc.
        Authority = SpawnChild({"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c",
                                std::string("mount --bind \"$0\" /etc/polkit-1/rules.d && exec ") + Polkitd +
                                    " --no-debug",
                                Rules});
        // polkit authorizes root for everything: an answer to root means polkitd is up.
        ASSERT_TRUE(WaitFor([] { return PolkitAllowsManagingUnits(); })) << "polkitd did not answer";
    }

    void TearDown() override
    {
        if (Authority.Pid > 0)
            KillChild(Authority);
        if (Bus.Pid > 0) {
            ::kill(Bus.Pid, SIGTERM);
            WaitForExit(Bus, std::chrono::seconds(10));
        }
        if (AddressSet && SavedAddress)
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", SavedAddress->c_str(), 1);
        else if (AddressSet)
            ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }

    // CheckUnitAccess for the rights, on the system manager, in a child that is wholly nobody
    // (polkit judges a process by its real user): 0 when granted, 1 when refused with
    // "Access is denied.", 2 otherwise.
    static int AccessOfNobody(uint32_t access)
    {
        TChild child;
        child.Pid = ::fork();
        if (child.Pid == 0) {
            ::unsetenv("FERRIX_SERVICE_MANAGER");
            if (::setgroups(0, nullptr) != 0 || ::setresgid(NoGroup, NoGroup, NoGroup) != 0 ||
                ::setresuid(Nobody, Nobody, Nobody) != 0)
                ::_exit(3);
            try {
                CheckUnitAccess("FerrixAccess.service", access);
                ::_exit(0);
            } catch (const EOSError& e) {
                ::_exit(std::string(e.what()).rfind("Access is denied. ", 0) == 0 ? 1 : 2);
            }
        }
        if (child.Pid < 0 || !WaitForExit(child, std::chrono::seconds(60)))
            return -1;
        return WIFEXITED(child.Status) ? WEXITSTATUS(child.Status) : -1;
    }

    TempDir Dir;
    const std::string Rules = Dir / "rules.d";
    std::optional<std::string> SavedAddress;
    bool AddressSet = false;
    TChild Bus, Authority;
};

}  // namespace

TEST_F(RealPolkit, AUserOtherThanRootStartsAndStopsOnlyWhenARuleGrantsIt)
{
    // systemd's actions want an administrator, whom a question without interaction cannot reach.
    EXPECT_EQ(AccessOfNobody(SERVICE_START), 1);
    EXPECT_EQ(AccessOfNobody(SERVICE_STOP | SERVICE_QUERY_STATUS), 1);

    // polkitd takes up a new rules file while it runs.
    WriteTextFile(Rules + "/.grant",
                  "polkit.addRule(function(action, subject) {\n"
                  "    if (action.id == \"org.freedesktop.systemd1.manage-units\" && subject.user == \"nobody\")\n"
                  "        return polkit.Result.YES;\n"
                  "});\n");
    std::filesystem::rename(Rules + "/.grant", Rules + "/50-ferrix-test.rules");
    EXPECT_TRUE(WaitFor([] { return AccessOfNobody(SERVICE_START) == 0; }));
    EXPECT_EQ(AccessOfNobody(SERVICE_STOP | SERVICE_QUERY_STATUS), 0);

    // Root is not asked: its open needs no answer from a polkitd that cannot give one (a
    // question would wait for the bus's time-out and then count as no).
    ASSERT_EQ(::kill(Authority.Pid, SIGSTOP), 0);
    EXPECT_NO_THROW(CheckUnitAccess("FerrixAccess.service", SERVICE_START | SERVICE_STOP));
}
