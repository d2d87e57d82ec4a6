#include "SerialReceiver.h"

#include "Event.h"
#include "Framing.h"
#include "PortNames.h"
#include "PortWake.h"
#include "SerialPort.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>

namespace {

using namespace std::chrono_literals;

constexpr auto ReadTimeout = 1000ms;
constexpr auto StopTimeout = 3000ms;
// Between failed hunting reads while no port is open: the hunt would otherwise spin a core.
constexpr auto NoPortPause = 100ms;

// The receive thread and the window's thread both describe failures: strerror() may share one
// buffer between them, so each gets its own.
#ifdef _WIN32
std::string reasonText(int errorNumber)
{
    char text[256] = {};
    if (::strerror_s(text, sizeof text, errorNumber) != 0)
        return "Unknown error " + std::to_string(errorNumber);
    return text;
}
#else
// strerror_r() comes in two forms; the overloads take whichever the C library declares.
[[maybe_unused]] std::string describedBy(int result, const char *text, int errorNumber)
{
    return result == 0 ? std::string(text) : "Unknown error " + std::to_string(errorNumber);
}
[[maybe_unused]] std::string describedBy(const char *result, const char *, int)
{
    return result;
}
std::string reasonText(int errorNumber)
{
    char text[256] = {};
    return describedBy(::strerror_r(errorNumber, text, sizeof text), text, errorNumber);
}
#endif

} // namespace

struct SerialReceiver::Link
{
    Link() = default;
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

    // Lets close() and openPort() cut short a read or a pause instead of waiting out its
    // time-out.
    void wake() { Wake.wake(); }
    void clearWake() { Wake.clear(); }

    // openPort() asks the receive thread to give up the port: the read under way is cut short
    // (the block it was part of is dropped), and the thread does not take the port again until
    // every request is served. Without this a caller waits out a whole block, a second on a silent
    // line, and the thread, which asks for the lock again at once, could win it back over and over.
    std::unique_lock<std::mutex> takePortAway()
    {
        {
            std::scoped_lock lock(HandOverLock);
            ++PortRequests;
        }
        wake();
        std::unique_lock port(ReceiverLock);
        // No read is under way now. A close() since the wake needs its wake-up back.
        clearWake();
        if (!KeepReceiving.load())
            wake();
        return port;
    }
    void givePortBack()
    {
        {
            std::scoped_lock lock(HandOverLock);
            --PortRequests;
        }
        HandOver.notify_all();
    }
    // The receive thread's way to the port: after any openPort() that is waiting for it.
    std::unique_lock<std::mutex> lockForReading()
    {
        {
            std::unique_lock lock(HandOverLock);
            HandOver.wait(lock, [this] { return PortRequests.load() == 0; });
        }
        return std::unique_lock(ReceiverLock);
    }

    void recordFailure(const PortFailure &failure)
    {
        std::scoped_lock lock(FailureLock);
        Failure = failure;
    }

    // Releases a port whose device failed, as openPort() would, and records why. Recorded under
    // ReceiverLock, so a later successful openPort() can never be overwritten by a stale loss.
    PortFailure releaseLostPort(int errorNumber)
    {
        PortFailure failure;
        failure.Index = CurrentPort.load();
        failure.DevicePath = Port->devicePath();
        failure.ErrorNumber = errorNumber;
        failure.Reason = reasonText(errorNumber);
        failure.Lost = true;
        Port.reset();
        CurrentPort.store(-1);
        recordFailure(failure);
        return failure;
    }

    // Guards Port and PortGeneration: their replacement and every read, so a whole block is read
    // from one port.
    std::mutex ReceiverLock;
    std::unique_ptr<SerialPort> Port;
    // Counts the ports opened, so a block is never read from a port other than its marker's.
    std::uint64_t PortGeneration = 0;
    std::mutex HandOverLock;
    std::condition_variable HandOver;
    std::atomic<int> PortRequests {0};
    // Guards LatestFrame alone, held only for a merge or a copy. copyFrame() must never wait for
    // the line: the thread holds ReceiverLock through the next block's reads, up to a second.
    // Taken inside ReceiverLock or alone, never the other way round.
    mutable std::mutex FrameLock;
    ScopeFrame LatestFrame;
    std::atomic<int> CurrentPort {-1};
    std::atomic<bool> KeepReceiving {false};
    PortWake Wake;

    // A leaf lock: taken alone or innermost, so lastFailure() never waits for a block to end.
    mutable std::mutex FailureLock;
    PortFailure Failure;
};

namespace {

// Feeds the framing rules from the open port and remembers why a read failed.
class PortSource final : public ByteSource
{
public:
    PortSource(SerialPort *port, const PortWake &wake, const std::atomic<int> &portRequests)
        : Port(port)
        , Wake(wake)
        , PortRequests(portRequests)
    { }

