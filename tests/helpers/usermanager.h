// A real systemd user manager for the service-manager tests, run by root in a mount namespace of
// its own (user-manager.sh) with its own runtime, home and configuration directories. This
// process's environment points the service-manager client at it (FERRIX_SERVICE_MANAGER=user,
// XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS, XDG_CONFIG_HOME, NAMEDPIPE_DIR) while it lives. The
// destructor ends the manager, its units and its bus, and removes its cgroup folders.
#pragma once

#include <string>
#include <vector>

#include "childproc.h"
#include "testkit.h"

class TUserManager {
public:
    // pipeDir: the NAMEDPIPE_DIR of the manager's units and of this process.
    explicit TUserManager(const std::string& pipeDir);
    ~TUserManager();
    TUserManager(const TUserManager&) = delete;
    TUserManager& operator=(const TUserManager&) = delete;

    // Why the manager cannot run on this machine (not root, no systemd); empty when it can.
    static std::string Unavailable();

    bool Running() const { return Manager.Pid > 0; }
    std::string Log() const;
    const std::string& RuntimeDir() const { return Runtime; }
    const std::string& ConfigDir() const { return Config; }
    std::string BusAddress() const { return "unix:path=" + Runtime + "/bus"; }
    // The variables a client of this manager needs ("NAME=value").
    std::vector<std::string> ClientEnvironment() const;

    // systemctl --user with the arguments; its exit status and output.
    int Systemctl(const std::vector<std::string>& args, std::string& output) const;
    // One property of a unit as systemctl shows it ("ActiveState", "MainPID", ...).
    std::string UnitProperty(const std::string& unit, const std::string& name) const;

private:
    void Stop();

    TempDir Dir;
    std::string Runtime, Home, Config, PipeDir, CgroupName;
    TChild Manager;
    std::vector<std::pair<std::string, std::string>> SavedEnvironment;
};
