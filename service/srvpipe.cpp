#include "service/srvpipe.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <span>

#include "foundation/debuglog.h"
#include "platform/time/timezone.h"
#include "service/ft_control.h"

TSecurityAttributes PipeSecurityAttributes;
TSecurityAttributes OwnerPipeSecurityAttributes;

namespace {

// The statistics socket is open to every user, but a user other than root and the service's own
// holds at most 2 of its instances, so that such a user cannot keep those two out; the settings
// socket only to its own user and root (and the peer check refuses everyone else all the same).
constexpr int MaxInstancesPerOtherUser = 2;
const TPipeSecurityDescriptor AnyUserDescriptor{0666, false, MaxInstancesPerOtherUser};
const TPipeSecurityDescriptor OwnerDescriptor{0600, true};

// Runs at program start.
[[maybe_unused]] const bool PipeSecurityReady = (InitPipeSecurity(), true);

// After a failed wait the loop pauses this long (or until stopped) instead of spinning.
constexpr int WaitErrorPauseMs = 500;
// Operations of one instance that complete at once are followed without a new wait, up to this
// many, so that one busy client cannot hold up the others.
constexpr int StepsWithoutWait = 4;

using Clock = std::chrono::steady_clock;

}  // namespace

void InitPipeSecurity()
{
    PipeSecurityAttributes = {sizeof(TSecurityAttributes), &AnyUserDescriptor, false};
    OwnerPipeSecurityAttributes = {sizeof(TSecurityAttributes), &OwnerDescriptor, false};
}

TPipeServer::TPipeServer(const std::string& pipeName, int maxInstances, const TSecurityAttributes* securityAttributes)
    : TPipeServer(pipeName, maxInstances, securityAttributes, TDeferredStart{})
{
    Start();
}

TPipeServer::TPipeServer(const std::string& pipeName, int maxInstances, const TSecurityAttributes* securityAttributes,
                         TDeferredStart)
    : FInstanceCount(std::clamp(maxInstances, 0, MaxPipeInstances)),
      SecurityAttributes(securityAttributes),
      FPipeName("\\\\.\\pipe\\" + pipeName),
      Instances(std::make_unique<TPipeInstance[]>(static_cast<size_t>(FInstanceCount))),
      Statistics(std::make_unique<TPipeStatistics>())
{
    if (!TerminateEvent.Create())
        throw EOSError("Failed to create event object: " + ferrix::PipeErrorMessage(GetLastPipeError()), GetLastPipeError());
}

TPipeServer::~TPipeServer()
{
    StopAndWait();
}

void TPipeServer::Start()
{
    // The pipe is created before the thread, so that a name another server already serves fails the
    // construction instead of leaving a server that serves nothing.
    if (FInstanceCount > 0 && !Pipe.Create(FPipeName, SecurityAttributes)) {
        const int error = GetLastPipeError();
        throw EOSError("Failed to create pipe instance: " + ferrix::PipeErrorMessage(error), error);
    }
    Thread = std::thread([this] { Execute(); });
}

void TPipeServer::Stop()
{
    Terminated = true;
    if (!TerminateEvent.IsSet())
        TerminateEvent.SetEvent();
}

void TPipeServer::WaitFor()
{
    if (Thread.joinable())
        Thread.join();
}

void TPipeServer::StopAndWait()
{
    Stop();
    WaitFor();
}

void TPipeServer::GetStatistics(void* destination) const
{
    std::memcpy(destination, Statistics.get(), sizeof(TPipeStatistics));
}

void TPipeServer::HandleRequest(const uint8_t*, int, uint8_t*, int, int&, bool&)
{
}

void TPipeServer::Execute()
{
    try {
        if (CreateInstances()) {
            const std::span<TWaitHandle* const> handles(WaitHandles.data(), static_cast<size_t>(FInstanceCount) + 1);
            TReadyHandles ready;
            while (!Terminated) {
                const int result = WaitForAnyObject(handles, NextTimeoutMs(), &ready);
                if (result == 0)
                    break;
                if (result >= 1 && result <= MaxPipeInstances) {
                    // Every instance found ready in this wait, lowest first: first those that
                    // take a new client, so that its answer does not wait for the closing of
                    // connections whose clients have gone.
                    for (const bool connecting : {true, false})
                        for (int i = result; i <= MaxPipeInstances; ++i) {
                            if (!ready[static_cast<size_t>(i)])
                                continue;
                            if (i - 1 >= FInstanceCount) {
                                if (!connecting)
                                    WriteLog(3, "Wrong pipe index");
                            } else if ((Instances[i - 1].State == 0) == connecting) {
                                ServeInstance(i - 1);
                                ready.reset(static_cast<size_t>(i));
                            }
                        }
                } else if (result != WAIT_TIMEOUT) {
                    WriteLog(3, "Wait error : ");
                    TerminateEvent.WaitFor(WaitErrorPauseMs);
                }
                DropLateClients();
            }
        }
    } catch (const std::exception& e) {
        WriteLog(3, e.what());
    }
    CloseInstances();
}

