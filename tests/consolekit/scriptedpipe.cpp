#include "scriptedpipe.h"
#include <gtest/gtest.h>
#include "foundation/pipeproto.h"
#include "pipekit.h"

namespace {

const TPipeSecurityDescriptor AnyUser{0666, false};
const TSecurityAttributes AnyUserAttributes{sizeof(TSecurityAttributes), &AnyUser, false};

}  // namespace

ScriptedPipeServer::ScriptedPipeServer(const std::string& name)
{
    if (!Stop.Create() || !Pipe.Create(LocalPipeName(name), &AnyUserAttributes)) {
        ADD_FAILURE() << "cannot serve the pipe " << name << ": " << ferrix::PipeErrorMessage(GetLastPipeError());
        return;
    }
    Thread = std::thread([this] { Serve(); });
}

ScriptedPipeServer::~ScriptedPipeServer()
{
    Stop.SetEvent();
    if (Thread.joinable())
        Thread.join();
    Pipe.Close();
}

void ScriptedPipeServer::SetAnswer(const std::string& answer)
{
    std::lock_guard<std::mutex> guard(Lock);
    Answer = answer;
}

std::vector<std::string> ScriptedPipeServer::Requests() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Received;
}

TPipeIo ScriptedPipeServer::Finish(TNamedPipeInstance& instance, TPipeIo result, uint32_t& count)
{
    TWaitHandle* handles[] = {Stop.Handle(), instance.Event()};
    while (result == TPipeIo::Pending) {
        if (WaitForAnyObject(handles) != 1)
            return TPipeIo::Failed;
        result = instance.GetOverlappedResult(count);
    }
    return result;
}

void ScriptedPipeServer::Serve()
{
    TNamedPipeInstance instance;
    instance.Open(Pipe);
    std::string buffer(PipeMessageSize, '\0');
    while (!Stop.IsSet()) {
        uint32_t count = 0;
        TPipeIo result = Finish(instance, instance.ConnectNamedPipe(), count);
        if (result == TPipeIo::Refused)
            continue;
        if (result != TPipeIo::Completed)
            break;
        if (Finish(instance, instance.ReadFile(buffer.data(), PipeMessageSize, count), count) == TPipeIo::Completed) {
            std::string answer;
            {
                std::lock_guard<std::mutex> guard(Lock);
                Received.push_back(buffer.substr(0, count));
                answer = Answer;
            }
            Finish(instance, instance.WriteFile(answer.data(), static_cast<uint32_t>(answer.size()), count), count);
        }
        instance.DisconnectNamedPipe();
    }
    instance.Close();
}
