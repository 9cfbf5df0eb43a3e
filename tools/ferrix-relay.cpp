// ferrix-relay: run over SSH by a console on another PC. Reads length-prefixed requests on
// standard input, does the service-manager calls and pipe exchanges here, writes the answers on
// standard output, and ends when its input closes.
#include <csignal>
#include <unistd.h>

#include "platform/remote/relayserver.h"

int main()
{
    // A console that went away must not kill the relay while it writes an answer.
    std::signal(SIGPIPE, SIG_IGN);
    ferrix::TRelayServer server;
    return server.Run(STDIN_FILENO, STDOUT_FILENO);
}
