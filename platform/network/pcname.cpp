#include "platform/network/pcname.h"

namespace ferrix {

namespace {

bool IsNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_' || c == ':';
}

// One part of a name: the user or the host.
bool IsValidPart(const std::string& part)
{
    if (part.empty() || part.front() == '-')
        return false;
    for (char c : part) {
        if (!IsNameCharacter(c))
            return false;
    }
    return true;
}

}  // namespace

bool IsValidPcName(const std::string& name)
{
    if (name.empty())
        return true;
    const size_t at = name.find('@');
    if (at == std::string::npos)
        return IsValidPart(name);
    return IsValidPart(name.substr(0, at)) && IsValidPart(name.substr(at + 1));
}

}  // namespace ferrix
