#include "platform/remote/relayserver.h"

#include <cerrno>
#include <exception>
#include <unistd.h>
#include <vector>

#include "base/sysutils.h"
#include "platform/files/newfile.h"
#include "platform/namedpipe/pipeclient.h"
#include "platform/remote/relayclient.h"
#include "platform/remote/relayproto.h"
#include "platform/scm/scm.h"
#include "platform/scm/unitfiles.h"

namespace ferrix {

namespace {

std::string Failed(uint32_t code, const std::string& message)
{
    return TRelayWriter().U8(RelayFailed).U32(code).Bytes(message).Data();
}

// The requests that name a unit, always as their first field.
bool NamesUnit(TRelayOp op)
{
    return op == TRelayOp::OpenUnit || op == TRelayOp::QueryUnit || op == TRelayOp::StartUnit ||
           op == TRelayOp::StopUnit || op == TRelayOp::SetUnitAccount;
}

std::string PipeAnswer(TRelayReader& reader)
{
    const std::string pipeName = reader.Bytes();
    // A pipe of another PC would make the relay go on over SSH with its user's keys.
    std::string pc, localName;
    if (SplitRemotePipeName(pipeName, pc, localName))
        return Failed(EACCES, "The relay serves only the pipes of its own PC, not " + pipeName);
    const std::string request = reader.Bytes();
    const uint32_t outSize = reader.U32();
    if (outSize > MaxRelayMessage - 64)
        return Failed(EINVAL, "The answer buffer is too large");
    std::vector<char> answer(outSize);
    uint32_t bytesRead = 0;
    const bool ok = CallNamedPipeA(pipeName, request.data(), static_cast<uint32_t>(request.size()), answer.data(),
                                   outSize, bytesRead);
    const uint32_t error = ok ? 0 : static_cast<uint32_t>(GetLastPipeError());
    return TRelayWriter()
        .U8(RelayDone)
        .U8(ok ? 1 : 0)
        .U32(error)
        .Bytes(std::string(answer.data(), bytesRead))
        .Data();
}

}  // namespace

TRelayServer::TRelayServer(const std::string& serviceName) : ServiceName(serviceName) {}
TRelayServer::~TRelayServer() = default;

TLocalManagerCalls& TRelayServer::Manager()
{
    if (!FManager)
        FManager = std::make_unique<TLocalManagerCalls>();
    return *FManager;
}

std::string TRelayServer::ServedRequest(const std::string& request) const
{
    // A request on the service's unit goes on under the unit's full name; any other unit (a name
    // with "../" would reach files outside the unit's folder) is refused.
    TRelayReader reader(request);
    const auto op = static_cast<TRelayOp>(reader.U8());
    if (!NamesUnit(op))
        return request;
    const std::string unit = reader.Bytes();
    const std::string served = ServiceUnitName(ServiceName);
    if (unit != ServiceName && unit != served)
        throw EOSError("The relay serves only the service " + ServiceName + ", not " + unit, EACCES);
    // The fields after the unit (past the operation byte and the name with its length) stay as sent.
    return TRelayWriter().U8(static_cast<uint8_t>(op)).Bytes(served).Data() + request.substr(1 + 4 + unit.size());
}

std::string TRelayServer::Dispatch(const std::string& received)
{
    const std::string request = ServedRequest(received);
    TRelayReader reader(request);
    const auto op = static_cast<TRelayOp>(reader.U8());
    const std::string done = TRelayWriter().U8(RelayDone).Data();
    switch (op) {
    case TRelayOp::Hello:
        return TRelayWriter().U8(RelayDone).U32(RelayProtocolVersion).U32(static_cast<uint32_t>(::getpid())).Data();
    case TRelayOp::OpenManager:
        Manager();
        return done;
    case TRelayOp::OpenUnit: {
        // The rights are checked here, for the user the relay runs as.
        const std::string unit = reader.Bytes();
        Manager().OpenUnit(unit, reader.U32());
        return done;
    }
    case TRelayOp::QueryUnit: {
        const TUnitState state = Manager().QueryUnit(reader.Bytes());
        return TRelayWriter().U8(RelayDone).Bytes(state.ActiveState).Bytes(state.JobType).Data();
    }
    case TRelayOp::StartUnit:
        Manager().StartUnit(reader.Bytes());
        return done;
    case TRelayOp::StopUnit:
        Manager().StopUnit(reader.Bytes());
        return done;
    case TRelayOp::SetUnitAccount: {
        const std::string unit = reader.Bytes();
        const std::string accountName = reader.Bytes();
        Manager().SetUnitAccount(unit, accountName, reader.Bytes());
        return done;
    }
    case TRelayOp::CallPipe:
        return PipeAnswer(reader);
    }
    return Failed(EINVAL, "Unknown relay request");
}

std::string TRelayServer::Answer(const std::string& request)
{
    try {
        return Dispatch(request);
    } catch (const EOSError& e) {
        return Failed(static_cast<uint32_t>(e.ErrorCode), e.what());
    } catch (const std::exception& e) {
        return Failed(EIO, e.what());
    }
}

int TRelayServer::Run(int in, int out)
{
    std::string buffer;
    char chunk[65536];
    for (;;) {
        std::string request;
        const TRelayFrame frame = TakeRelayFrame(buffer, request);
        if (frame == TRelayFrame::Invalid)
            return 1;
        if (frame == TRelayFrame::Whole) {
            const std::string frame = RelayFrame(Answer(request));
            if (!WriteAll(out, frame.data(), frame.size()))
                return 1;
            continue;
        }
        const ssize_t n = ::read(in, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return buffer.empty() && n == 0 ? 0 : 1;
        buffer.append(chunk, static_cast<size_t>(n));
    }
}

}  // namespace ferrix
