// Statistics requests per second over the loopback pipe, as the console asks them: one
// connection per exchange, 28-byte "REQGETSTATS" and a 595-byte answer; 1 and 4 clients against a
// statistics pipe of 4 instances.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "service/ft_control.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TRun {
    long long Answers = 0;
    long long Failures = 0;
    double Seconds = 0;
};

TRun Measure(int clients, std::chrono::milliseconds duration)
{
    TPipeMessageHeader request;
    std::memcpy(request.Keyword, REQGETSTATS, sizeof REQGETSTATS);
    std::atomic<long long> answers{0}, failures{0};
    const auto start = Clock::now();
    const auto end = start + duration;
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&] {
            std::vector<char> answer(PipeBufferSize);
            long long done = 0, failed = 0;
            while (Clock::now() < end) {
                uint32_t read = 0;
                if (CallNamedPipeA("\\\\.\\pipe\\BenchInfo", &request, sizeof request, answer.data(), PipeBufferSize, read) &&
                    read == StatsAnswerLength)
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

}  // namespace

int main()
{
    std::string dir = (std::filesystem::temp_directory_path() / "pipestats-bench-XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr)
        return 1;
    ::setenv("NAMEDPIPE_DIR", dir.c_str(), 1);
    {
        TFtrackerSrvInfo info("BenchInfo", 4);
        info.OnGetStats = [](TPipeServer*, TServiceStatusInfo& status) { status.Size = sizeof status; };
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (!std::filesystem::exists(dir + "/BenchInfo") && Clock::now() < deadline)
            std::this_thread::yield();

        Measure(1, std::chrono::milliseconds(300));  // warm-up
        for (const int clients : {1, 4}) {
            const TRun run = Measure(clients, std::chrono::seconds(3));
            std::printf("%d client%s: %.0f statistics requests per second (%lld answers, %lld failed, %.2f s)\n", clients,
                        clients == 1 ? " " : "s", run.Answers / run.Seconds, run.Answers, run.Failures, run.Seconds);
        }
    }
    std::filesystem::remove_all(dir);
    return 0;
}
