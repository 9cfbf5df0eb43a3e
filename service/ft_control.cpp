#include "service/ft_control.h"

#include <algorithm>
#include <cstring>

#include "foundation/sds.h"
#include "platform/files/filecontent.h"
#include "platform/files/findfile.h"

namespace {

using ferrix::KeywordIs;
using ferrix::WriteHeader;

// Every answer of the endpoints is built from a zeroed buffer; unknown requests get a bare header.
void StartAnswer(uint8_t* answer, int maxAnswer, int& answerLength, bool& useDefaultAnswer)
{
    useDefaultAnswer = false;
    std::memset(answer, 0, static_cast<size_t>(maxAnswer));
    WriteHeader(answer, ANSREQUNKNOWN, 0, 0);
    answerLength = PipeHeaderSize;
}

}  // namespace

// ---- statistics pipe

TFtrackerSrvInfo::TFtrackerSrvInfo(const std::string& pipeName, int maxInstances)
    : TPipeServer(pipeName, maxInstances, &PipeSecurityAttributes, TDeferredStart{})
{
    Start();
}

TFtrackerSrvInfo::~TFtrackerSrvInfo()
{
    StopAndWait();
}

void TFtrackerSrvInfo::HandleRequest(const uint8_t* request, int requestLength, uint8_t* answer, int maxAnswer,
                                     int& answerLength, bool& useDefaultAnswer)
{
    StartAnswer(answer, maxAnswer, answerLength, useDefaultAnswer);
    if (requestLength < PipeHeaderSize || !KeywordIs(request, REQGETSTATS))
        return;
    TPipeStatistics statistics;
    TServiceStatusInfo status;
    FillStatistics(statistics, status);
    WriteHeader(answer, ANSGETSTATS, 0, StatsAnswerLength - PipeHeaderSize);
    std::memcpy(answer + PipeStatisticsOffset, &statistics, sizeof statistics);
    std::memcpy(answer + ServiceStatusOffset, &status, sizeof status);
    answerLength = StatsAnswerLength;
}

void TFtrackerSrvInfo::FillStatistics(TPipeStatistics& statistics, TServiceStatusInfo& status)
{
    GetStatistics(&statistics);
    OnGetStats.Raise(this, status);
}

// ---- settings pipe

TFtrackerSrvControl::TFtrackerSrvControl(const std::string& pipeName, int maxInstances, const std::string& configFileName)
    : TPipeServer(pipeName, maxInstances, &OwnerPipeSecurityAttributes, TDeferredStart{}),
      ConfigFileName(configFileName)
{
    Start();
}

TFtrackerSrvControl::~TFtrackerSrvControl()
{
    StopAndWait();
}

std::string TFtrackerSrvControl::ConfigFilePath() const
{
    return ferrix::LocalPath(IncludeTrailingPathDelimiter(AppDir()) + ConfigFileName);
}

void TFtrackerSrvControl::HandleRequest(const uint8_t* request, int requestLength, uint8_t* answer, int maxAnswer,
                                        int& answerLength, bool& useDefaultAnswer)
{
    StartAnswer(answer, maxAnswer, answerLength, useDefaultAnswer);
    if (requestLength < PipeHeaderSize)
        return;
    if (KeywordIs(request, REQGETCONFIG)) {
        int count = 0;
        ReadConfigFile(answer + PipeHeaderSize, std::min(MaxPipePayload, maxAnswer - PipeHeaderSize), count);
        WriteHeader(answer, ANSGETCONFIG, 0, count);
        answerLength = PipeHeaderSize + count;
    } else if (KeywordIs(request, REQSETCONFIG)) {
        const int32_t length = ferrix::ReadHeader(request).DataLength;
        int32_t status = SetConfigOk;
        if (length < 0 || PipeHeaderSize + static_cast<int64_t>(length) > requestLength)
            status = SetConfigLengthError;
        else if (!WriteConfigFile(request + PipeHeaderSize, length))
            status = SetConfigWriteError;
        WriteHeader(answer, ANSSETCONFIG, status, 0);
    }
}

void TFtrackerSrvControl::ReadConfigFile(void* buffer, int maxSize, int& count)
{
    count = 0;
    std::string content;
    if (!ferrix::ReadFileContent(ConfigFilePath(), content))
        return;  // no file to send
    count = static_cast<int>(std::min(content.size(), static_cast<size_t>(std::max(maxSize, 0))));
    std::memcpy(buffer, content.data(), static_cast<size_t>(count));
    try {
        OnConfigRetrieved.Raise(this);
    } catch (...) {
        // A failing handler does not change the answer.
    }
}

bool TFtrackerSrvControl::WriteConfigFile(const void* buffer, int count)
{
    // A read-only file (no owner write bit) is left as it is, also where root could open it.
    const std::string path = ConfigFilePath();
    const int attributes = GetFileAttributes(path);
    if (attributes != -1 && (attributes & faReadOnly) != 0)
        return false;
    // A temporary file renamed over the settings file: a failed write leaves the old file whole.
    // A new file holds passwords: only its owner may read it.
    ferrix::TReplaceOptions options;
    options.NewFileMode = 0600;
    if (!ferrix::ReplaceFileContent(path, buffer, static_cast<size_t>(std::max(count, 0)), options))
        return false;
    try {
        OnConfigUpdated.Raise(this);
    } catch (...) {
        // A failing handler does not change the answer.
    }
    return true;
}
