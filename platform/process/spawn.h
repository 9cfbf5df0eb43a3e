// Starting another program: the one way the programs and their tests run a child process.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace ferrix {

struct TSpawnOptions {
    int Input = -1;   // descriptor that becomes standard input; -1 keeps the caller's
    int Output = -1;  // ... standard output
    int Error = -1;   // ... standard error
    const char* InputPath = nullptr;     // a file opened read-only as standard input instead
    char* const* Environment = nullptr;  // replaces this process's environment when given
};

// Starts args[0] (looked up on PATH when it holds no "/") with args as its arguments, no signal
// blocked and every signal at its default action, whatever the calling thread has set: a stop
// or hang-up signal must reach the child. Returns 0 with the child's pid, or the error number.
int SpawnProcess(const std::vector<std::string>& args, const TSpawnOptions& options, pid_t& pid);

}  // namespace ferrix
