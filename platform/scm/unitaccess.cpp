#include "platform/scm/unitaccess.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "base/sysutils.h"
#include "platform/scm/managerbus.h"
#include "platform/scm/unitfiles.h"

namespace ferrix {

const char* const AccessDeniedText = "Access is denied.";

namespace {

[[noreturn]] void RaiseDenied(const std::string& what)
{
    throw EOSError(std::string(AccessDeniedText) + " " + what, EACCES);
}

}  // namespace

std::string DropInPlace(const std::string& unit)
{
    std::string dir = DropInDirectory(unit);
    while (dir != "/" && !dir.empty() && ::faccessat(AT_FDCWD, dir.c_str(), F_OK, AT_EACCESS) != 0 &&
           errno == ENOENT)
        dir = ExtractFileDir(dir);
    return dir;
}

bool MayWriteTo(const std::string& dir, int& error)
{
    // AT_EACCESS: the effective ids, which for files are the thread's file-system ids.
    if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0)
        return true;
    error = errno;
    return false;
}

void CheckUnitAccess(const std::string& unit, uint32_t access)
{
    if ((access & SERVICE_CHANGE_CONFIG) != 0) {
        const std::string dir = DropInPlace(unit);
        int error = 0;
        if (!MayWriteTo(dir, error))
            RaiseDenied("The service's account cannot be changed: this user may not write " + dir + " (" +
                        std::strerror(error) + ").");
    }
    // The user's own manager lets its user do everything; the system manager asks polkit.
    if ((access & (SERVICE_START | SERVICE_STOP)) != 0 && ::geteuid() != 0 && !UseUserManager() &&
        !PolkitAllowsManagingUnits())
        RaiseDenied("The service cannot be started or stopped: polkit does not let this user manage the units "
                    "of the system's service manager.");
}

void CheckHandleAccess(uint32_t granted, uint32_t wanted)
{
    if ((granted & wanted) != wanted)
        RaiseDenied("The service was not opened with the rights this call needs.");
}

}  // namespace ferrix
