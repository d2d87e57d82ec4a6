#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

// A mutex that is handed over in the order it was asked for. The receive thread releases its lock
// after every block and asks again at once; with a plain std::mutex it regularly wins that race
// and keeps a waiting openPort() out for several blocks, seconds on a quiet line.
class FairMutex
{
public:
    FairMutex() = default;
    FairMutex(const FairMutex &) = delete;
    FairMutex &operator=(const FairMutex &) = delete;

    void lock();
    void unlock();

private:
    std::mutex Mutex;
    std::condition_variable Turn;
    std::uint64_t NextTicket = 0;
    std::uint64_t Serving = 0;
};
