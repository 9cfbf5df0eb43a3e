// What the pipe server and the pipe client share: pipe names, the directory of the pipes'
// sockets, and the per-thread last error of the pipe calls.
//
// A pipe "\\.\pipe\NAME" is a Unix domain socket at $NAMEDPIPE_DIR/NAME; without the variable the
// directory is /run/namedpipe where it exists or can be created, else /tmp/namedpipe. Only a
// directory owned by root or by the process's own user, that no one else may write to, holds
// pipes: in any other a local user could put a socket or a link in the place of a pipe.
//
// Operations report failures through a per-thread last error (GetLastPipeError): an errno value
// or one of the layer's own codes below; PipeErrorMessage gives its text.
#pragma once

#include <string>
#include <sys/types.h>

// The layer's own error codes, beyond the range of errno values.
constexpr int PIPE_ERROR_BAD_NAME = 0x10001;   // not of the form \\.\pipe\NAME or \\PC\pipe\NAME
constexpr int PIPE_ERROR_REMOTE = 0x10002;     // another computer could not be reached
constexpr int PIPE_ERROR_REFUSED = 0x10003;    // every instance busy, or the client not allowed
constexpr int PIPE_ERROR_NO_ANSWER = 0x10004;  // the server closed the connection without an answer
constexpr int PIPE_ERROR_MORE_DATA = 0x10005;  // the answer is longer than the caller's buffer
constexpr int PIPE_ERROR_ACCESS_DENIED = 0x10006;     // a client of a user the pipe does not admit
constexpr int PIPE_ERROR_UNSAFE_DIRECTORY = 0x10007;  // the pipe directory may be changed by another user
constexpr int PIPE_ERROR_TIMEOUT = 0x10008;           // the server took the request and did not answer in time
constexpr int PIPE_ERROR_UNTRUSTED_SERVER = 0x10009;  // the pipe is served by a process of another user

int GetLastPipeError();
void SetLastPipeError(int code);
namespace ferrix {

// Sets the last error PIPE_ERROR_REMOTE with the text that says why the other computer could not be
// reached; PipeErrorMessage gives that text back on this thread.
void SetRemotePipeError(const std::string& why);

// The text of an error code: the layer's own texts, else the system's text for an errno value.
// The text of PIPE_ERROR_UNSAFE_DIRECTORY names the directory this thread last found unsafe, that of
// PIPE_ERROR_REMOTE is the one this thread last set with SetRemotePipeError.
std::string PipeErrorMessage(int code);

// Splits "\\COMPUTER\pipe\NAME" ("pipe" in any case); computer "." is this computer. False with
// PIPE_ERROR_BAD_NAME for anything else, or a name that is empty, "." or "..", or holds "/" or "\".
bool SplitPipeName(const std::string& pipeName, std::string& computer, std::string& name);

// The directory of the pipes for a server (see above): created (mode 0755) when missing. A default
// directory that the process's user or root owns but others may write to (as earlier releases
// made it) is made 0755 again; $NAMEDPIPE_DIR is taken as it is.
std::string NamedPipeDirectory();
// The directory a client looks in: $NAMEDPIPE_DIR, else /run/namedpipe where it exists, else
// /tmp/namedpipe. Nothing is created.
std::string ExistingPipeDirectory();
// The socket path of a local pipe name "\\.\pipe\NAME" in NamedPipeDirectory(); false (and the
// last error) otherwise.
bool NamedPipeSocketPath(const std::string& pipeName, std::string& path);

// Whether the directory may hold pipes: a directory itself (not a link to one), owned by root or
// the process's user, and writable by no one else. False with the last error: the system's for a
// missing one, else PIPE_ERROR_UNSAFE_DIRECTORY.
bool IsSafePipeDirectory(const std::string& path);
// Whether a client may use the pipes in the directory, and whose servers it may talk to there
// (besides root and its own user): a safe directory, or one of another user that no one else may
// write to and that root gave that user (its parent is root's and writable by no one else, as
// /run): the directory of a service that runs as that user. owner is the directory's owner.
bool IsTrustedPipeDirectory(const std::string& path, uid_t& owner);

}  // namespace ferrix
