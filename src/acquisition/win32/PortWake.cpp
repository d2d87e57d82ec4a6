#include "PortWake.h"

#include <thread>
#include <windows.h>

PortWake::PortWake()
    : WokenEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{ }

PortWake::~PortWake()
{
    if (Reader)
        ::CloseHandle(Reader);
    if (WokenEvent)
        ::CloseHandle(WokenEvent);
}

void PortWake::wake()
{
    {
        std::scoped_lock lock(WakeLock);
        Woken = true;
        if (WokenEvent)
            ::SetEvent(WokenEvent);
    }
    // A cancel finds nothing while the reader is between beginRead() and entering ReadFile, so
    // keep trying until the read has been cancelled or has ended by itself.
    for (;;) {
        {
            std::scoped_lock lock(ReadLock);
            if (!ReadUnderWay)
                return;
            // The thread's own cancel is the one documented for synchronous reads; the handle's
            // covers drivers that only honour that.
            if ((Reader && ::CancelSynchronousIo(Reader)) || ::CancelIoEx(ReadingFile, nullptr))
                return;
        }
        ::Sleep(1);
    }
}

void PortWake::clear()
{
    std::scoped_lock lock(WakeLock);
    Woken = false;
    if (WokenEvent)
        ::ResetEvent(WokenEvent);
}

bool PortWake::isWoken() const
{
    return Woken.load();
}

void PortWake::pause(std::chrono::milliseconds duration) const
{
    if (!WokenEvent) {
        std::this_thread::sleep_for(duration);
        return;
    }
    (void)::WaitForSingleObject(WokenEvent, static_cast<DWORD>(duration.count()));
}

bool PortWake::beginRead(void *file) const
{
    std::scoped_lock lock(ReadLock);
    // Checked under the lock wake() cancels under: either this sees the wake, or wake() sees the
    // read registered.
    if (isWoken())
        return false;
    // An open handle keeps the thread's id from being reused, so an equal id is the same thread.
    if (ReaderId != ::GetCurrentThreadId()) {
        if (Reader)
            ::CloseHandle(Reader);
        ReaderId = ::GetCurrentThreadId();
        Reader = ::OpenThread(THREAD_TERMINATE, FALSE, ReaderId);
    }
    ReadingFile = file;
    ReadUnderWay = true;
    return true;
}

void PortWake::endRead() const
{
    std::scoped_lock lock(ReadLock);
    ReadUnderWay = false;
    ReadingFile = nullptr;
}
