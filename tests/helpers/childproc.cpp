#include "childproc.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
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

int RunCaptured(const std::vector<std::string>& args, std::string& output, std::chrono::milliseconds deadline,
                char* const* env)
{
    output.clear();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<std::string> all = args;
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigfillset(&defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    TChild child;
    const int rc = posix_spawnp(&child.Pid, argv[0], &actions, &attr, argv.data(), env != nullptr ? env : environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        throw std::runtime_error("posix_spawn of " + args.front() + " failed");
    }
    const auto end = std::chrono::steady_clock::now() + deadline;
    char chunk[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd fd{fds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) == 0)
            break;
        const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
        if (n <= 0)
            break;
        output.append(chunk, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (!WaitForExit(child, std::max(left, std::chrono::milliseconds(100))))
        return -1;
    return WIFEXITED(child.Status) ? WEXITSTATUS(child.Status) : 128 + WTERMSIG(child.Status);
}
