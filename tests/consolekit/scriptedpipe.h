// A scripted pipe server for the console's tests: a real pipe socket of the platform's server side
// that answers every request with the canned bytes a test sets, where the real service cannot be
// made to give such an answer. It records the requests it got.
#pragma once
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include "platform/namedpipe/namedpipe.h"

class ScriptedPipeServer {
public:
    // Serves the pipe of a bare name in the pipe directory of the moment ($NAMEDPIPE_DIR).
    explicit ScriptedPipeServer(const std::string& name);
    ~ScriptedPipeServer();
    ScriptedPipeServer(const ScriptedPipeServer&) = delete;
    ScriptedPipeServer& operator=(const ScriptedPipeServer&) = delete;

    bool Listening() const { return Pipe.Created(); }
    // The answer to every following request.
    void SetAnswer(const std::string& answer);
    std::vector<std::string> Requests() const;

private:
    void Serve();
    // Finishes an operation that went pending; Failed when the server is told to stop.
    TPipeIo Finish(TNamedPipeInstance& instance, TPipeIo result, uint32_t& count);

    TNamedPipe Pipe;
    TEvent Stop;
    mutable std::mutex Lock;
    std::string Answer;
    std::vector<std::string> Received;
    std::thread Thread;
};
