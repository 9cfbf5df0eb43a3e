// What the console takes as the name of a PC to watch. The name reaches the SSH client, and an
// older client with a "%h" ProxyCommand hands it to a shell: only names without any character a
// shell treats specially are taken.
#pragma once

#include <string>

namespace ferrix {

// The rule of IsValidPcName, for the messages that refuse a name.
inline constexpr const char* PcNameRule =
    "a PC name is a host name or an IPv4 or IPv6 address, optionally with \"user@\" before it, made of "
    "letters, digits, \".\", \"-\", \"_\" and \":\", and not beginning with \"-\"";

// Whether name is empty (this PC), or a host name, an IPv4 or a bracketless IPv6 address,
// optionally with "user@" before it: ASCII letters, digits, ".", "-", "_" and ":", neither the
// user nor the host empty or beginning with "-". Never raises.
bool IsValidPcName(const std::string& name);

}  // namespace ferrix
