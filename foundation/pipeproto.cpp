#include "foundation/pipeproto.h"

#include <cstring>

namespace ferrix {

bool KeywordIs(const uint8_t* message, const char* keyword)
{
    return std::strncmp(reinterpret_cast<const char*>(message), keyword, sizeof(TPipeMessageHeader::Keyword)) == 0;
}

void WriteHeader(uint8_t* message, const char* keyword, int32_t status, int32_t dataLength)
{
    TPipeMessageHeader header;
    std::strncpy(header.Keyword, keyword, sizeof header.Keyword - 1);
    header.Status = status;
    header.DataLength = dataLength;
    std::memcpy(message, &header, sizeof header);
}

TPipeMessageHeader ReadHeader(const uint8_t* message)
{
    TPipeMessageHeader header;
    std::memcpy(&header, message, sizeof header);
    return header;
}

std::string PipeMessage(const char* keyword, const std::string& payload)
{
    std::string message(PipeHeaderSize, '\0');
    WriteHeader(reinterpret_cast<uint8_t*>(message.data()), keyword, 0, static_cast<int32_t>(payload.size()));
    return message + payload;
}

}  // namespace ferrix
