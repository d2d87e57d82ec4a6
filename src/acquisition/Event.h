#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// A signalled/reset flag that threads can wait on. Manual-reset events stay signalled until
// reset; an auto-reset event releases exactly one waiter and resets itself, so any number of
// set() calls before a wait collapse into a single pending signal.
class Event
{
public:
    enum class Reset { Manual, Auto };

    explicit Event(Reset mode);
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    void set();
    void reset();

    // Blocks until signalled; an auto-reset event is reset by the wait that it releases.
    void wait();
    // Answers whether the event was signalled within the time-out; a zero time-out only
    // tests it. Consumes the signal of an auto-reset event like wait().
    bool waitFor(std::chrono::milliseconds timeout);

private:
    const Reset Mode;
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Signalled = false;
};
