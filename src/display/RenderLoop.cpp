#include "RenderLoop.h"

#include "Event.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// Everything the thread uses; the thread co-owns it, so an abandoned thread outlives the loop
// without reaching into it.
struct RenderLoop::Shared
{
    std::shared_ptr<Client> Target;
    std::shared_ptr<Event> FrameEvent;
    std::atomic<int> RenderRunFlag {1};
    std::atomic<std::uint64_t> Passes {0};
    // Guards the steps that reach the view or the receiver, Abandoned and Finished.
    std::mutex Guard;
    std::condition_variable Changed;
    bool Abandoned = false;
    bool Finished = false;
};

RenderLoop::~RenderLoop()
{
    stop();
}

void RenderLoop::start(std::shared_ptr<Client> client, std::shared_ptr<Event> frameEvent)
{
    if (State)
        return;
    auto shared = std::make_shared<Shared>();
    shared->Target = std::move(client);
    shared->FrameEvent = std::move(frameEvent);
    // The thread's end is told by Finished, so a stop can give up on a thread that overruns
    // without ever joining one that may never end.
    Thread = std::thread(&RenderLoop::run, shared, shared->Target);
    State = std::move(shared);
}

// The thread holds the client on its own, for as long as it runs; the loop lets go of it when it
// stops.
void RenderLoop::run(const std::shared_ptr<Shared> &shared, const std::shared_ptr<Client> &client)
{
    Shared &s = *shared;
    // The flag is tested only before each wait, never between the steps of a pass.
    while (s.RenderRunFlag.load() != 0) {
        if (!s.FrameEvent) {
            // A stop need not sit out the pause.
            std::unique_lock lock(s.Guard);
            s.Changed.wait_for(lock, FailedWaitPause, [&] { return s.RenderRunFlag.load() == 0; });
            continue;
        }
        s.FrameEvent->wait();
        {
            std::scoped_lock lock(s.Guard);
            if (s.Abandoned)
                break;
            client->copyFrame();
        }
        client->render();
        {
            std::scoped_lock lock(s.Guard);
            if (s.Abandoned)
                break;
            client->requestRepaint();
        }
        s.Passes.fetch_add(1);
    }
    std::scoped_lock lock(s.Guard);
    s.Finished = true;
    s.Changed.notify_all();
}

bool RenderLoop::stop(std::chrono::milliseconds bound)
{
    if (!State)
        return true;
    Shared &s = *State;
    const auto deadline = Clock::now() + bound;
    bool ended = true;
    {
        std::unique_lock lock(s.Guard);
        if (!s.Finished && !s.Abandoned) {
            s.RenderRunFlag.store(0);
            if (s.FrameEvent)
                s.FrameEvent->set();
            s.Changed.notify_all();
            ended = s.Changed.wait_until(lock, deadline, [&] { return s.Finished; });
            if (!ended)
                s.Abandoned = true;
        }
        s.Target.reset();
    }
    if (Thread.joinable()) {
        // Past Finished only its unwinding is left.
        if (ended)
            Thread.join();
        else
            Thread.detach();
    }
    return ended;
}

std::uint64_t RenderLoop::passCount() const
{
    return State ? State->Passes.load() : 0;
}
