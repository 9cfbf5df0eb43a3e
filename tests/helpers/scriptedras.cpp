#include "scriptedras.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <sstream>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

int PidfdOpen(pid_t pid)
{
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

void PidfdSendSignal(int pidFd, int sig)
{
    syscall(SYS_pidfd_send_signal, pidFd, sig, nullptr, 0);
}

// Ends a link left running by a test: SIGTERM first, so it cleans up after itself, then SIGKILL.
void StopProcess(pid_t pid)
{
    const int fd = PidfdOpen(pid);
    if (fd < 0)
        return;
    PidfdSendSignal(fd, SIGTERM);
    pollfd ended{fd, POLLIN, 0};
    if (poll(&ended, 1, 2000) <= 0)
        PidfdSendSignal(fd, SIGKILL);
    close(fd);
}

}  // namespace

TScriptedRas::TScriptedRas()
{
    std::filesystem::create_directories(PhonebookDir());
    std::filesystem::create_directories(RunDir());
    Set("RAS_PHONEBOOK_DIR", PhonebookDir());
    Set("RAS_RUN_DIR", RunDir());
    Set("RAS_PPPD", PppdPath());
    Set("SCRIPTED_PPPD_LOG", Dir / "pppd-calls.txt");
}

TScriptedRas::~TScriptedRas()
{
    std::error_code ec;
    for (const auto& file : std::filesystem::directory_iterator(RunDir(), ec)) {
        const std::string name = file.path().filename().string();
        if (!name.starts_with("ppp-") || !name.ends_with(".pid"))
            continue;
        const pid_t pid = LinkPid(name.substr(4, name.size() - 8));
        // Tests may point pid files at the test program itself: never stop that one.
        if (pid > 1 && pid != getpid())
            StopProcess(pid);
    }
    for (const auto& [name, value] : Saved) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
}

void TScriptedRas::Set(const char* name, const std::string& value)
{
    const char* old = getenv(name);
    Saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name, value.c_str(), 1);
}

void TScriptedRas::AddEntry(const std::string& name, const std::string& options)
{
    WriteTextFile(PhonebookDir() + "/" + name, "# scripted phonebook entry\n" + options + "\n");
}

pid_t TScriptedRas::LinkPid(const std::string& name) const
{
    const std::string text = ReadTextFile(RunDir() + "/ppp-" + name + ".pid");
    return static_cast<pid_t>(std::atoi(text.c_str()));
}

std::vector<std::string> TScriptedRas::Calls() const
{
    std::vector<std::string> calls;
    std::istringstream in(ReadTextFile(Dir / "pppd-calls.txt"));
    for (std::string line; std::getline(in, line);)
        calls.push_back(line);
    return calls;
}

std::string TScriptedRas::PppdPath()
{
    return std::string(FERRIX_SOURCE_DIR) + "/tests/helpers/scripted-pppd.sh";
}

bool ProcessRunning(pid_t pid)
{
    const int fd = PidfdOpen(pid);
    if (fd < 0)
        return false;
    pollfd ended{fd, POLLIN, 0};
    const bool running = poll(&ended, 1, 0) == 0;
    close(fd);
    return running;
}
