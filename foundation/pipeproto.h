// The wire format of the service's two pipes, the one definition for the service, the console, the
// remote relay and the tests.
//
// Every message starts with a 28-byte TPipeMessageHeader; a payload follows at offset 28. All
// records are packed and little-endian; texts are NUL-terminated, the rest of the field zero.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/sysutils.h"

// The longest message either side sends: the size of the server's request and answer buffers.
constexpr int PipeMessageSize = 16384;

static_assert(std::endian::native == std::endian::little, "the pipe records are little-endian");

inline constexpr char REQGETSTATS[] = "REQGETSTATS";
inline constexpr char ANSGETSTATS[] = "ANSGETSTATS";
inline constexpr char REQGETCONFIG[] = "REQGETCONFIG";
inline constexpr char ANSGETCONFIG[] = "ANSGETCONFIG";
inline constexpr char REQSETCONFIG[] = "REQSETCONFIG";
inline constexpr char ANSSETCONFIG[] = "ANSSETCONFIG";
inline constexpr char ANSREQUNKNOWN[] = "ANSREQUNKNOWN";

// Status of an "ANSSETCONFIG" answer.
constexpr int32_t SetConfigOk = 0;
constexpr int32_t SetConfigLengthError = 1;  // declared length negative or beyond the bytes received
constexpr int32_t SetConfigWriteError = 2;   // the settings file could not be replaced (it is unchanged)

#pragma pack(push, 1)

struct TPipeMessageHeader {
    char Keyword[16] = {};
    int32_t Status = 0;
    int32_t Reserved = 0;
    int32_t DataLength = 0;
};

// The counters of a pipe server, from its start.
struct TPipeStatistics {
    SYSTEMTIME StartTime;
    uint32_t Connections = 0;
    uint32_t ConnErrors = 0;
    uint32_t Requests = 0;
    int64_t BytesReceived = 0;
    uint32_t Reserved = 0;
    uint32_t Answers = 0;
    int64_t BytesSent = 0;
    uint32_t WriteErrors = 0;
};

// The service's state as the console shows it.
struct TServiceStatusInfo {
    uint16_t Size = 0;
    uint16_t VersionMajor = 0;
    uint16_t VersionMinor = 0;
    uint16_t VersionRelease = 0;
    uint8_t Busy = 0;
    SYSTEMTIME LastEventTime;
    int32_t Reserved1 = 0;
    SYSTEMTIME LastErrorTime;
    int32_t Reserved2 = 0;
    char LastEvent[128] = {};
    char LastError[128] = {};
    char LastFileOK[65] = {};
    SYSTEMTIME LastFileOKTime;
    char LastFileBad[65] = {};
    SYSTEMTIME LastFileBadTime;
    int32_t LastCheckFilesOK = 0;
    int32_t LastCheckFilesBad = 0;
    uint32_t LastCheckElapsedMs = 0;
    SYSTEMTIME LastCheckTime;
    SYSTEMTIME NextCheckTime;
};

#pragma pack(pop)

static_assert(sizeof(TPipeMessageHeader) == 28);
static_assert(offsetof(TPipeMessageHeader, Keyword) == 0);
static_assert(offsetof(TPipeMessageHeader, Status) == 16);
static_assert(offsetof(TPipeMessageHeader, Reserved) == 20);
static_assert(offsetof(TPipeMessageHeader, DataLength) == 24);

static_assert(sizeof(TPipeStatistics) == 56);
static_assert(offsetof(TPipeStatistics, StartTime) == 0);
static_assert(offsetof(TPipeStatistics, Connections) == 16);
static_assert(offsetof(TPipeStatistics, ConnErrors) == 20);
static_assert(offsetof(TPipeStatistics, Requests) == 24);
static_assert(offsetof(TPipeStatistics, BytesReceived) == 28);
static_assert(offsetof(TPipeStatistics, Reserved) == 36);
static_assert(offsetof(TPipeStatistics, Answers) == 40);
static_assert(offsetof(TPipeStatistics, BytesSent) == 44);
static_assert(offsetof(TPipeStatistics, WriteErrors) == 52);

static_assert(sizeof(TServiceStatusInfo) == 511);
static_assert(offsetof(TServiceStatusInfo, Size) == 0);
static_assert(offsetof(TServiceStatusInfo, VersionMajor) == 2);
static_assert(offsetof(TServiceStatusInfo, VersionMinor) == 4);
static_assert(offsetof(TServiceStatusInfo, VersionRelease) == 6);
static_assert(offsetof(TServiceStatusInfo, Busy) == 8);
static_assert(offsetof(TServiceStatusInfo, LastEventTime) == 9);
static_assert(offsetof(TServiceStatusInfo, Reserved1) == 25);
static_assert(offsetof(TServiceStatusInfo, LastErrorTime) == 29);
static_assert(offsetof(TServiceStatusInfo, Reserved2) == 45);
static_assert(offsetof(TServiceStatusInfo, LastEvent) == 49);
static_assert(offsetof(TServiceStatusInfo, LastError) == 177);
static_assert(offsetof(TServiceStatusInfo, LastFileOK) == 305);
static_assert(offsetof(TServiceStatusInfo, LastFileOKTime) == 370);
static_assert(offsetof(TServiceStatusInfo, LastFileBad) == 386);
static_assert(offsetof(TServiceStatusInfo, LastFileBadTime) == 451);
static_assert(offsetof(TServiceStatusInfo, LastCheckFilesOK) == 467);
static_assert(offsetof(TServiceStatusInfo, LastCheckFilesBad) == 471);
static_assert(offsetof(TServiceStatusInfo, LastCheckElapsedMs) == 475);
static_assert(offsetof(TServiceStatusInfo, LastCheckTime) == 479);
static_assert(offsetof(TServiceStatusInfo, NextCheckTime) == 495);

// Offsets and lengths of the answers.
constexpr int PipeHeaderSize = sizeof(TPipeMessageHeader);
constexpr int PipeStatisticsOffset = PipeHeaderSize;                                   // 28
constexpr int ServiceStatusOffset = PipeStatisticsOffset + sizeof(TPipeStatistics);   // 84
constexpr int StatsAnswerLength = ServiceStatusOffset + sizeof(TServiceStatusInfo);  // 595
constexpr int MaxPipePayload = PipeMessageSize - PipeHeaderSize;                     // 16356
static_assert(StatsAnswerLength == 595 && MaxPipePayload == 16356);

// Encoding and decoding of the header, for both ends of a pipe.
namespace ferrix {

// Whether the NUL-terminated text at offset 0 of a message of at least PipeHeaderSize bytes equals
// the keyword (case-sensitive).
bool KeywordIs(const uint8_t* message, const char* keyword);
// Writes a header (keyword, status, reserved 0, data length) into the first 28 bytes of message.
void WriteHeader(uint8_t* message, const char* keyword, int32_t status, int32_t dataLength);
// The header of a message of at least PipeHeaderSize bytes.
TPipeMessageHeader ReadHeader(const uint8_t* message);
// A whole message: the header with status 0 and the payload's length, then the payload.
std::string PipeMessage(const char* keyword, const std::string& payload = "");

}  // namespace ferrix
