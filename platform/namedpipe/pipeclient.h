// The client's side of a named pipe: one call, one request, one answer.
#pragma once

#include <cstdint>
#include <string>

#include "platform/namedpipe/pipename.h"

// How long a call waits for its answer once it has connected: a server that took the request and
// never answers must not hold the caller (a window's thread) for ever.
constexpr int PipeAnswerTimeoutMs = 5000;

// Connects to the pipe, writes one request, reads one answer of at most outSize bytes and closes.
// A pipe with no instance listening refuses the call at once (PIPE_ERROR_REFUSED). An answer
// longer than outSize fails with PIPE_ERROR_MORE_DATA (bytesRead = outSize, the buffer filled); no
// answer within answerTimeoutMs fails with PIPE_ERROR_TIMEOUT. The pipe directory must be trusted
// (IsTrustedPipeDirectory), or the call fails with PIPE_ERROR_UNSAFE_DIRECTORY without connecting;
// a server of another user than root, the caller's or the directory's owner gets no request
// (PIPE_ERROR_UNTRUSTED_SERVER).
// A pipe of another computer ("\\PC\pipe\NAME") is called there through its relay
// (platform/remote); when that computer cannot be reached the call fails with PIPE_ERROR_REMOTE.
bool CallNamedPipeA(const std::string& pipeName, const void* inBuffer, uint32_t inSize, void* outBuffer,
                    uint32_t outSize, uint32_t& bytesRead, int answerTimeoutMs = PipeAnswerTimeoutMs);
