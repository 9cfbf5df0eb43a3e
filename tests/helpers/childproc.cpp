#include "childproc.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/process/spawn.h"
#include "testkit.h"

TChild SpawnChild(const std::vector<std::string>& args, char* const* env)
{
    ferrix::TSpawnOptions options;
    options.Environment = env;
    TChild child;
    if (ferrix::SpawnProcess(args, options, child.Pid) != 0)
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
    ferrix::TSpawnOptions options;
    options.Output = fds[1];
    options.Error = fds[1];
    options.InputPath = "/dev/null";
    options.Environment = env;
    TChild child;
    const int rc = ferrix::SpawnProcess(args, options, child.Pid);
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
