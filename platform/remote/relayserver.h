// The relay's side: answers the requests of a console on another PC with this PC's service
// manager and pipes, as the user the relay runs as (the SSH user), so that the pipes' own rules
// apply to that user.
#pragma once

#include <memory>
#include <string>

namespace ferrix {

class TLocalManagerCalls;

class TRelayServer {
public:
    TRelayServer();
    ~TRelayServer();
    TRelayServer(const TRelayServer&) = delete;
    TRelayServer& operator=(const TRelayServer&) = delete;

    // The answer to one request.
    std::string Answer(const std::string& request);
    // Answers the requests read from in on out until in ends; the program's exit status.
    int Run(int in, int out);

private:
    std::string Dispatch(const std::string& request);
    TLocalManagerCalls& Manager();

    std::unique_ptr<TLocalManagerCalls> FManager;
};

}  // namespace ferrix
