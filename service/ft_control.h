// The server endpoints of the service's two pipes: the statistics pipe (TFtrackerSrvInfo) and the
// settings pipe (TFtrackerSrvControl).
#pragma once

#include <cstdint>
#include <string>

#include "foundation/pipeproto.h"
#include "service/srvpipe.h"

using TGetStatsEvent = TPipeServerEvent<TPipeServer*, TServiceStatusInfo&>;
using TPipeNotifyEvent = TPipeServerEvent<TPipeServer*>;

// The statistics pipe: answers "REQGETSTATS" with its own counters and the service's status.
class TFtrackerSrvInfo final : public TPipeServer {
public:
    // Every user may connect.
    TFtrackerSrvInfo(const std::string& pipeName, int maxInstances);
    ~TFtrackerSrvInfo() override;

    void HandleRequest(const uint8_t* request, int requestLength, uint8_t* answer, int maxAnswer, int& answerLength,
                       bool& useDefaultAnswer) override;
    // The server's counters into the first, then OnGetStats with the second when assigned.
    void FillStatistics(TPipeStatistics& statistics, TServiceStatusInfo& status);

    // Fills the status record; on the server's thread.
    TGetStatsEvent OnGetStats;
};

// The settings pipe: sends ("REQGETCONFIG") and replaces ("REQSETCONFIG") the settings file.
class TFtrackerSrvControl final : public TPipeServer {
public:
    // configFileName is relative to the program directory. Only the service's own user and root
    // may connect.
    TFtrackerSrvControl(const std::string& pipeName, int maxInstances, const std::string& configFileName);
    ~TFtrackerSrvControl() override;

    void HandleRequest(const uint8_t* request, int requestLength, uint8_t* answer, int maxAnswer, int& answerLength,
                       bool& useDefaultAnswer) override;
    // Reads at most maxSize bytes of the settings file; count 0 when it cannot be opened or read.
    void ReadConfigFile(void* buffer, int maxSize, int& count);
    // Replaces the settings file with the bytes as a whole; false (the old file left whole) when
    // that fails or the file is read-only.
    bool WriteConfigFile(const void* buffer, int count);

    const std::string ConfigFileName;
    // Raised on the server's thread after a request wrote or read the settings file.
    TPipeNotifyEvent OnConfigUpdated;
    TPipeNotifyEvent OnConfigRetrieved;

private:
    std::string ConfigFilePath() const;
};
