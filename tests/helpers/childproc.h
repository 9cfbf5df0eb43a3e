// A program run by a test as a child process: started with SIGTERM and SIGINT at their defaults and
// unblocked (so the test's own signal set-up does not leak into it), waited for with a deadline.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

struct TChild {
    pid_t Pid = -1;
    int Status = 0;  // the wait status once it has ended
};

// Starts args[0] with args as its arguments; env (null-terminated) replaces this process's
// environment when given. Throws std::runtime_error when it cannot be started.
TChild SpawnChild(const std::vector<std::string>& args, char* const* env = nullptr);

// Waits for the child to end; true when it did, with its wait status in child.Status.
bool TryWaitForExit(TChild& child, std::chrono::milliseconds deadline);
// Ends the child with SIGKILL and reaps it.
void KillChild(TChild& child);
// Waits for the child to end; kills it when it does not within the deadline.
bool WaitForExit(TChild& child, std::chrono::milliseconds deadline = std::chrono::seconds(30));

// Runs args[0] to its end with standard output and error captured together; returns its exit
// status, or -1 when it did not end within the deadline (it is then killed).
int RunCaptured(const std::vector<std::string>& args, std::string& output,
                std::chrono::milliseconds deadline = std::chrono::seconds(30), char* const* env = nullptr);
