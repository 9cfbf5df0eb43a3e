#include "usermanager.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/scm/managerbus.h"

using namespace ferrix;

namespace fs = std::filesystem;

extern char** environ;

namespace {

std::vector<std::string> CgroupRoots()
{
    if (fs::is_directory("/sys/fs/cgroup/unified"))
        return {"/sys/fs/cgroup/unified", "/sys/fs/cgroup/systemd"};
    return {"/sys/fs/cgroup"};
}

// The processes in a cgroup folder and the folders below it.
std::vector<pid_t> CgroupProcesses(const std::string& dir)
{
    std::vector<pid_t> pids;
    std::error_code ec;
    std::vector<std::string> dirs{dir};
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator(); ++it)
        if (it->is_directory(ec))
            dirs.push_back(it->path().string());
    for (const std::string& d : dirs) {
        std::ifstream procs(d + "/cgroup.procs");
        pid_t pid;
        while (procs >> pid)
            pids.push_back(pid);
    }
    return pids;
}

// Removes a cgroup folder and the folders the manager made below it, deepest first.
void RemoveCgroup(const std::string& dir)
{
    std::error_code ec;
    std::vector<std::string> dirs;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator(); ++it)
        if (it->is_directory(ec))
            dirs.push_back(it->path().string());
    std::sort(dirs.begin(), dirs.end(), [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& d : dirs)
        ::rmdir(d.c_str());
    ::rmdir(dir.c_str());
}

}  // namespace

std::string TUserManager::Unavailable()
{
    if (::geteuid() != 0)
        return "the test user manager is started by root";
    for (const char* tool : {"/lib/systemd/systemd", "/usr/bin/unshare", "/usr/bin/dbus-daemon", "/usr/bin/systemctl"})
        if (::access(tool, X_OK) != 0)
            return std::string(tool) + " is missing";
    if (::access("/usr/lib/systemd/user/dbus.socket", R_OK) != 0)
        return "the user manager's session bus (dbus-user-session) is missing";
    return std::string();
}

TUserManager::TUserManager(const std::string& pipeDir)
    : Runtime(Dir / "runtime"), Home(Dir / "home"), Config(Dir / "home/.config"), PipeDir(pipeDir),
      CgroupName("ferrix-test-" + std::to_string(::getpid()))
{
    fs::create_directories(Runtime);
    fs::create_directories(Config);
    ::chmod(Dir.Path().c_str(), 0755);
    // A service that runs as another user must reach the manager's notify socket in here.
    ::chmod(Runtime.c_str(), 0755);

    std::vector<std::string> variables = ClientEnvironment();
    variables.push_back("HOME=" + Home);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (std::none_of(variables.begin(), variables.end(),
                         [&](const std::string& v) { return v.rfind(name + "=", 0) == 0; }))
            env.push_back(entry);
    }
    env.insert(env.end(), variables.begin(), variables.end());
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    const std::string script = std::string(FERRIX_SOURCE_DIR) + "/tests/helpers/user-manager.sh";
    Manager = SpawnChild({"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/bash", script, Dir.Path(),
                          CgroupName},
                         envp.data());

    // This process is the manager's client from now on.
    for (const std::string& v : ClientEnvironment()) {
        const std::string name = v.substr(0, v.find('='));
        const char* old = std::getenv(name.c_str());
        SavedEnvironment.emplace_back(name, old != nullptr ? std::string(old) : std::string("\x01"));
        ::setenv(name.c_str(), v.substr(v.find('=') + 1).c_str(), 1);
    }

    std::string state;
    const bool ready = WaitFor(
        [&] {
            if (TryWaitForExit(Manager, std::chrono::milliseconds(0)))
                return true;
            try {
                TManagerBus bus;
                state = bus.ManagerProperty("SystemState");
            } catch (const std::exception& e) {
                state = e.what();
            }
            return state == "running" || state == "degraded";
        },
        std::chrono::seconds(30));
    if (!ready || (state != "running" && state != "degraded")) {
        const std::string log = Log();
        Stop();
        throw std::runtime_error("The test user manager did not start (" + state + "): " + log);
    }
    // The system manager's notify socket admits every user; a user manager's only its own.
    ::chmod((Runtime + "/systemd/notify").c_str(), 0777);
}

TUserManager::~TUserManager()
{
    Stop();
}

std::vector<std::string> TUserManager::ClientEnvironment() const
{
    return {"FERRIX_SERVICE_MANAGER=user", "XDG_RUNTIME_DIR=" + Runtime, "DBUS_SESSION_BUS_ADDRESS=" + BusAddress(),
            "XDG_CONFIG_HOME=" + Config, "NAMEDPIPE_DIR=" + PipeDir};
}

std::string TUserManager::Log() const
{
    std::ifstream in(Dir / "manager.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int TUserManager::Systemctl(const std::vector<std::string>& args, std::string& output) const
{
    std::vector<std::string> command{"/usr/bin/systemctl", "--user", "--no-pager"};
    command.insert(command.end(), args.begin(), args.end());
    return RunCaptured(command, output, std::chrono::seconds(60));
}

std::string TUserManager::UnitProperty(const std::string& unit, const std::string& name) const
{
    std::string output;
    Systemctl({"show", "--value", "-p", name, unit}, output);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
    return output;
}

void TUserManager::Stop()
{
    if (Manager.Pid > 0) {
        // SIGTERM makes a user manager stop its units and exit.
        ::kill(Manager.Pid, SIGTERM);
        if (!TryWaitForExit(Manager, std::chrono::seconds(20)))
            KillChild(Manager);
        Manager.Pid = -1;
    }
    for (const std::string& root : CgroupRoots()) {
        const std::string dir = root + "/" + CgroupName;
        if (!fs::exists(dir))
            continue;
        for (pid_t pid : CgroupProcesses(dir))
            ::kill(pid, SIGKILL);
        WaitFor([&] { return CgroupProcesses(dir).empty(); }, std::chrono::seconds(5));
        RemoveCgroup(dir);
    }
    for (const auto& [name, value] : SavedEnvironment) {
        if (value == "\x01")
            ::unsetenv(name.c_str());
        else
            ::setenv(name.c_str(), value.c_str(), 1);
    }
    SavedEnvironment.clear();
}
