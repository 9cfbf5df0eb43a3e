// Statistics requests per second over the loopback pipe, as the console asks them: one
// connection per exchange, 28-byte "REQGETSTATS" and a 595-byte answer; 1 and 4 clients against a
// statistics pipe of 4 instances. The peer in the same run is a bare SOCK_SEQPACKET loop: one
// thread that accepts, reads, answers 595 bytes and closes, with clients that connect, send,
// receive and close, and nothing else (no directory look-up, no time-out, no counters).
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/files/filedescriptor.h"
#include "platform/namedpipe/pipeclient.h"
#include "service/ft_control.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TRun {
    long long Answers = 0;
    long long Failures = 0;
    double Seconds = 0;
    double PerSecond() const { return Answers / Seconds; }
};

// One exchange of a client; true when a whole answer came back.
using TExchange = std::function<bool(char* answer)>;

TRun Measure(int clients, std::chrono::milliseconds duration, const TExchange& exchange)
{
    std::atomic<long long> answers{0}, failures{0};
    const auto start = Clock::now();
    const auto end = start + duration;
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&] {
            std::vector<char> answer(PipeBufferSize);
            long long done = 0, failed = 0;
            while (Clock::now() < end) {
                if (exchange(answer.data()))
                    ++done;
                else
                    ++failed;
            }
            answers += done;
            failures += failed;
        });
    for (std::thread& t : threads)
        t.join();
    return {answers, failures, std::chrono::duration<double>(Clock::now() - start).count()};
}

sockaddr_un AddressOf(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

// The bare loop's server: serves clients one after the other until its socket is shut down.
class TBareServer {
public:
    explicit TBareServer(const std::string& path) : Address(AddressOf(path)), Listener(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0))
    {
        if (::bind(Listener.Get(), reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0 ||
            ::listen(Listener.Get(), SOMAXCONN) != 0)
            std::perror("bare server");
        Thread = std::thread([this] { Serve(); });
    }
    ~TBareServer()
    {
        ::shutdown(Listener.Get(), SHUT_RDWR);
        Thread.join();
        ::unlink(Address.sun_path);
    }
    const sockaddr_un Address;

private:
    void Serve()
    {
        char request[PipeBufferSize];
        char answer[StatsAnswerLength] = "ANSGETSTATS";
        for (;;) {
            const int client = ::accept4(Listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0 && errno == EINVAL)
                return;  // shut down
            if (client < 0)
                continue;
            if (::recv(client, request, sizeof request, 0) > 0)
                ::send(client, answer, sizeof answer, MSG_NOSIGNAL);
            ::close(client);
        }
    }

    ferrix::TFileDescriptor Listener;
    std::thread Thread;
};

bool BareExchange(const sockaddr_un& address, const TPipeMessageHeader& request, char* answer)
{
    ferrix::TFileDescriptor fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    return ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
           ::send(fd.Get(), &request, sizeof request, MSG_NOSIGNAL) == sizeof request &&
           ::recv(fd.Get(), answer, PipeBufferSize, 0) == StatsAnswerLength;
}

void Print(const char* what, int clients, const TRun& run)
{
    std::printf("%-10s %d client%s: %7.0f requests per second (%lld answers, %lld failed, %.2f s)\n", what, clients,
                clients == 1 ? " " : "s", run.PerSecond(), run.Answers, run.Failures, run.Seconds);
}

}  // namespace

// pipestats_bench [seconds [pipe|bare [clients]]]: the second argument measures one side alone
// (with 4 clients unless given), for counting its system calls (strace -c -f).
int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(std::atoi(argv[1]), 1) : 3;
    const std::string only = argc > 2 ? argv[2] : "";
    const int onlyClients = argc > 3 ? std::max(std::atoi(argv[3]), 1) : 4;
    std::string dir = (std::filesystem::temp_directory_path() / "pipestats-bench-XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr)
        return 1;
    ::setenv("NAMEDPIPE_DIR", dir.c_str(), 1);
    TPipeMessageHeader request;
    std::memcpy(request.Keyword, REQGETSTATS, sizeof REQGETSTATS);
    {
        TFtrackerSrvInfo info("BenchInfo", 4);
        info.OnGetStats = [](TPipeServer*, TServiceStatusInfo& status) { status.Size = sizeof status; };
        TBareServer bare(dir + "/Bare");
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (!std::filesystem::exists(dir + "/BenchInfo") && Clock::now() < deadline)
            std::this_thread::yield();

        const TExchange pipe = [&](char* answer) {
            uint32_t read = 0;
            return CallNamedPipeA("\\\\.\\pipe\\BenchInfo", &request, sizeof request, answer, PipeBufferSize, read) &&
                   read == StatsAnswerLength;
        };
        const TExchange loop = [&](char* answer) { return BareExchange(bare.Address, request, answer); };

        if (!only.empty()) {
            const TRun run = Measure(onlyClients, std::chrono::seconds(seconds), only == "bare" ? loop : pipe);
            Print(only == "bare" ? "bare loop" : "pipe", onlyClients, run);
            std::filesystem::remove_all(dir);
            return 0;
        }
        Measure(1, std::chrono::milliseconds(300), pipe);  // warm-up
        Measure(1, std::chrono::milliseconds(300), loop);
        for (const int clients : {1, 4}) {
            // Alternate halves, so that a change of the machine's load falls on both alike.
            TRun pipeRun, loopRun;
            for (int half = 0; half < 2; ++half) {
                const auto length = std::chrono::milliseconds(seconds * 500);
                const TRun p = Measure(clients, length, pipe);
                const TRun l = Measure(clients, length, loop);
                pipeRun = {pipeRun.Answers + p.Answers, pipeRun.Failures + p.Failures, pipeRun.Seconds + p.Seconds};
                loopRun = {loopRun.Answers + l.Answers, loopRun.Failures + l.Failures, loopRun.Seconds + l.Seconds};
            }
            Print("pipe", clients, pipeRun);
            Print("bare loop", clients, loopRun);
            std::printf("%d client%s: the bare loop answers %.2f x as many requests per second as the pipe\n", clients,
                        clients == 1 ? " " : "s", loopRun.PerSecond() / pipeRun.PerSecond());
        }
    }
    std::filesystem::remove_all(dir);
    return 0;
}
