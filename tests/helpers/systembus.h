// A system bus of the test's own for the start and stop check's questions to polkit, and that
// check run as nobody.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

#include "childproc.h"
#include "testkit.h"

// A dbus-daemon that every user may reach and use, as the system bus, listening in a folder of its
// own; DBUS_SYSTEM_BUS_ADDRESS names it while the object lives and is set back when it ends. A bus
// that a dead test left behind ends by itself after 300 s.
class TSystemBus {
public:
    // Why the bus cannot run here; empty when it can.
    static std::string Unavailable();
    // Starts the daemon and waits for its socket; throws std::runtime_error when it does not come.
    TSystemBus();
    ~TSystemBus();
    TSystemBus(const TSystemBus&) = delete;
    TSystemBus& operator=(const TSystemBus&) = delete;

    const std::string& Address() const { return FAddress; }
    // A path in the bus's folder, which every user may enter.
    std::string operator/(const std::string& name) const { return Dir / name; }

private:
    void End();

    TempDir Dir;
    std::string FAddress;
    std::optional<std::string> SavedAddress;
    TChild Daemon;
};

// CheckUnitAccess for the rights on FerrixAccess.service of the system manager, in a child that is
// wholly nobody (polkit judges a process by its real user): 0 when granted, 1 when refused with
// "Access is denied.", 2 when refused otherwise, -1 when the child failed. child, when given, gets
// the child's process id.
int AccessOfNobody(uint32_t access, pid_t* child = nullptr);
