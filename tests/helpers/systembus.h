// A dbus-daemon of the test's own as the system bus, open to every user: DBUS_SYSTEM_BUS_ADDRESS
// names it while the object lives and is set back after; should the test die, it ends after 300 s.
// And the start and stop check run as nobody, whose questions go to that bus.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

#include "childproc.h"
#include "testkit.h"

class TSystemBus {
public:
    // Starts /usr/bin/dbus-daemon; throws std::runtime_error when its socket does not come.
    TSystemBus();
    ~TSystemBus();

    const std::string& Address() const { return FAddress; }
    // A path in the bus's folder, which every user may enter.
    std::string operator/(const std::string& name) const { return Dir / name; }

private:
    TempDir Dir;
    std::string FAddress;
    std::optional<std::string> SavedAddress;
    TChild Daemon;
};

// CheckUnitAccess for the rights on FerrixAccess.service of the system manager, in a child that is
// wholly nobody (polkit judges a process by its real user) or, effectiveOnly, nobody by its
// effective ids alone: 0 when granted, 1 when refused with "Access is denied.", 2 when refused
// otherwise, 3 when the ids could not be set, as RunAsUnprivileged when the child fails.
int AccessOfNobody(uint32_t access, bool effectiveOnly = false, pid_t* child = nullptr);
