#include "testuser.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <sys/syscall.h>
#include <unistd.h>

#include "childproc.h"
#include "testkit.h"

namespace {

// Runs one of the account tools. Each takes the lock of the account files and fails at once while
// another holds it (tests of other programs make and remove users at the same time): it is tried
// again until it gets the lock or the deadline passes. Returns the last exit status.
int RunAccountTool(const std::vector<std::string>& args, std::string& output)
{
    int status = -1;
    WaitFor(
        [&] {
            status = RunCaptured(args, output);
            return status == 0 || output.find("lock") == std::string::npos;
        },
        std::chrono::seconds(30));
    return status;
}

}  // namespace

TTestUser::TTestUser(const std::string& tag) : FName("fx" + tag + std::to_string(::getpid()))
{
    std::string output;
    if (RunAccountTool({"/usr/sbin/useradd", "--no-create-home", "--home-dir", "/", "--shell", "/bin/sh", FName},
                    output) != 0)
        throw std::runtime_error("useradd " + FName + " failed: " + output);
    if (RunAccountTool({"/usr/sbin/usermod", "-p", "*", FName}, output) != 0) {
        RunAccountTool({"/usr/sbin/userdel", FName}, output);
        throw std::runtime_error("usermod " + FName + " failed: " + output);
    }
    const passwd* user = ::getpwnam(FName.c_str());
    if (user == nullptr)
        throw std::runtime_error("the new user " + FName + " is not known");
    FUid = user->pw_uid;
    FGid = user->pw_gid;
}

TTestUser::TTestUser(const std::string& tag, const std::string& password) : TTestUser(tag)
{
    std::string output;
    if (RunAccountTool({"/bin/sh", "-c", "printf '%s\\n' \"$1\" | /usr/sbin/chpasswd", "sh", FName + ":" + password},
                    output) != 0)
        throw std::runtime_error("chpasswd " + FName + " failed: " + output);  // the destructor removes the user
}

TTestUser::~TTestUser()
{
    // userdel refuses a user that still runs processes (a session, a service): they end first.
    for (int round = 0; round < 50; ++round) {
        bool any = false;
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            const pid_t pid = std::stoi(name);
            if (ProcessUid(pid) == static_cast<long>(FUid)) {
                ::kill(pid, SIGKILL);
                any = true;
            }
        }
        if (!any)
            break;
        ::usleep(20000);
    }
    std::string output;
    RunAccountTool({"/usr/sbin/userdel", FName}, output);
}

long ProcessUid(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Uid:", 0) == 0) {
            std::istringstream fields(line.substr(4));
            long uid = -1;
            fields >> uid;
            return uid;
        }
    return -1;
}

long ThreadId(const std::string& line, int field)
{
    std::ifstream status("/proc/thread-self/status");
    std::string text;
    while (std::getline(status, text))
        if (text.rfind(line, 0) == 0) {
            std::istringstream fields(text.substr(line.size()));
            long value = -1;
            for (int i = 0; i < field; ++i)
                fields >> value;
            return value;
        }
    return -1;
}

bool SetEffectiveCapability(int capability, bool on)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bit = 1U << (capability % 32);
    if (on)
        data[capability / 32].effective |= bit;
    else
        data[capability / 32].effective &= ~bit;
    return ::syscall(SYS_capset, &header, data) == 0;
}

TThreadFsIdentity::TThreadFsIdentity(uid_t uid, gid_t gid)
    : SavedUid(static_cast<uid_t>(::syscall(SYS_setfsuid, -1))), SavedGid(static_cast<gid_t>(::syscall(SYS_setfsgid, -1)))
{
    ::syscall(SYS_setfsgid, gid);
    ::syscall(SYS_setfsuid, uid);
    if (ThreadFsUid() != static_cast<long>(uid))
        throw std::runtime_error("cannot take the file-system identity of uid " + std::to_string(uid));
}

TThreadFsIdentity::~TThreadFsIdentity()
{
    ::syscall(SYS_setfsuid, SavedUid);
    ::syscall(SYS_setfsgid, SavedGid);
}
