// Version resources of program files: the version block in a file's ELF section ".verinfo".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr const char* VersionSectionName = ".verinfo";

// Loads the version block of a file into data. False, with data empty, when the file cannot be
// read, is no ELF file or has no version block.
bool GetFileVersionInfo(const std::string& fileName, std::vector<uint8_t>& data);
