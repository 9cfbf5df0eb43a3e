// Transport kinds and the words that stand for them in the settings file.
#pragma once

#include <cstdint>
#include <string>

constexpr uint8_t TRANSPORT_COPY = 0;
constexpr uint8_t TRANSPORT_FTP = 1;

inline constexpr const char* TRANSPORT_COPY_STR = "COPY";
inline constexpr const char* TRANSPORT_FTP_STR = "FTP";

// "FTP" for 1, "COPY" for every other value.
std::string TransportToStr(uint8_t transport);
// 1 for "FTP" in any letter case, 0 for any other word.
uint8_t StrToTransport(const std::string& word);