    ByteRead readByte() override
    {
        // A byte already queued is taken without looking at the wake-up, so a request to give up
        // the port is checked before every read; while streaming there is no wait to cut short.
        if (PortRequests.load() > 0)
            return {ReadStatus::Interrupted, 0};
        const SerialPort::Read read = Port->readByte(ReadTimeout, &Wake);
        switch (read.Status) {
        case SerialPort::ReadStatus::Byte:
            return {ReadStatus::Byte, read.Value};
        case SerialPort::ReadStatus::TimedOut:
            // Where a read cannot be cancelled (Wine), a hand-over or close ends it by its
            // time-out; that silence is ours, not the line's.
            if (PortRequests.load() > 0 || Wake.isWoken())
                return {ReadStatus::Interrupted, 0};
            return {ReadStatus::TimedOut, 0};
        case SerialPort::ReadStatus::Interrupted:
            return {ReadStatus::Interrupted, 0};
        case SerialPort::ReadStatus::Failed:
            break;
        }
        LostError = read.ErrorNumber ? read.ErrorNumber : EIO;
        return {ReadStatus::Failed, 0};
    }

    // errno of a device failure; 0 when the device is fine.
    int lostError() const { return LostError; }

private:
    SerialPort *const Port;
    const PortWake &Wake;
    const std::atomic<int> &PortRequests;
    int LostError = 0;
};

} // namespace

std::atomic<bool> SerialReceiver::FailNextStart {false};

SerialReceiver::SerialReceiver()
    : State(std::make_shared<Link>())
{ }

SerialReceiver::~SerialReceiver()
{
    close();
}

void SerialReceiver::failNextStartForTesting()
{
    FailNextStart.store(true);
}

void SerialReceiver::start()
{
    close();
    std::shared_ptr<Event> runEvent;
    std::shared_ptr<Event> frameEvent;
    try {
        runEvent = std::make_shared<Event>(Event::Reset::Manual);
        {
            std::scoped_lock lock(EventsLock);
            RunEvent = runEvent;
        }
        frameEvent = std::make_shared<Event>(Event::Reset::Auto);
        std::scoped_lock lock(EventsLock);
        FrameEvent = frameEvent;
    } catch (const std::bad_alloc &) {
        throw ReceiverError("Cannot create a event.");
    }

    State->KeepReceiving.store(true);
    State->clearWake();
    if (FailNextStart.exchange(false))
        throw ReceiverError("Cannot start a thread for receive.");
    try {
        auto ended = std::make_shared<Event>(Event::Reset::Manual);
        ReceiveThread =
            std::thread([link = State, runEvent, frameEvent, ended, handler = PortLostHandler] {
                receiveLoop(link, runEvent, frameEvent, handler);
                ended->set();
            });
        ThreadEnded = std::move(ended);
    } catch (const std::exception &) {
        throw ReceiverError("Cannot start a thread for receive.");
    }
}

// Order: stop the thread before the port goes, so no read is under way on a descriptor that is
// being closed; drop the events last, since the thread waits on them.
void SerialReceiver::close()
{
    State->KeepReceiving.store(false);
    if (ReceiveThread.joinable()) {
        std::shared_ptr<Event> runEvent;
        {
            std::scoped_lock lock(EventsLock);
            runEvent = RunEvent;
        }
        if (runEvent)
            runEvent->set();
        State->wake();
        if (ThreadEnded->waitFor(StopTimeout)) {
            ReceiveThread.join();
        } else {
            // The thread is stuck outside our control (in the port-lost handler, say). It keeps
            // the old Link, port included, to itself; the receiver carries on with a fresh one, so
            // nothing can wait for a lock that the abandoned thread may hold.
            ReceiveThread.detach();
            const int lastPort = State->CurrentPort.load();
            State = std::make_shared<Link>();
            State->CurrentPort.store(lastPort);
        }
        ThreadEnded.reset();
    }
    // CurrentPort keeps naming the port last opened; nothing shows it once acquisition is over.
    {
        std::scoped_lock lock(State->ReceiverLock);
        State->Port.reset();
    }
    std::scoped_lock lock(EventsLock);
    RunEvent.reset();
    FrameEvent.reset();
}

