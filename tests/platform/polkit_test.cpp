// The start and stop check of a user other than root against a real polkit authority: Debian's
// polkitd with systemd's actions, on a system bus of the test's own, reading its rules from a
// folder of the test's that a mount namespace of its own puts over /etc/polkit-1/rules.d.
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/scm/managerbus.h"
#include "platform/scm/unitaccess.h"
#include "systembus.h"

using namespace ferrix;

namespace {

constexpr const char* Polkitd = "/usr/lib/polkit-1/polkitd";

class RealPolkit : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "polkitd is started by root, in a mount namespace of its own";
        for (const char* file : {"/usr/bin/dbus-daemon", "/usr/bin/unshare", Polkitd,
                                 "/usr/share/polkit-1/actions/org.freedesktop.systemd1.policy"})
            if (::access(file, R_OK) != 0)
                GTEST_SKIP() << file << " is missing (scripts/install-deps.sh installs it)";
        Bus.emplace();
        Rules = *Bus / "rules.d";
        std::filesystem::create_directory(Rules);
        ::chmod(Rules.c_str(), 0755);  // polkitd runs as its own user
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
    }

    std::optional<TSystemBus> Bus;
    std::string Rules;
    TChild Authority;
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
