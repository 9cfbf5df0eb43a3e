#include "platform/remote/relayclient.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <unistd.h>

#include "base/sysutils.h"
#include "platform/namedpipe/pipename.h"
#include "platform/remote/relayproto.h"
#include "platform/scm/scm.h"

namespace ferrix {

namespace {

// The links, one per PC, each used by one call at a time.
struct TLinkEntry {
    std::mutex Lock;
    TRelayLink Link;
    explicit TLinkEntry(const std::string& pc) : Link(pc) {}
};

std::mutex LinksLock;
std::map<std::string, std::unique_ptr<TLinkEntry>>& Links()
{
    static std::map<std::string, std::unique_ptr<TLinkEntry>> links;
    return links;
}

TLinkEntry& LinkOf(const std::string& pc)
{
    const std::string key = LowerCase(pc);
    std::lock_guard<std::mutex> guard(LinksLock);
    auto& entry = Links()[key];
    if (!entry)
        entry = std::make_unique<TLinkEntry>(pc);
    return *entry;
}

// One request to pc; a failed answer raises EOSError with the other PC's text.
std::string Call(const std::string& pc, const TRelayWriter& request)
{
    TLinkEntry& entry = LinkOf(pc);
    std::string answer;
    {
        std::lock_guard<std::mutex> guard(entry.Lock);
        answer = entry.Link.Exchange(request.Data());
    }
    TRelayReader reader(answer);
    if (reader.U8() != RelayDone) {
        const uint32_t code = reader.U32();
        throw EOSError(reader.Bytes(), static_cast<int>(code));
    }
    return answer.substr(1);
}

// The PC of a machine name, with or without a leading "\\\\".
std::string PcOf(const std::string& machineName)
{
    return machineName.rfind("\\\\", 0) == 0 ? machineName.substr(2) : machineName;
}

TRelayWriter Request(TRelayOp op)
{
    TRelayWriter writer;
    writer.U8(static_cast<uint8_t>(op));
    return writer;
}

class TRemoteManagerCalls : public TManagerCalls {
public:
    explicit TRemoteManagerCalls(const std::string& pc) : Pc(pc) { Call(Pc, Request(TRelayOp::OpenManager)); }
    void OpenUnit(const std::string& unit, uint32_t access) override
    {
        Call(Pc, Request(TRelayOp::OpenUnit).Bytes(unit).U32(access));
    }
    TUnitState QueryUnit(const std::string& unit) override
    {
        const std::string answer = Call(Pc, Request(TRelayOp::QueryUnit).Bytes(unit));
        TRelayReader reader(answer);
        TUnitState state;
        state.ActiveState = reader.Bytes();
        state.JobType = reader.Bytes();
        return state;
    }
    void StartUnit(const std::string& unit) override { Call(Pc, Request(TRelayOp::StartUnit).Bytes(unit)); }
    void StopUnit(const std::string& unit) override { Call(Pc, Request(TRelayOp::StopUnit).Bytes(unit)); }
    void SetUnitAccount(const std::string& unit, const std::string& accountName, const std::string& password) override
    {
        // The relay on that PC checks the password there.
        Call(Pc, Request(TRelayOp::SetUnitAccount).Bytes(unit).Bytes(accountName).Bytes(password));
    }

private:
    std::string Pc;
};

}  // namespace

bool IsThisPc(const std::string& pc)
{
    if (pc.empty() || pc == ".")
        return true;
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    return SameText(pc, host);
}

std::unique_ptr<TManagerCalls> OpenRemoteManager(const std::string& pc)
{
    return std::make_unique<TRemoteManagerCalls>(pc);
}

bool SplitRemotePipeName(const std::string& pipeName, std::string& pc, std::string& localName)
{
    std::string computer, name;
    if (!SplitPipeName(pipeName, computer, name) || IsThisPc(computer))
        return false;
    pc = computer;
    localName = "\\\\.\\pipe\\" + name;
    return true;
}

bool RelayCallNamedPipe(const std::string& pc, const std::string& localName, const void* inBuffer, uint32_t inSize,
                        void* outBuffer, uint32_t outSize, uint32_t& bytesRead)
{
    bytesRead = 0;
    try {
        const std::string answer = Call(pc, Request(TRelayOp::CallPipe)
                                                .Bytes(localName)
                                                .Bytes(std::string(static_cast<const char*>(inBuffer), inSize))
                                                .U32(outSize));
        TRelayReader reader(answer);
        const bool ok = reader.U8() != 0;
        const int error = static_cast<int>(reader.U32());
        const std::string data = reader.Bytes();
        bytesRead = static_cast<uint32_t>(std::min<size_t>(data.size(), outSize));
        std::memcpy(outBuffer, data.data(), bytesRead);
        SetLastPipeError(ok ? 0 : error);
        return ok;
    } catch (const std::exception& e) {
        SetRemotePipeError(e.what());
        return false;
    }
}

pid_t RelayProcessId(const std::string& pc)
{
    TLinkEntry& entry = LinkOf(pc);
    std::lock_guard<std::mutex> guard(entry.Lock);
    return entry.Link.RelayPid();
}

TRelayReach ReachPc(const std::string& machineName, std::string& why)
{
    const std::string pc = PcOf(machineName);
    if (IsThisPc(pc))
        return TRelayReach::Ready;
    TLinkEntry& entry = LinkOf(pc);
    std::lock_guard<std::mutex> guard(entry.Lock);
    return entry.Link.Reach(why);
}

void CloseRelayLink(const std::string& machineName)
{
    TLinkEntry* entry = nullptr;
    {
        std::lock_guard<std::mutex> guard(LinksLock);
        const auto found = Links().find(LowerCase(PcOf(machineName)));
        if (found == Links().end())
            return;
        entry = found->second.get();
    }
    // Entries live as long as the program, so the entry stays valid without the map's lock.
    std::lock_guard<std::mutex> guard(entry->Lock);
    entry->Link.Close();
}

void CloseRelayLinks()
{
    std::lock_guard<std::mutex> guard(LinksLock);
    for (auto& [pc, entry] : Links()) {
        std::lock_guard<std::mutex> linkGuard(entry->Lock);
        entry->Link.Close();
    }
}

}  // namespace ferrix