bool SerialReceiver::openPort(int index)
{
    Link &link = *State;
    struct Claim
    {
        Link &Owner;
        std::unique_lock<std::mutex> Port;
        ~Claim()
        {
            Port.unlock();
            Owner.givePortBack();
        }
    } claim {link, link.takePortAway()};

    if (link.Port) {
        link.Port.reset();
        link.CurrentPort.store(-1);
    }

    PortFailure failure;
    failure.Index = index;
    if (index < 0 || index >= PortCount) {
        failure.ErrorNumber = ENODEV;
        failure.Reason = reasonText(ENODEV);
        link.recordFailure(failure);
        return false;
    }
    failure.DevicePath = portDevicePath(index);
    auto port = std::make_unique<SerialPort>();
    if (!port->open(failure.DevicePath)) {
        failure.ErrorNumber = port->errorNumber();
        failure.Reason = reasonText(failure.ErrorNumber);
        failure.OwnTerminal = port->isOwnTerminal();
        link.recordFailure(failure);
        return false;
    }
    link.Port = std::move(port);
    ++link.PortGeneration;
    link.CurrentPort.store(index);
    link.recordFailure(PortFailure {});
    return true;
}

int SerialReceiver::currentPort() const
{
    return State->CurrentPort.load();
}

void SerialReceiver::copyFrame(ScopeFrame &destination) const
{
    std::scoped_lock lock(State->FrameLock);
    destination = State->LatestFrame;
}

void SerialReceiver::run()
{
    std::scoped_lock lock(EventsLock);
    if (RunEvent)
        RunEvent->set();
}

void SerialReceiver::pause()
{
    std::scoped_lock lock(EventsLock);
    if (RunEvent)
        RunEvent->reset();
}

bool SerialReceiver::isRunning() const
{
    std::shared_ptr<Event> runEvent;
    {
        std::scoped_lock lock(EventsLock);
        runEvent = RunEvent;
    }
    return runEvent && runEvent->waitFor(std::chrono::milliseconds(0));
}

std::shared_ptr<Event> SerialReceiver::frameEvent() const
{
    std::scoped_lock lock(EventsLock);
    return FrameEvent;
}

PortFailure SerialReceiver::lastFailure() const
{
    std::scoped_lock lock(State->FailureLock);
    return State->Failure;
}

void SerialReceiver::setPortLostHandler(std::function<void(const PortFailure &)> handler)
{
    PortLostHandler = std::move(handler);
}

namespace {

// Runs the receive loop on the Link's port and events.
template<class LinkType>
class PortHost
{
public:
    PortHost(LinkType &link, Event &runEvent, Event &frameEvent,
             const std::function<void(const PortFailure &)> &portLost)
        : Link(link)
        , RunEvent(runEvent)
        , FrameEvent(frameEvent)
        , PortLost(portLost)
    { }

    const std::atomic<bool> &keepReceiving() const { return Link.KeepReceiving; }
    void waitForRun() { RunEvent.wait(); }
    bool isRunning() { return RunEvent.waitFor(std::chrono::milliseconds(0)); }

    template<class Read>
    PortAccess withPort(Read &&read, PortUse use)
    {
        const std::unique_lock lock = Link.lockForReading();
        if (!Link.Port)
            return PortAccess::NoPort;
        if (use == PortUse::Hunt)
            HuntedPort = Link.PortGeneration;
        else if (HuntedPort != Link.PortGeneration)
            return PortAccess::Replaced;
        PortSource source(Link.Port.get(), Link.Wake, Link.PortRequests);
        read(static_cast<ByteSource &>(source));
        if (!source.lostError())
            return PortAccess::Read;
        Lost = Link.releaseLostPort(source.lostError());
        // Acquisition ends with its port, so that the next Connect reopens it at once. Under the
        // lock: an openPort() and run() that follow cannot be undone by this stop.
        RunEvent.reset();
        return PortAccess::Lost;
    }

    void merge(const BlockBuffer &buffer, std::size_t n)
    {
        std::scoped_lock lock(Link.FrameLock);
        mergeBlock(buffer, n, Link.LatestFrame);
    }

    void announce(std::size_t) { FrameEvent.set(); }

    // One signal tells the picture of the loss. The handler runs outside every lock: it may take
    // locks of its own.
    void reportLost()
    {
        FrameEvent.set();
        if (PortLost)
            PortLost(Lost);
    }

    // close() cuts the pause between failed hunting reads short.
    void pauseWithoutPort() { Link.Wake.pause(NoPortPause); }

private:
    LinkType &Link;
    Event &RunEvent;
    Event &FrameEvent;
    const std::function<void(const PortFailure &)> &PortLost;
    PortFailure Lost;
    std::uint64_t HuntedPort = 0;
};

} // namespace

void SerialReceiver::receiveLoop(const std::shared_ptr<Link> &linkOwner,
                                 std::shared_ptr<Event> runEvent, std::shared_ptr<Event> frameEvent,
                                 std::function<void(const PortFailure &)> portLost)
{
    PortHost<Link> host(*linkOwner, *runEvent, *frameEvent, portLost);
    ::receiveLoop(host);
}
