#include "platform/service/foreground.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "base/sysutils.h"
#include "platform/files/filedescriptor.h"

namespace {

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

// Reads one pending signal; false when none was there.
bool ReadSignal(int fd)
{
    signalfd_siginfo info;
    return ::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info);
}

}  // namespace

TForegroundServiceHost::TForegroundServiceHost() : EndedEvent(::eventfd(0, EFD_CLOEXEC))
{
    if (!EndedEvent.Valid())
        throw EOSError(std::string("eventfd: ") + std::strerror(errno), errno);
}

TForegroundServiceHost::~TForegroundServiceHost() = default;

void TForegroundServiceHost::BlockStopSignals()
{
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

int TForegroundServiceHost::Run(TService& service)
{
    // The signals stay blocked afterwards: one arriving late must not kill the ending program.
    BlockStopSignals();
    const sigset_t signals = StopSignals();
    const ferrix::TFileDescriptor signalFd(::signalfd(-1, &signals, SFD_CLOEXEC));
    if (signalFd.Get() < 0)
        throw EOSError(std::string("signalfd: ") + std::strerror(errno), errno);

    service.StartServiceThread(*this);
    pollfd fds[2] = {{signalFd.Get(), POLLIN, 0}, {EndedEvent.Get(), POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;  // no more signals; the service still ends by itself
        }
        if (fds[1].revents != 0)
            break;
        if ((fds[0].revents & POLLIN) != 0 && ReadSignal(signalFd.Get()))
            service.GetServiceController()(StopSignalControl());
    }
    service.WaitForServiceThread();
    return Started ? 0 : 1;
}

void TForegroundServiceHost::SetServiceStatus(const TServiceStatus& status)
{
    if (status.CurrentState == csRunning)
        Started = true;
    if (status.CurrentState == csStopped) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(EndedEvent.Get(), &one, sizeof one);
    }
}
