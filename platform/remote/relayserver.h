// The relay's side: answers the requests of a console on another PC with this PC's service
// manager and pipes, as the user the relay runs as (the SSH user), so that the pipes' own rules
// apply to that user. It serves one service's unit and the pipes of this PC only: a request on
// another unit or on a pipe of another PC is refused (EACCES) and goes nowhere.
#pragma once

#include <memory>
#include <string>

namespace ferrix {

class TLocalManagerCalls;

class TRelayServer {
public:
    // serviceName: the service whose unit it serves ("NAME" or "NAME.service" in requests).
    explicit TRelayServer(const std::string& serviceName);
    ~TRelayServer();
    TRelayServer(const TRelayServer&) = delete;
    TRelayServer& operator=(const TRelayServer&) = delete;

    // The answer to one request; a failure is a failed answer with its code and text.
    std::string Answer(const std::string& request);
    // Answers the requests read from in on out until in ends; the program's exit status.
    int Run(int in, int out);

private:
    std::string Dispatch(const std::string& received);
    std::string ServedRequest(const std::string& request) const;
    TLocalManagerCalls& Manager();

    std::string ServiceName;
    std::unique_ptr<TLocalManagerCalls> FManager;
};

}  // namespace ferrix
