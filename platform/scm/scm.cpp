#include "platform/scm/scm.h"

#include <cerrno>

#include "base/sysutils.h"
#include "platform/remote/relayclient.h"
#include "platform/scm/programdir.h"
#include "platform/scm/unitfiles.h"

using namespace ferrix;

namespace ferrix {

const std::string& TLocalManagerCalls::UnitPath(const std::string& unit)
{
    // The path stays valid: the manager loads the unit again when it is asked through it.
    auto found = Paths.find(unit);
    if (found == Paths.end())
        found = Paths.emplace(unit, Bus.LoadUnit(unit)).first;
    return found->second;
}

void TLocalManagerCalls::OpenUnit(const std::string& unit, uint32_t access)
{
    const std::string& path = Paths[unit] = Bus.LoadUnit(unit);
    CheckUnitAccess(unit, access);
    // A program another user could replace is refused before anything is stopped for a change.
    if ((access & SERVICE_CHANGE_CONFIG) != 0)
        CheckProgramPath(Bus.ServiceProgram(path));
}

TUnitState TLocalManagerCalls::QueryUnit(const std::string& unit)
{
    return Bus.QueryUnit(UnitPath(unit));
}

void TLocalManagerCalls::StartUnit(const std::string& unit)
{
    Bus.StartUnit(unit);
}

void TLocalManagerCalls::StopUnit(const std::string& unit)
{
    Bus.StopUnit(unit);
}

void TLocalManagerCalls::SetUnitAccount(const std::string& unit, const std::string& accountName,
                                        const std::string& password)
{
    ::SetUnitAccount(Bus, unit, accountName, password);
}

TServiceStatus UnitServiceStatus(const TUnitState& unit, uint32_t& checkPoint)
{
    TServiceStatus status;
    const std::string& state = unit.ActiveState;
    if (state == "active" || state == "reloading")
        status.CurrentState = csRunning;
    else if (state == "activating")
        status.CurrentState = csStartPending;
    else if (state == "deactivating")
        status.CurrentState = csStopPending;
    else if (unit.JobType == "start" || unit.JobType == "restart")
        status.CurrentState = csStartPending;  // queued, not begun yet
    else
        status.CurrentState = csStopped;
    checkPoint = unit.JobType.empty() ? 0 : checkPoint + 1;
    status.CheckPoint = checkPoint;
    status.WaitHint = ServiceWaitHintMs;
    if (status.CurrentState == csRunning)
        status.ControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    return status;
}

}  // namespace ferrix

std::unique_ptr<TScManager> OpenSCManagerA(const std::string& machineName)
{
    auto manager = std::make_unique<TScManager>();
    const std::string pc = machineName.rfind("\\\\", 0) == 0 ? machineName.substr(2) : machineName;
    if (IsThisPc(pc)) {
        manager->Calls = std::make_shared<TLocalManagerCalls>();
    } else {
        manager->MachineName = pc;
        manager->Calls = OpenRemoteManager(pc);
    }
    return manager;
}

std::unique_ptr<TScService> OpenServiceA(TScManager& manager, const std::string& serviceName, uint32_t desiredAccess)
{
    auto service = std::make_unique<TScService>();
    service->Calls = manager.Calls;
    service->ServiceName = serviceName;
    service->Unit = ServiceUnitName(serviceName);
    service->Access = desiredAccess;
    service->Calls->OpenUnit(service->Unit, desiredAccess);
    return service;
}

TServiceStatus QueryServiceStatus(TScService& service)
{
    CheckHandleAccess(service.Access, SERVICE_QUERY_STATUS);
    return UnitServiceStatus(service.Calls->QueryUnit(service.Unit), service.CheckPoint);
}

void StartServiceA(TScService& service)
{
    CheckHandleAccess(service.Access, SERVICE_START);
    service.Calls->StartUnit(service.Unit);
}

void ControlService(TScService& service, uint32_t control)
{
    if (control != SERVICE_CONTROL_STOP)
        throw EOSError("The requested control is not valid for this service", EINVAL);
    CheckHandleAccess(service.Access, SERVICE_STOP);
    service.Calls->StopUnit(service.Unit);
}

void ChangeServiceConfigA(TScService& service, const std::string& accountName, const std::string& password)
{
    CheckHandleAccess(service.Access, SERVICE_CHANGE_CONFIG);
    service.Calls->SetUnitAccount(service.Unit, accountName, password);
}

void CloseServiceHandle(std::unique_ptr<TScService>& handle)
{
    handle.reset();
}

void CloseServiceHandle(std::unique_ptr<TScManager>& handle)
{
    handle.reset();
}
