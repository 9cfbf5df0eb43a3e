// Small helpers shared by the test suites.
#pragma once

#include <chrono>
#include <functional>
#include <string>
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

// Polls cond until it is true or the deadline passes; returns the last result.
bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds deadline = std::chrono::seconds(10));

void WriteTextFile(const std::string& path, const std::string& content);
// Creates dir (and its parents) holding the files, each containing its own name; returns dir.
std::string MakeDirWithFiles(const std::string& dir, const std::vector<std::string>& files);
std::string ReadTextFile(const std::string& path);
// Sets a file's last-write time (UTC seconds since 1970 and milliseconds).
void SetFileTime(const std::string& path, int64_t unixSeconds, int milliseconds = 0);

// The messages of a log file, without the date and time in front of each line.
std::vector<std::string> LogMessages(const std::string& path);
