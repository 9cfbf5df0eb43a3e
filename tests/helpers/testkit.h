// Small helpers shared by the test suites.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// A fresh directory under the system temp folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return Root; }
    std::string operator/(const std::string& name) const { return Root + "/" + name; }

private:
    std::string Root;
};

// Makes dir the current directory while it lives; the old one comes back also when a test fails.
class TCurrentDirectory {
public:
    explicit TCurrentDirectory(const std::string& dir);
    ~TCurrentDirectory();
    TCurrentDirectory(const TCurrentDirectory&) = delete;
    TCurrentDirectory& operator=(const TCurrentDirectory&) = delete;
    bool Saved = false;  // the directory was changed

private:
    char Previous[4096] = {};
};

// While it lives, files of this process may not grow beyond limit bytes: a write past it fails
// with EFBIG (SIGXFSZ ignored), as on a full disk. Restores both when it ends.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(unsigned long limit);
    ~TFileSizeLimit();
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    unsigned long OldCurrent;
    void (*OldHandler)(int);
};

// Polls cond until it is true or the deadline passes; returns the last result.
bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds deadline = std::chrono::seconds(10));

void WriteTextFile(const std::string& path, const std::string& content);
// The names in a directory, sorted: a leftover temporary file shows here.
std::vector<std::string> NamesIn(const std::string& dir);
// Creates dir (and its parents) holding the files, each containing its own name; returns dir.
std::string MakeDirWithFiles(const std::string& dir, const std::vector<std::string>& files);
std::string ReadTextFile(const std::string& path);
// Sets a file's last-write time (UTC seconds since 1970 and milliseconds).
void SetFileTime(const std::string& path, int64_t unixSeconds, int milliseconds = 0);

// Bytes that differ from seed to seed and along the text, so that a piece of a file copied twice,
// left out or cut off shows.
std::string PatternBytes(size_t size, unsigned seed);
// This machine's host name.
std::string HostName();

// Runs step on a thread of its own on which the system refuses unnamed files (an open with
// O_TMPFILE fails with EOPNOTSUPP), as a file system without them does; the test's other
// threads are not affected.
void RunWithoutUnnamedFiles(const std::function<void()>& step);

// The messages of a log file, without the date and time in front of each line.
std::vector<std::string> LogMessages(const std::string& path);

// The user a step "as an unprivileged user" runs as: nobody.
uid_t UnprivilegedUid();
gid_t UnprivilegedGid();

// Runs step in a child process that first drops to the unprivileged user (no supplementary
// groups); the step's result is the child's exit code. Returns that code, or 128 + the signal
// that ended the child, or -1 when no child could be started or the drop failed. child, when
// given, gets the child's process id.
int RunAsUnprivileged(const std::function<int()>& step, pid_t* child = nullptr);
// Runs step in a child process as this user; same result as RunAsUnprivileged.
int RunInChild(const std::function<int()>& step, pid_t* child = nullptr);

// The message of the EOSError that call raises, or "" when it raises none; code gets its error code.
std::string Refusal(const std::function<void()>& call);
std::string Refusal(const std::function<void()>& call, int& code);

// A small file system of its own (tmpfs, needs root), mounted on a fresh directory and
// unmounted again when the object ends, also when a test fails.
class SmallFileSystem {
public:
    explicit SmallFileSystem(size_t bytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    const std::string& Path() const { return Dir.Path(); }
    std::string operator/(const std::string& name) const { return Dir / name; }
    // Fills every free byte with a file of that name; true when the file system is full.
    bool Fill(const std::string& name) const;

private:
    TempDir Dir;
    bool Mounted = false;
};