void TPipeServer::ServeInstance(int index)
{
    for (int step = 0; step < StepsWithoutWait; ++step) {
        if (CompletePendingIo(index))
            StartNextIo(index);
        if (!Instances[index].Pipe.Signalled())
            return;
    }
}

// Until the earliest deadline of a pending read or write; -1 when there is none.
int TPipeServer::NextTimeoutMs() const
{
    bool any = false;
    Clock::time_point earliest{};
    for (int i = 0; i < FInstanceCount; ++i) {
        const TPipeInstance& instance = Instances[i];
        if (instance.PendingIo && instance.State != 0 && (!any || instance.Deadline < earliest)) {
            earliest = instance.Deadline;
            any = true;
        }
    }
    if (!any)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(earliest - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A client that has not sent its request in time is a failed connection; one that does not take
// its answer in time, a failed write. Either way the instance listens again.
void TPipeServer::DropLateClients()
{
    const Clock::time_point now = Clock::now();
    for (int i = 0; i < FInstanceCount; ++i) {
        TPipeInstance& instance = Instances[i];
        if (!instance.PendingIo || instance.State == 0 || now < instance.Deadline)
            continue;
        if (instance.State == 1)
            ++Statistics->ConnErrors;
        else
            ++Statistics->WriteErrors;
        DisconnectAndReconnect(i);
    }
}

bool TPipeServer::CreateInstances()
{
    *Statistics = TPipeStatistics{};
    Statistics->StartTime = DateTimeToSystemTime(Now());
    WaitHandles[0] = TerminateEvent.Handle();
    if (FInstanceCount == 0)
        return true;
    // One listening socket serves every instance of the pipe.
    if (!Pipe.Created() && !Pipe.Create(FPipeName, SecurityAttributes)) {
        WriteLog(3, "Failed to create pipe instance: " + ferrix::PipeErrorMessage(GetLastPipeError()));
        return false;
    }
    // Every instance is open before the first accept, so that the pipe counts them all when it
    // judges a client.
    for (int i = 0; i < FInstanceCount; ++i) {
        Instances[i].Pipe.Open(Pipe);
        WaitHandles[i + 1] = Instances[i].Pipe.Event();
    }
    for (int i = 0; i < FInstanceCount; ++i)
        ConnectToNewClient(i);
    return true;
}

void TPipeServer::CloseInstances()
{
    for (int i = FInstanceCount - 1; i >= 0; --i) {
        TNamedPipeInstance& pipe = Instances[i].Pipe;
        if (!pipe.Opened())
            continue;
        pipe.CancelIo();
        pipe.DisconnectNamedPipe();
        pipe.Close();
    }
    Pipe.Close();
}

void TPipeServer::ConnectToNewClient(int index)
{
    TPipeInstance& instance = Instances[index];
    bool pending = false;
    switch (instance.Pipe.ConnectNamedPipe()) {
    case TPipeIo::Completed:
        // A client was already waiting: the wait loop serves it at once.
        ++Statistics->Connections;
        instance.Pipe.SetEvent();
        break;
    case TPipeIo::Pending:
        pending = true;
        break;
    case TPipeIo::Refused:
        // A client the pipe does not admit was closed; the instance listens on.
        ++Statistics->ConnErrors;
        pending = true;
        break;
    case TPipeIo::Failed:
        ++Statistics->ConnErrors;
        WriteLog(3, "Cleint listening failed: " + ferrix::PipeErrorMessage(GetLastPipeError()));
        break;
    }
    instance.PendingIo = pending;
    instance.State = pending ? 0 : 1;
    instance.Answered = false;
}

bool TPipeServer::CompletePendingIo(int index)
{
    TPipeInstance& instance = Instances[index];
    if (!instance.PendingIo)
        return true;
    uint32_t count = 0;
    const TPipeIo result = instance.Pipe.GetOverlappedResult(count);
    if (result == TPipeIo::Pending)
        return false;  // woken before the operation could finish: keep waiting
    const bool done = result == TPipeIo::Completed;
    switch (instance.State) {
    case 0:
        if (!done) {
            ++Statistics->ConnErrors;
            DisconnectAndReconnect(index);
            return false;
        }
        ++Statistics->Connections;
        instance.State = 1;
        break;
    case 1:
        if (!done || count == 0) {
            DisconnectAndReconnect(index);
            return false;
        }
        ++Statistics->Requests;
        Statistics->BytesReceived += count;
        instance.RequestLength = count;
        instance.RequestFilled = count;
        instance.State = 2;
        break;
    case 2:
        if (!done || count != static_cast<uint32_t>(instance.AnswerLength)) {
            ++Statistics->WriteErrors;
            DisconnectAndReconnect(index);
            return false;
        }
        ++Statistics->Answers;
        Statistics->BytesSent += count;
        instance.State = 1;
        instance.Answered = true;
        break;
    }
    return true;
}

void TPipeServer::StartNextIo(int index)
{
    TPipeInstance& instance = Instances[index];
    uint32_t count = 0;
    switch (instance.State) {
    case 1: {
        // The buffer is all zero before each read: only what the last read filled is cleared.
        instance.RequestLength = 0;
        std::fill_n(instance.Request.begin(), instance.RequestFilled, uint8_t{0});
        instance.RequestFilled = PipeBufferSize;  // until a read tells how much it filled
        // Right after an answer the client cannot have sent its next request: wait for it
        // instead of looking first.
        const TPipeIo result = instance.Pipe.ReadFile(instance.Request.data(), PipeBufferSize, count, !instance.Answered);
        if (result == TPipeIo::Completed && count > 0) {
            ++Statistics->Requests;
            Statistics->BytesReceived += count;
            instance.RequestLength = count;
            instance.RequestFilled = count;
            instance.PendingIo = false;
            instance.State = 2;
        } else if (result == TPipeIo::Pending) {
            instance.PendingIo = true;
            instance.Deadline = Clock::now() + std::chrono::milliseconds(ClientTimeoutMs.load());
        } else {
            DisconnectAndReconnect(index);
        }
        break;
    }
    case 2: {
        if (!BuildAnswer(index)) {
            DisconnectAndReconnect(index);
            break;
        }
        const TPipeIo result = instance.Pipe.WriteFile(instance.Answer.data(),
                                                       static_cast<uint32_t>(instance.AnswerLength), count);
        if (result == TPipeIo::Completed && count == static_cast<uint32_t>(instance.AnswerLength)) {
            ++Statistics->Answers;
            Statistics->BytesSent += count;
            instance.PendingIo = false;
            instance.State = 1;
            instance.Answered = true;
        } else if (result == TPipeIo::Pending) {
            instance.PendingIo = true;
            instance.Deadline = Clock::now() + std::chrono::milliseconds(ClientTimeoutMs.load());
        } else {
            ++Statistics->WriteErrors;
            DisconnectAndReconnect(index);
        }
        break;
    }
    default:
        WriteLog(3, "Wrong pipe state");
        break;
    }
}

void TPipeServer::DisconnectAndReconnect(int index)
{
    Instances[index].Pipe.DisconnectNamedPipe();
    ConnectToNewClient(index);
}

// False when no answer can be sent: the handler raised (logged), or its answer length is not
// within the buffer (counted as a failed write).
bool TPipeServer::BuildAnswer(int index)
{
    TPipeInstance& instance = Instances[index];
    bool useDefaultAnswer = true;
    try {
        HandleRequest(instance.Request.data(), static_cast<int>(instance.RequestLength), instance.Answer.data(),
                      PipeBufferSize, instance.AnswerLength, useDefaultAnswer);
    } catch (const std::exception& e) {
        WriteLog(3, e.what());
        return false;
    }
    if (useDefaultAnswer) {
        const TDateTimeParts now = DecodeDateTime(Now());
        const char separator = ferrix::LocaleTimeSeparator();
        const std::string text = Format("ACK %d bytes %02d%c%02d%c%02d", static_cast<int>(instance.RequestLength),
                                        now.Hour, separator, now.Minute, separator, now.Second);
        std::memcpy(instance.Answer.data(), text.c_str(), text.size() + 1);
        instance.AnswerLength = static_cast<int>(text.size());
    }
    if (instance.AnswerLength < 0 || instance.AnswerLength > PipeBufferSize) {
        ++Statistics->WriteErrors;
        return false;
    }
    return true;
}
