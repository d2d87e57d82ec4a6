#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> Signals = {SIGTERM, SIGINT, SIGHUP};

// The handler may run on any thread; it only writes to the pipe, which is async-signal-safe.
int WriteEnd = -1;
int ReadEnd = -1;
std::array<struct sigaction, Signals.size()> Previous {};
std::array<bool, Signals.size()> Installed {};

extern "C" void onTerminationSignal(int number)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(number);
    // A full pipe already holds a wake-up; losing this byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(WriteEnd, &byte, 1);
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal)
    : OnSignal(std::move(onSignal))
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    ReadEnd = ends[0];
    WriteEnd = ends[1];
    Notifier = new QSocketNotifier(ReadEnd, QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, &TerminationSignals::drain);

    for (std::size_t index = 0; index < Signals.size(); ++index) {
        struct sigaction current
        {
        };
        if (::sigaction(Signals[index], nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action
        {
        };
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        Installed[index] = ::sigaction(Signals[index], &action, &Previous[index]) == 0;
    }
}

TerminationSignals::~TerminationSignals()
{
    for (std::size_t index = 0; index < Signals.size(); ++index) {
        if (Installed[index])
            ::sigaction(Signals[index], &Previous[index], nullptr);
        Installed[index] = false;
    }
    delete Notifier;
    if (ReadEnd >= 0) {
        ::close(WriteEnd);
        ::close(ReadEnd);
    }
    ReadEnd = WriteEnd = -1;
}

void TerminationSignals::drain()
{
    unsigned char bytes[16];
    bool signalled = false;
    while (::read(ReadEnd, bytes, sizeof bytes) > 0)
        signalled = true;
    if (signalled && OnSignal)
        OnSignal();
}
