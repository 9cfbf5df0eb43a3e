#include "foundation/trcnst.h"

#include "foundation/sysutils.h"

std::string TransportToStr(uint8_t transport)
{
    return transport == TRANSPORT_FTP ? TRANSPORT_FTP_STR : TRANSPORT_COPY_STR;
}

uint8_t StrToTransport(const std::string& word)
{
    return SameText(word, TRANSPORT_FTP_STR) ? TRANSPORT_FTP : TRANSPORT_COPY;
}
