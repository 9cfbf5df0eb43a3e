// Another PC through its relay: one SSH connection per PC (relaylink.h), shared by every manager
// handle and pipe exchange of this program for that PC.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

#include "platform/remote/relaylink.h"

namespace ferrix {

class TManagerCalls;

// Whether a PC name means this PC: empty, "." or this PC's host name (any case).
bool IsThisPc(const std::string& pc);

// The manager of another PC; raises EOSError when it cannot be reached.
std::unique_ptr<TManagerCalls> OpenRemoteManager(const std::string& pc);

// Whether a pipe name is one of another PC, the one place that decides it: splits "\\PC\pipe\NAME"
// with a PC other than this one (IsThisPc) into the PC and the name of the same pipe there
// ("\\.\pipe\NAME"). False for a pipe of this PC and for a name that is no pipe name.
bool SplitRemotePipeName(const std::string& pipeName, std::string& pc, std::string& localName);

// CallNamedPipeA on another PC (never this one): the same answer bytes and last error as the call
// made there. A failure to reach the PC sets PIPE_ERROR_REMOTE, whose text (PipeErrorMessage) says
// why.
bool RelayCallNamedPipe(const std::string& pc, const std::string& localName, const void* inBuffer, uint32_t inSize,
                        void* outBuffer, uint32_t outSize, uint32_t& bytesRead);

// For a caller that must not wait (the console's window): where the connection to the PC of a
// machine name (as OpenSCManagerA takes it) stands, never waiting for it (TRelayLink::Reach). This
// PC is always Ready. Another PC is connected to in the background; from then on its calls fail at
// once while no connection is open, instead of connecting.
TRelayReach ReachPc(const std::string& machineName, std::string& why);

// The relay's process id on pc (0 when not connected); for tests.
pid_t RelayProcessId(const std::string& pc);
// Ends the connection to the PC of a machine name, a pending one too; its calls connect on first
// use again. Nothing happens for a PC without one.
void CloseRelayLink(const std::string& machineName);
// Ends every connection to another PC.
void CloseRelayLinks();

}  // namespace ferrix
