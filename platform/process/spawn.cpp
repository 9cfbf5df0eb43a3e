#include "platform/process/spawn.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace ferrix {

namespace {

// The file actions and attributes of one spawn, released whatever happens.
class TSpawnSetup {
public:
    TSpawnSetup()
    {
        posix_spawn_file_actions_init(&Actions);
        posix_spawnattr_init(&Attributes);
    }
    ~TSpawnSetup()
    {
        posix_spawnattr_destroy(&Attributes);
        posix_spawn_file_actions_destroy(&Actions);
    }
    TSpawnSetup(const TSpawnSetup&) = delete;
    TSpawnSetup& operator=(const TSpawnSetup&) = delete;

    posix_spawn_file_actions_t Actions;
    posix_spawnattr_t Attributes;
};

void Redirect(posix_spawn_file_actions_t& actions, int from, int to)
{
    if (from >= 0)
        posix_spawn_file_actions_adddup2(&actions, from, to);
}

}  // namespace

int SpawnProcess(const std::vector<std::string>& args, const TSpawnOptions& options, pid_t& pid)
{
    if (args.empty())
        return EINVAL;
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& arg : copy)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    TSpawnSetup setup;
    if (options.InputPath != nullptr)
        posix_spawn_file_actions_addopen(&setup.Actions, STDIN_FILENO, options.InputPath, O_RDONLY, 0);
    Redirect(setup.Actions, options.Input, STDIN_FILENO);
    Redirect(setup.Actions, options.Output, STDOUT_FILENO);
    Redirect(setup.Actions, options.Error, STDERR_FILENO);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigfillset(&defaults);
    posix_spawnattr_setsigmask(&setup.Attributes, &none);
    posix_spawnattr_setsigdefault(&setup.Attributes, &defaults);
    posix_spawnattr_setflags(&setup.Attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char* const* env = options.Environment != nullptr ? options.Environment : environ;
    return posix_spawnp(&pid, argv[0], &setup.Actions, &setup.Attributes, argv.data(), env);
}

}  // namespace ferrix
