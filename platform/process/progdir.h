// Facts about the running program.
#pragma once

#include <string>

namespace ferrix {

// Full path of the running program file (/proc/self/exe).
std::string ProgramFilePath();

}  // namespace ferrix
// Sets a process environment variable; false on failure.
bool SetEnvironmentVariable(const std::string& name, const std::string& value);
