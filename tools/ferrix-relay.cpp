// ferrix-relay: run over SSH by a console on another PC. Reads length-prefixed requests on
// standard input, does the service-manager calls on the unit of TransportSvc2 and the exchanges
// with this PC's pipes here, writes the answers on standard output, and ends when its input closes.
#include <csignal>
#include <unistd.h>

#include "platform/remote/relayserver.h"

int main()
{
    // A console that went away must not kill the relay while it writes an answer.
    std::signal(SIGPIPE, SIG_IGN);
    // The one service whose unit the relay serves.
    ferrix::TRelayServer server("TransportSvc2");
    return server.Run(STDIN_FILENO, STDOUT_FILENO);
}
