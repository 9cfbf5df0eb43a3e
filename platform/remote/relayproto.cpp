#include "platform/remote/relayproto.h"

#include "base/sysutils.h"

namespace ferrix {

namespace {

void PutU32(std::string& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint32_t GetU32(const std::string& in, size_t pos)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(in[pos + i])) << (8 * i);
    return value;
}

}  // namespace

TRelayWriter& TRelayWriter::U8(uint8_t value)
{
    Body += static_cast<char>(value);
    return *this;
}

TRelayWriter& TRelayWriter::U32(uint32_t value)
{
    PutU32(Body, value);
    return *this;
}

TRelayWriter& TRelayWriter::Bytes(const std::string& value)
{
    PutU32(Body, static_cast<uint32_t>(value.size()));
    Body += value;
    return *this;
}

std::string TRelayWriter::Frame() const
{
    return RelayFrame(Body);
}

std::string RelayFrame(const std::string& body)
{
    std::string frame;
    frame.reserve(4 + body.size());
    PutU32(frame, static_cast<uint32_t>(body.size()));
    return frame + body;
}

void TRelayReader::Need(size_t count) const
{
    if (Body.size() - Pos < count)
        throw Exception("The relay message is cut short");
}

uint8_t TRelayReader::U8()
{
    Need(1);
    return static_cast<uint8_t>(Body[Pos++]);
}

uint32_t TRelayReader::U32()
{
    Need(4);
    const uint32_t value = GetU32(Body, Pos);
    Pos += 4;
    return value;
}

std::string TRelayReader::Bytes()
{
    const uint32_t size = U32();
    Need(size);
    std::string value = Body.substr(Pos, size);
    Pos += size;
    return value;
}

TRelayFrame TakeRelayFrame(std::string& buffer, std::string& body)
{
    if (buffer.size() < 4)
        return TRelayFrame::Incomplete;
    const uint32_t size = GetU32(buffer, 0);
    if (size > MaxRelayMessage)
        return TRelayFrame::Invalid;
    if (buffer.size() - 4 < size)
        return TRelayFrame::Incomplete;
    body = buffer.substr(4, size);
    buffer.erase(0, 4 + size);
    return TRelayFrame::Whole;
}

}  // namespace ferrix
