#pragma once

#include <chrono>

#ifdef _WIN32
#include <atomic>
#include <mutex>
#endif

// Lets another thread cut short the receive thread's port read or pause at once instead of
// waiting out its time-out. Once woken it stays woken, so a read that starts after wake() ends
// at once too, until clear().
class PortWake
{
public:
    PortWake();
    ~PortWake();
    PortWake(const PortWake &) = delete;
    PortWake &operator=(const PortWake &) = delete;

    // Any thread.
    void wake();
    void clear();
    bool isWoken() const;

    // Sleeps for the duration, or less when woken.
    void pause(std::chrono::milliseconds duration) const;

#ifdef _WIN32
    // A synchronous read on the file cannot wait on anything else, so it registers itself for
    // wake() to cancel. beginRead answers false, registering nothing, when already woken.
    bool beginRead(void *file) const;
    void endRead() const;
#else
    // Readable while woken, for a poll() beside the device.
    int descriptor() const;
#endif

private:
#ifdef _WIN32
    void *WokenEvent = nullptr;
    // The event's state, read without a system call: the reader asks before every byte, and
    // under Wine every wait on an event is a round trip to its server. Set and cleared with the
    // event under WakeLock, so the two never disagree.
    std::atomic<bool> Woken {false};
    std::mutex WakeLock;
    mutable std::mutex ReadLock;
    mutable void *ReadingFile = nullptr;
    mutable bool ReadUnderWay = false;
    // The reading thread, kept open between reads: CancelSynchronousIo needs a handle to it.
    mutable void *Reader = nullptr;
    mutable unsigned long ReaderId = 0;
#else
    int Fd = -1;
#endif
};
