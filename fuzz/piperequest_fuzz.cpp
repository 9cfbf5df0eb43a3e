// Arbitrary requests for the handlers of both pipe endpoints: every answer must be a whole,
// well-formed message, and a settings write must store exactly the bytes it declares.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "foundation/sds.h"
#include "service/ft_control.h"

namespace {

std::string MakeWorkDirectory()
{
    const std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string templ = base + "/piperequest-fuzz-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr)
        std::abort();
    return templ;
}

struct TEndpoints {
    TEndpoints()
        : Dir(MakeWorkDirectory()), ConfigPath(Dir + "/ferrix.ini")
    {
        ::setenv("NAMEDPIPE_DIR", (Dir + "/pipes").c_str(), 1);
        Info = std::make_unique<TFtrackerSrvInfo>("FuzzInfo", 1);
        Control = std::make_unique<TFtrackerSrvControl>(
            "FuzzControl", 1, std::filesystem::relative(ConfigPath, AppDir()).string());
        Info->OnGetStats = [](TPipeServer*, TServiceStatusInfo& status) { status.Size = sizeof status; };
        // Stopped servers: the handlers run on this thread alone.
        Info->Stop();
        Info->WaitFor();
        Control->Stop();
        Control->WaitFor();
    }
    ~TEndpoints()
    {
        Info.reset();
        Control.reset();
        std::error_code ec;
        std::filesystem::remove_all(Dir, ec);
    }

    std::string Dir;
    std::string ConfigPath;
    std::unique_ptr<TFtrackerSrvInfo> Info;
    std::unique_ptr<TFtrackerSrvControl> Control;
};

TEndpoints& Endpoints()
{
    static TEndpoints endpoints;
    return endpoints;
}

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

bool IsAnswerKeyword(const char* keyword)
{
    for (const char* known : {ANSGETSTATS, ANSGETCONFIG, ANSSETCONFIG, ANSREQUNKNOWN})
        if (std::strncmp(keyword, known, 16) == 0)
            return true;
    return false;
}

std::string FileContent(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::array<uint8_t, PipeBufferSize> Request;
std::array<uint8_t, PipeBufferSize> Answer;

void Serve(TPipeServer& server, int length)
{
    Answer.fill(0xA5);
    int answerLength = -1;
    bool useDefaultAnswer = true;
    server.HandleRequest(Request.data(), length, Answer.data(), PipeBufferSize, answerLength, useDefaultAnswer);
    Check(!useDefaultAnswer);
    Check(answerLength >= PipeHeaderSize && answerLength <= PipeBufferSize);
    TPipeMessageHeader header;
    std::memcpy(&header, Answer.data(), sizeof header);
    Check(IsAnswerKeyword(header.Keyword));
    Check(header.Reserved == 0);
    Check(header.DataLength == answerLength - PipeHeaderSize);
    Check(header.Status >= SetConfigOk && header.Status <= SetConfigWriteError);
    for (int i = answerLength; i < PipeBufferSize; ++i)
        Check(Answer[i] == 0);
    if (std::strcmp(header.Keyword, ANSSETCONFIG) == 0 && header.Status == SetConfigOk) {
        int32_t declared = 0;
        std::memcpy(&declared, Request.data() + offsetof(TPipeMessageHeader, DataLength), sizeof declared);
        Check(FileContent(Endpoints().ConfigPath) ==
              std::string(reinterpret_cast<const char*>(Request.data()) + PipeHeaderSize, static_cast<size_t>(declared)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;  // the server never hands an empty message to a handler
    const size_t length = std::min<size_t>(size, PipeBufferSize);
    Request.fill(0);
    std::memcpy(Request.data(), data, length);
    Serve(*Endpoints().Info, static_cast<int>(length));
    Serve(*Endpoints().Control, static_cast<int>(length));
    return 0;
}
