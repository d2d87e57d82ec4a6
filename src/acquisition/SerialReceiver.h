#pragma once

#include "ScopeFrame.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

class Event;
class SerialPort;

// Thrown by start() with the text the window shows the user.
class ReceiverError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Why a port could not be opened, or why an open port was lost.
struct PortFailure
{
    int Index = -1; // zero-based port index
    std::string DevicePath; // what the index named at the time
    int ErrorNumber = 0; // errno; 0 when nothing failed yet
    std::string Reason; // the system's text for ErrorNumber
    bool Lost = false; // true: the port was open and vanished while reading
    bool OwnTerminal = false; // true: refused, the device is the terminal the program runs from
};

// The only link to the instrument: one read-only serial port and the thread that cuts its byte
// stream into blocks and merges them into the latest frame.
class SerialReceiver
{
public:
    SerialReceiver();
    ~SerialReceiver();
    SerialReceiver(const SerialReceiver &) = delete;
    SerialReceiver &operator=(const SerialReceiver &) = delete;

    // Closes whatever is there, creates both events and starts the receive thread (stopped).
    // Throws ReceiverError("Cannot create a event.") or ("Cannot start a thread for receive.").
    void start();
    // Stops the thread (at most 3000 ms), releases the port, drops both events. currentPort()
    // still names the port last opened.
    void close();

    // Opens COM<index + 1> read-only and exclusively with the instrument's line settings. Never
    // waits for the line: the receive thread cuts the read under way short, drops the block it
    // cut (neither stored nor announced) and hands over the port. A block is never read across
    // the change; the thread hunts for a marker on the new port first.
    bool openPort(int index);
    int currentPort() const;
    // Copies the latest frame as the last stored block left it; never waits for the line.
    void copyFrame(ScopeFrame &destination) const;

    void run();
    void pause();
    bool isRunning() const;
    // Signalled after every stored block, and once when an open port is lost; shared so a holder
    // can never outlive it by accident.
    std::shared_ptr<Event> frameEvent() const;

    // Why the last openPort() failed, or why the open port was lost (Lost set); ErrorNumber 0
    // after a successful openPort().
    PortFailure lastFailure() const;
    // Called on the receive thread, outside every lock, once each time an open port vanishes;
    // acquisition has been stopped by then (isRunning() is false).
    // Set it before start(), which takes a copy; it must not call back into the receiver's
    // lock-taking operations, nor block: close() abandons a thread that does not end in time.
    void setPortLostHandler(std::function<void(const PortFailure &)> handler);

    // Makes the next start() fail as if no thread could be created; for tests of the caller.
    static void failNextStartForTesting();

private:
    struct Link;
    static void receiveLoop(const std::shared_ptr<Link> &link, std::shared_ptr<Event> runEvent,
                            std::shared_ptr<Event> frameEvent,
                            std::function<void(const PortFailure &)> portLost);

    // Everything the ReceiveThread touches lives in the Link, which the thread co-owns, so a thread
    // abandoned after an overrun stop can never reach a destroyed receiver or a lock the receiver
    // still uses.
    std::shared_ptr<Link> State;
    // Guards the two event pointers, which start and close replace while other threads ask.
    mutable std::mutex EventsLock;
    std::shared_ptr<Event> RunEvent;
    std::shared_ptr<Event> FrameEvent;
    std::thread ReceiveThread;
    std::shared_ptr<Event> ThreadEnded;
    std::function<void(const PortFailure &)> PortLostHandler;

    static std::atomic<bool> FailNextStart;
};
