// The messages between a console and the relay on another PC: each is a 32-bit little-endian
// length followed by that many bytes. A request starts with its operation byte; an answer with
// a status byte (0: done, then the operation's results; 1: failed, then the error code and text).
// Numbers are 32-bit little-endian, texts and byte strings a 32-bit length and the bytes.
#pragma once

#include <cstdint>
#include <string>

namespace ferrix {

enum class TRelayOp : uint8_t {
    Hello = 1,       // -> protocol version, relay pid
    OpenManager,     // -> nothing
    OpenUnit,        // unit, access rights -> nothing
    QueryUnit,       // unit -> ActiveState, job type
    StartUnit,       // unit -> nothing
    StopUnit,        // unit -> nothing
    SetUnitAccount,  // unit, account name, password -> nothing
    CallPipe,        // local pipe name, request bytes, answer size -> ok byte, pipe error, answer bytes
};

constexpr uint32_t RelayProtocolVersion = 3;
constexpr uint32_t MaxRelayMessage = 1u << 20;
constexpr uint8_t RelayDone = 0;
constexpr uint8_t RelayFailed = 1;

class TRelayWriter {
public:
    TRelayWriter& U8(uint8_t value);
    TRelayWriter& U32(uint32_t value);
    TRelayWriter& Bytes(const std::string& value);
    const std::string& Data() const { return Body; }
    // The body with its length in front, as sent.
    std::string Frame() const;

private:
    std::string Body;
};

// Reads fields in order; a message that ends early raises Exception.
class TRelayReader {
public:
    explicit TRelayReader(const std::string& body) : Body(body) {}
    uint8_t U8();
    uint32_t U32();
    std::string Bytes();

private:
    void Need(size_t count) const;
    const std::string& Body;
    size_t Pos = 0;
};

// A body with its length in front, as sent.
std::string RelayFrame(const std::string& body);

enum class TRelayFrame { Incomplete, Whole, Invalid };
// Takes the first whole message off the front of buffer into body.
TRelayFrame TakeRelayFrame(std::string& buffer, std::string& body);

}  // namespace ferrix
