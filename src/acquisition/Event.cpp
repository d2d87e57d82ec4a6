#include "Event.h"

Event::Event(Reset mode)
    : Mode(mode)
{ }

void Event::set()
{
    // Notified under the lock: a waiter that owns the event may destroy it as soon as its wait
    // returns, which it cannot do before this lock is released.
    std::scoped_lock lock(Mutex);
    Signalled = true;
    if (Mode == Reset::Manual)
        Changed.notify_all();
    else
        Changed.notify_one();
}

void Event::reset()
{
    std::scoped_lock lock(Mutex);
    Signalled = false;
}

void Event::wait()
{
    std::unique_lock lock(Mutex);
    Changed.wait(lock, [this] { return Signalled; });
    if (Mode == Reset::Auto)
        Signalled = false;
}

bool Event::waitFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(Mutex);
    if (!Changed.wait_for(lock, timeout, [this] { return Signalled; }))
        return false;
    if (Mode == Reset::Auto)
        Signalled = false;
    return true;
}
