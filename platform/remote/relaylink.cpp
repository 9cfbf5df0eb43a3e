#include "platform/remote/relaylink.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/sysutils.h"
#include "platform/network/pcname.h"
#include "platform/process/spawn.h"
#include "platform/remote/relayproto.h"

namespace ferrix {

namespace {

constexpr size_t HelloAnswerSize = 1 + 4 + 4;  // status, protocol version, relay pid
constexpr int DefaultAnswerTimeoutMs = 30000;
constexpr size_t ErrorTextLimit = 2048;

std::string EnvOr(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

int AnswerTimeoutMs()
{
    const int value = std::atoi(EnvOr("FERRIX_RELAY_TIMEOUT_MS", "0").c_str());
    return value > 0 ? value : DefaultAnswerTimeoutMs;
}

std::vector<std::string> SplitWords(const std::string& text)
{
    std::vector<std::string> words;
    std::string word;
    for (char c : text + " ") {
        if (c == ' ' || c == '\t') {
            if (!word.empty())
                words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    return words;
}

// The last non-empty line ssh wrote, without its line end.
std::string LastLine(const std::string& text)
{
    size_t end = text.find_last_not_of("\r\n");
    if (end == std::string::npos)
        return std::string();
    const size_t start = text.find_last_of('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

pid_t SpawnSsh(const std::vector<std::string>& args, int io, int errors)
{
    TSpawnOptions options;
    options.Input = io;
    options.Output = io;
    options.Error = errors;
    pid_t pid = -1;
    if (const int rc = SpawnProcess(args, options, pid); rc != 0)
        throw EOSError("Cannot run " + args.front() + ": " + std::strerror(rc), rc);
    return pid;
}

}  // namespace

TRelayLink::~TRelayLink()
{
    Close();
}

std::vector<std::string> TRelayLink::SshCommand(const std::string& pc)
{
    std::vector<std::string> args = SplitWords(EnvOr("FERRIX_SSH", "ssh"));
    for (const char* option : {"-T", "-o", "BatchMode=yes", "-o", "ConnectTimeout=10", "-e", "none", "--"})
        args.emplace_back(option);
    args.push_back(pc);
    args.push_back(EnvOr("FERRIX_RELAY", "ferrix-relay"));
    return args;
}

void TRelayLink::Close()
{
    EndConnection();
    InBackground = false;
    RetryAt = TClock::time_point();
    FailureText.clear();
}

void TRelayLink::EndConnection()
{
    const bool pending = State == TState::Connecting;
    Socket.reset();
    Errors.reset();
    Buffer.clear();
    if (Ssh > 0) {
        // ssh ends by itself once its input is closed; a connection still pending has nothing to
        // finish, and one that hangs is ended.
        if (pending)
            ::kill(Ssh, SIGTERM);
        int status = 0;
        const auto deadline = TClock::now() + std::chrono::milliseconds(500);
        while (::waitpid(Ssh, &status, WNOHANG) == 0) {
            if (TClock::now() > deadline) {
                ::kill(Ssh, SIGKILL);
                ::waitpid(Ssh, &status, 0);
                break;
            }
            ::usleep(2000);
        }
    }
    Ssh = -1;
    FRelayPid = 0;
    State = TState::Closed;
}

void TRelayLink::Fail(const std::string& what)
{
    DrainErrors();
    if (Ssh > 0)
        ::kill(Ssh, SIGTERM);
    const std::string sshSays = LastLine(ErrorText);
    EndConnection();
    throw EOSError(sshSays.empty() ? what : what + ": " + sshSays, ECONNABORTED);
}

void TRelayLink::Connect()
{
    // The name reaches ssh, and through an older client's ProxyCommand a shell.
    if (!IsValidPcName(Pc))
        throw EOSError("Cannot reach \"" + Pc + "\": " + PcNameRule, EINVAL);
    int io[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, io) != 0) {
        const int code = errno;
        throw EOSError(std::string("socketpair: ") + std::strerror(code), code);
    }
    auto socket = std::make_unique<TFileDescriptor>(io[0]);
    const TFileDescriptor sshEnd(io[1]);
    int errors[2];
    if (::pipe2(errors, O_CLOEXEC) != 0) {
        const int code = errno;
        throw EOSError(std::string("pipe: ") + std::strerror(code), code);
    }
    auto errorsRead = std::make_unique<TFileDescriptor>(errors[0]);
    const TFileDescriptor errorsWrite(errors[1]);
    ErrorText.clear();
    Ssh = SpawnSsh(SshCommand(Pc), sshEnd.Get(), errorsWrite.Get());
    ::fcntl(errorsRead->Get(), F_SETFL, O_NONBLOCK);
    Socket = std::move(socket);
    Errors = std::move(errorsRead);
    // The ssh ends of the socket and the pipe close here: only ssh holds them now.
    State = TState::Connecting;
    ConnectBy = TClock::now() + std::chrono::milliseconds(RelayConnectTimeoutMs);
    // The request waits in the socket until the relay runs.
    Send(TRelayWriter().U8(static_cast<uint8_t>(TRelayOp::Hello)).Data());
}

void TRelayLink::CheckHello(const std::string& hello)
{
    // An answer cut short is no handshake: the connection ends, and the next try starts afresh.
    if (hello.size() < HelloAnswerSize)
        Fail("The relay on " + Pc + " cut its handshake answer short");
    TRelayReader reader(hello);
    if (reader.U8() != RelayDone || reader.U32() != RelayProtocolVersion)
        Fail("The relay on " + Pc + " speaks another protocol");
    FRelayPid = static_cast<pid_t>(reader.U32());
    State = TState::Open;
}

std::string TRelayLink::EndedText() const
{
    // Before the relay has answered, ssh itself has failed.
    return State != TState::Open ? "Cannot reach " + Pc + " over SSH" : "The relay on " + Pc + " ended";
}

void TRelayLink::Send(const std::string& request)
{
    const std::string frame = RelayFrame(request);
    size_t done = 0;
    while (done < frame.size()) {
        const ssize_t n = ::send(Socket->Get(), frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (n < 0) {
            const int code = errno;
            if (code == EINTR)
                continue;
        }
        if (n <= 0)
            Fail(EndedText());
        done += static_cast<size_t>(n);
    }
}

void TRelayLink::DrainErrors()
{
    if (!Errors)
        return;
    char chunk[1024];
    ssize_t n;
    while ((n = ::read(Errors->Get(), chunk, sizeof chunk)) > 0)
        ErrorText.append(chunk, static_cast<size_t>(n));
    if (ErrorText.size() > ErrorTextLimit)
        ErrorText.erase(0, ErrorText.size() - ErrorTextLimit);
}

bool TRelayLink::TakeMessage(std::string& body)
{
    const TRelayFrame frame = TakeRelayFrame(Buffer, body);
    if (frame == TRelayFrame::Invalid)
        Fail("The relay on " + Pc + " sent an invalid message");
    return frame == TRelayFrame::Whole;
}

bool TRelayLink::ReceiveFor(int waitMs, std::string& body)
{
    if (TakeMessage(body))
        return true;
    pollfd fds[2] = {{Socket->Get(), POLLIN, 0}, {Errors ? Errors->Get() : -1, POLLIN, 0}};
    const int ready = ::poll(fds, Errors ? 2 : 1, waitMs);
    if (ready < 0) {
        const int code = errno;
        if (code != EINTR)
            Fail("Waiting for " + Pc + " failed: " + std::strerror(code));
        return false;
    }
    if (ready > 0 && Errors && fds[1].revents != 0) {
        DrainErrors();
        if ((fds[1].revents & POLLIN) == 0)  // ssh closed its standard error
            Errors.reset();
    }
    if (ready > 0 && fds[0].revents != 0) {
        char chunk[65536];
        const ssize_t n = ::recv(Socket->Get(), chunk, sizeof chunk, MSG_DONTWAIT);
        const int code = n < 0 ? errno : 0;
        if (n == 0 || (n < 0 && code != EINTR && code != EAGAIN))
            Fail(EndedText());
        if (n > 0)
            Buffer.append(chunk, static_cast<size_t>(n));
    }
    return TakeMessage(body);
}

std::string TRelayLink::Receive(int timeoutMs)
{
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    std::string body;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count();
        if (ReceiveFor(static_cast<int>(left > 0 ? left : 0), body))
            return body;
        if (TClock::now() >= deadline)
            Fail(Pc + " did not answer within " + std::to_string(timeoutMs) + " ms");
    }
}

std::string TRelayLink::Exchange(const std::string& request)
{
    if (State != TState::Open) {
        if (InBackground)
            throw EOSError("No connection to " + Pc + " is open", ENOTCONN);
        Connect();
        CheckHello(Receive(RelayConnectTimeoutMs));
    }
    Send(request);
    return Receive(AnswerTimeoutMs());
}

TRelayReach TRelayLink::Reach(std::string& why)
{
    InBackground = true;
    try {
        if (State == TState::Closed) {
            if (TClock::now() < RetryAt) {
                why = FailureText;
                return TRelayReach::Failed;
            }
            Connect();
        }
        std::string hello;
        if (State == TState::Connecting && ReceiveFor(0, hello))
            CheckHello(hello);
        else if (State == TState::Connecting && TClock::now() >= ConnectBy)
            Fail(Pc + " did not answer within " + std::to_string(RelayConnectTimeoutMs) + " ms");
    } catch (const std::exception& e) {
        FailureText = e.what();
        RetryAt = TClock::now() + std::chrono::milliseconds(RelayRetryPauseMs);
        why = FailureText;
        return TRelayReach::Failed;
    }
    return State == TState::Open ? TRelayReach::Ready : TRelayReach::Connecting;
}

}  // namespace ferrix
