#include "FairMutex.h"

void FairMutex::lock()
{
    std::unique_lock lock(Mutex);
    const std::uint64_t ticket = NextTicket++;
    Turn.wait(lock, [&] { return Serving == ticket; });
}

void FairMutex::unlock()
{
    {
        std::scoped_lock lock(Mutex);
        ++Serving;
    }
    Turn.notify_all();
}
