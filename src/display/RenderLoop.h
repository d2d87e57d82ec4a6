#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

class Event;

// The RenderThread's life, for every front-end: wait on the frame event without time-out, copy
// the frame, render, hand the picture over and ask for a repaint; stop within a bound.
//
// A pass's two steps that reach the view or the receiver run under the loop's guard, and a stop
// that runs out of time sets Abandoned under it, so an abandoned thread reaches neither again.
// The render itself runs outside the guard and must touch only what the thread co-owns (the
// client object), which is why the stop never has to wait for a render to finish.
class RenderLoop
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds StopTimeout {3000};
    // Between attempts while the wait on the frame event fails: slow enough not to spin.
    static constexpr std::chrono::milliseconds FailedWaitPause {100};

    // What a view gives the loop. The thread holds the client for as long as it runs, also after
    // it was abandoned.
    class Client
    {
    public:
        virtual ~Client() = default;
        // Under the guard, short: takes the receiver's latest frame (and what the overlay tells
        // of the receiver) into the client's own copy.
        virtual void copyFrame() = 0;
        // Outside the guard, as long as it takes: draws that copy into the client's own picture.
        virtual void render() = 0;
        // Under the guard, short: hands the finished picture to the view and asks the window's
        // thread for a repaint.
        virtual void requestRepaint() = 0;
    };

    RenderLoop() = default;
    // Stops the thread as stop() does.
    ~RenderLoop();
    RenderLoop(const RenderLoop &) = delete;
    RenderLoop &operator=(const RenderLoop &) = delete;

    // Starts the thread on the frame event; a null event counts as a wait that fails. Throws
    // std::system_error when no thread can be started. A loop is started once.
    void start(std::shared_ptr<Client> client, std::shared_ptr<Event> frameEvent);
    // Clears the run flag and wakes the thread with the frame event (a waiting thread makes one
    // more pass), then waits for it until bound has passed. A thread still running then is
    // abandoned: it ends on its own, without another step that reaches the view. Answers true
    // when the thread ended in time or none was running. Never waits for a render in progress.
    bool stop(std::chrono::milliseconds bound = StopTimeout);

    bool started() const { return State != nullptr; }
    // Passes the thread has completed.
    std::uint64_t passCount() const;

private:
    struct Shared;
    static void run(const std::shared_ptr<Shared> &shared, const std::shared_ptr<Client> &client);

    std::shared_ptr<Shared> State;
    // Joined when it ended in time, so that its thread-local state (the toolkit's font caches)
    // is gone before the loop's owner goes on; detached when abandoned.
    std::thread Thread;
};
