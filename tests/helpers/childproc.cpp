#include "childproc.h"

#include <csignal>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "testkit.h"

extern char** environ;

TChild SpawnChild(const std::vector<std::string>& args, char* const* env)
{
    std::vector<std::string> all = args;
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    TChild child;
    const int rc = posix_spawn(&child.Pid, argv[0], nullptr, &attr, argv.data(), env != nullptr ? env : environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        throw std::runtime_error("posix_spawn of " + args.front() + " failed");
    return child;
}

bool TryWaitForExit(TChild& child, std::chrono::milliseconds deadline)
{
    return WaitFor([&] { return ::waitpid(child.Pid, &child.Status, WNOHANG) == child.Pid; }, deadline);
}

void KillChild(TChild& child)
{
    ::kill(child.Pid, SIGKILL);
    ::waitpid(child.Pid, &child.Status, 0);
}

bool WaitForExit(TChild& child, std::chrono::milliseconds deadline)
{
    const bool ended = TryWaitForExit(child, deadline);
    if (!ended)
        KillChild(child);
    return ended;
}
