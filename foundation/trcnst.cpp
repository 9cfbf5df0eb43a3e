#include "foundation/trcnst.h"

#include <exception>

#include "foundation/idftp.h"
#include "base/sysutils.h"

std::string TransportToStr(uint8_t transport)
{
    return transport == TRANSPORT_FTP ? TRANSPORT_FTP_STR : TRANSPORT_COPY_STR;
}

uint8_t StrToTransport(const std::string& word)
{
    return SameText(word, TRANSPORT_FTP_STR) ? TRANSPORT_FTP : TRANSPORT_COPY;
}

bool FtpForceDir(const std::string& path, TIdFTP& client)
{
    std::string dir = path;
    if (!dir.empty() && dir.back() == '/')
        dir.pop_back();
    if (dir.empty())
        return true;
    try {
        client.ChangeDir(dir);
        return true;
    } catch (const std::exception&) {
    }
    // The parent keeps its trailing "/" (the root's "/" then gives the empty path); a path without
    // "/" has the empty parent.
    const std::size_t slash = dir.rfind('/');
    const std::string parent = slash == std::string::npos ? "" : dir.substr(0, slash + 1);
    if (!FtpForceDir(parent, client))
        return false;
    try {
        client.MakeDir(dir);
        client.ChangeDir(dir);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
