// Transport kinds with their words in the settings file, and the FTP directory creation shared by
// the service and the console.
#pragma once

#include <cstdint>
#include <string>

class TIdFTP;

constexpr uint8_t TRANSPORT_COPY = 0;
constexpr uint8_t TRANSPORT_FTP = 1;

inline constexpr const char* TRANSPORT_COPY_STR = "COPY";
inline constexpr const char* TRANSPORT_FTP_STR = "FTP";

// "FTP" for 1, "COPY" for every other value.
std::string TransportToStr(uint8_t transport);
// 1 for "FTP" in any letter case, 0 for any other word.
uint8_t StrToTransport(const std::string& word);

// Makes sure the absolute directory path exists on the server of the connected client and leaves
// the connection's current directory in it, creating each missing level. Every command carries the
// whole path. False when the path can neither be entered nor created; never raises.
bool FtpForceDir(const std::string& path, TIdFTP& client);
// As above; after false, reason holds why the last command failed: the server's refusal, or the
// text of the connection's failure.
bool FtpForceDir(const std::string& path, TIdFTP& client, std::string& reason);
