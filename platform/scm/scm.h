// The service-control client: the service manager of this PC or of another PC, in the shape of
// the calls the console makes. A manager of another PC is reached through the remote relay
// (platform/remote). Every failed call raises EOSError with the manager's text or the system's.
//
// systemd stands in for the Windows manager: a service NAME is the unit NAME.service; its status
// comes from the unit's ActiveState (inactive and failed: stopped; activating: start pending;
// deactivating: stop pending; active and reloading: running), a start job still waiting for its
// turn reads as start pending, and the checkpoint rises by one at each query while a job of the
// unit runs. The wait hint is always 1000 ms.
//
// A service is opened with the access rights its calls need (platform/scm/unitaccess.h); the open
// fails with "Access is denied." when this process, or the relay's user on another PC, lacks one,
// and a call the handle was not opened for fails the same way. An open for SERVICE_CHANGE_CONFIG
// also fails for a unit whose program another user could replace (platform/scm/programdir.h).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "base/sysutils.h"
#include "platform/scm/managerbus.h"
#include "platform/scm/unitaccess.h"
#include "platform/service/servicestate.h"

constexpr uint32_t SERVICE_STOPPED = csStopped;
constexpr uint32_t SERVICE_START_PENDING = csStartPending;
constexpr uint32_t SERVICE_STOP_PENDING = csStopPending;
constexpr uint32_t SERVICE_RUNNING = csRunning;

namespace ferrix {

constexpr uint32_t ServiceWaitHintMs = 1000;

// The calls on one PC's manager, made here or by the relay on that PC.
class TManagerCalls {
public:
    virtual ~TManagerCalls() = default;
    // Fails when the manager does not know the unit, or when this process lacks one of the access
    // rights on it.
    virtual void OpenUnit(const std::string& unit, uint32_t access) = 0;
    virtual TUnitState QueryUnit(const std::string& unit) = 0;
    virtual void StartUnit(const std::string& unit) = 0;
    virtual void StopUnit(const std::string& unit) = 0;
    // Checks the password on the manager's PC and keeps it nowhere (SetUnitAccount of
    // platform/scm/unitfiles.h).
    virtual void SetUnitAccount(const std::string& unit, const std::string& accountName,
                                const std::string& password) = 0;
};

// This PC's manager over D-Bus.
class TLocalManagerCalls : public TManagerCalls {
public:
    void OpenUnit(const std::string& unit, uint32_t access) override;
    TUnitState QueryUnit(const std::string& unit) override;
    void StartUnit(const std::string& unit) override;
    void StopUnit(const std::string& unit) override;
    void SetUnitAccount(const std::string& unit, const std::string& accountName, const std::string& password) override;

private:
    const std::string& UnitPath(const std::string& unit);

    TManagerBus Bus;
    std::map<std::string, std::string> Paths;  // object path of each unit opened
};

// The status of a service from its unit's state; checkPoint is the service handle's counter.
TServiceStatus UnitServiceStatus(const TUnitState& unit, uint32_t& checkPoint);

}  // namespace ferrix

// The open handles of the calls below: a manager, and a service of that manager.
struct TScManager {
    std::string MachineName;  // empty for this PC
    std::shared_ptr<ferrix::TManagerCalls> Calls;
};

struct TScService {
    std::shared_ptr<ferrix::TManagerCalls> Calls;
    std::string ServiceName;
    std::string Unit;
    uint32_t Access = 0;  // the rights it was opened with
    uint32_t CheckPoint = 0;
};

// The manager of this PC (empty name, ".", or this PC's host name) or of another PC, with or
// without a leading "\\".
std::unique_ptr<TScManager> OpenSCManagerA(const std::string& machineName);
// desiredAccess: the SERVICE_... rights of the calls to be made on the handle.
std::unique_ptr<TScService> OpenServiceA(TScManager& manager, const std::string& serviceName, uint32_t desiredAccess);
TServiceStatus QueryServiceStatus(TScService& service);
void StartServiceA(TScService& service);
// Only SERVICE_CONTROL_STOP is offered; other codes fail.
void ControlService(TScService& service, uint32_t control);
// Sets the account the service runs as from its next start. The password is checked with PAM on
// the service's PC before anything changes (LocalSystem, root, needs none) and kept nowhere; a
// wrong one raises the logon error's text. An account name that is not a plain user name of that
// PC, a program another user could replace, and for an account other than LocalSystem a program
// directory that holds anything but the program and the service's files, are refused too.
void ChangeServiceConfigA(TScService& service, const std::string& accountName, const std::string& password);
void CloseServiceHandle(std::unique_ptr<TScService>& handle);
void CloseServiceHandle(std::unique_ptr<TScManager>& handle);
