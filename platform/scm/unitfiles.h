// The files through which a service becomes a unit of the service manager: the unit file that
// INSTALL writes and UNINSTALL removes, and the drop-in that sets the account the service runs
// as. The system manager reads them from /etc/systemd/system, the user manager from
// $XDG_CONFIG_HOME/systemd/user (default ~/.config/systemd/user).
#pragma once

#include <string>

namespace ferrix {

class TManagerBus;

// The unit of a service name: "NAME.service".
std::string ServiceUnitName(const std::string& serviceName);
std::string UnitDirectory();
std::string UnitFilePath(const std::string& unit);
// Where the unit's drop-ins go: its file path with ".d".
std::string DropInDirectory(const std::string& unit);

// The text of a notify-type unit that runs the program, started automatically by the manager.
std::string ServiceUnitText(const std::string& displayName, const std::string& programPath, bool userManager);

// Writes (or replaces) the unit file, reloads the manager and enables the unit; returns the unit
// file's path. A program that another user could replace is refused first (CheckProgramPath of
// platform/scm/programdir.h). Raises EOSError.
std::string InstallServiceUnit(TManagerBus& bus, const std::string& serviceName, const std::string& displayName,
                               const std::string& programPath);
// Stops the unit when it runs, disables it, removes its file and drop-ins and reloads the manager.
// A unit that is not installed fails with a clear text. Raises EOSError.
void UninstallServiceUnit(TManagerBus& bus, const std::string& serviceName);

// The Linux user of an account name, as the user database spells it: empty for LocalSystem
// (root); ".\NAME" and "THISPC\NAME" are NAME. A name holding a control character, a blank or
// "=" (shown with its unprintable characters as \xNN), another domain, or a user this PC does not
// know raises EOSError.
std::string AccountUser(const std::string& accountName);
// Makes the unit run as the account from its next start. Before anything is written, the
// account's password is checked with PAM (root, as LocalSystem or by name, needs none: whoever
// may change the account may already write the unit) and the program the unit starts must be
// one no other user could replace (CheckProgramPath); for a user, its directory must also hold
// nothing but the program and the service's files (CheckProgramDirectoryOfItsOwn). Then, for root, the program's directory is
// taken back and the account drop-in removed; for a user, the drop-in User= is written and the
// directory handed to the user (platform/scm/programdir.h); the manager reloads right after the
// drop-in changes. The password is kept nowhere. Raises EOSError: a wrong password with the logon error's text.
void SetUnitAccount(TManagerBus& bus, const std::string& unit, const std::string& accountName,
                    const std::string& password);

}  // namespace ferrix
