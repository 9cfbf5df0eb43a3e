// A connection to this PC's service manager (systemd) over D-Bus: the system manager, or the
// calling user's manager when FERRIX_SERVICE_MANAGER is "user". Every failed call raises EOSError
// with the manager's (D-Bus) message, or the system's text, and the errno it stands for.
#pragma once

#include <string>
#include <vector>

#include "base/sysutils.h"

struct sd_bus;

namespace ferrix {

// Whether FERRIX_SERVICE_MANAGER selects the calling user's manager.
bool UseUserManager();

// Whether polkit lets this process manage the system manager's units without asking anyone
// (org.freedesktop.systemd1.manage-units). No polkit on the system bus means no.
bool PolkitAllowsManagingUnits();

// What the manager says of one unit: its ActiveState and the type of the job it runs for it
// ("start", "stop", ...; empty when none).
struct TUnitState {
    std::string ActiveState;
    std::string JobType;
};

class TManagerBus {
public:
    // Through the message bus, as every client may; or straight to the manager's private socket
    // (root, or the user of a user manager), which answers also while the bus itself is stopping.
    enum class TRoute { Bus, Private };
    explicit TManagerBus(TRoute route = TRoute::Bus);
    ~TManagerBus();
    TManagerBus(const TManagerBus&) = delete;
    TManagerBus& operator=(const TManagerBus&) = delete;

    // A text property of the manager ("SystemState", "Version", ...).
    std::string ManagerProperty(const char* name);

    // Loads a unit and returns its object path; a unit the manager does not know fails with the
    // manager's text.
    std::string LoadUnit(const std::string& unit);
    TUnitState QueryUnit(const std::string& unitPath);
    // The program a service unit starts: the path of its first ExecStart. A unit with none fails.
    std::string ServiceProgram(const std::string& unitPath);

    void StartUnit(const std::string& unit);
    void StopUnit(const std::string& unit);
    void Reload();
    void EnableUnitFile(const std::string& unit);
    void DisableUnitFile(const std::string& unit);
    void ResetFailedUnit(const std::string& unit);

private:
    std::string UnitProperty(const std::string& path, const char* name);
    void CallUnitMethod(const char* method, const std::string& unit, const char* mode);
    void CallUnitFilesMethod(const char* method, const std::string& unit, bool withForce);

    sd_bus* Bus = nullptr;
};

}  // namespace ferrix
