#include "systembus.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "base/sysutils.h"
#include "platform/scm/unitaccess.h"

TSystemBus::TSystemBus() : FAddress("unix:path=" + (Dir / "bus"))
{
    if (const char* saved = std::getenv("DBUS_SYSTEM_BUS_ADDRESS"))
        SavedAddress = saved;
    ::chmod(Dir.Path().c_str(), 0755);
    WriteTextFile(Dir / "bus.conf",
                  "<busconfig><type>system</type><listen>" + FAddress +
                      "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
                      "<allow own=\"*\"/><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                      "<allow eavesdrop=\"true\"/><allow receive_sender=\"*\"/></policy></busconfig>\n");
    Daemon = SpawnChild({"/usr/bin/timeout", "300", "/usr/bin/dbus-daemon", "--config-file=" + (Dir / "bus.conf"),
                         "--nofork", "--nopidfile"});
    if (!WaitFor([&] { return std::filesystem::exists(Dir / "bus"); })) {
        ::kill(Daemon.Pid, SIGTERM);
        WaitForExit(Daemon, std::chrono::seconds(10));
        throw std::runtime_error("dbus-daemon did not open " + (Dir / "bus"));
    }
    ::chmod((Dir / "bus").c_str(), 0777);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", FAddress.c_str(), 1);
}

TSystemBus::~TSystemBus()
{
    ::kill(Daemon.Pid, SIGTERM);  // timeout hands it on to the daemon
    WaitForExit(Daemon, std::chrono::seconds(10));
    if (SavedAddress)
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", SavedAddress->c_str(), 1);
    else
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

int AccessOfNobody(uint32_t access, bool effectiveOnly, pid_t* child)
{
    const auto check = [access, effectiveOnly] {
        ::unsetenv("FERRIX_SERVICE_MANAGER");
        if (effectiveOnly && (::setegid(UnprivilegedGid()) != 0 || ::seteuid(UnprivilegedUid()) != 0))
            return 3;
        try {
            ferrix::CheckUnitAccess("FerrixAccess.service", access);
            return 0;
        } catch (const EOSError& e) {
            return std::string(e.what()).rfind("Access is denied. ", 0) == 0 ? 1 : 2;
        }
    };
    return effectiveOnly ? RunInChild(check, child) : RunAsUnprivileged(check, child);
}
