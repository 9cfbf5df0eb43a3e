// Transport constants and the FTP directory creation shared by the service and the console.
#pragma once

#include <string>

class TIdFTP;

// Makes sure the absolute directory path exists on the server of the connected client and leaves
// the connection's current directory in it, creating each missing level. Every command carries the
// whole path. False when the path can neither be entered nor created; never raises.
bool FtpForceDir(const std::string& path, TIdFTP& client);
