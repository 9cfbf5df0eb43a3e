#include "platform/process/progdir.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

std::string ferrix::ProgramFilePath()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return std::string();
    return std::string(buffer, static_cast<size_t>(n));
}

bool SetEnvironmentVariable(const std::string& name, const std::string& value)
{
    return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}
