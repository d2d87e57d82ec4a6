#include "RenderLoop.h"
#include "Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Counts the steps of each pass; a render can be held until released.
struct CountingClient : RenderLoop::Client
{
    std::atomic<int> Copies {0};
    std::atomic<int> Renders {0};
    std::atomic<int> Repaints {0};
    std::atomic<bool> HoldRenders {false};
    Event RenderEntered {Event::Reset::Auto};
    Event ReleaseRender {Event::Reset::Manual};

    void copyFrame() override { ++Copies; }
    void render() override
    {
        ++Renders;
        RenderEntered.set();
        if (HoldRenders.load())
            ReleaseRender.waitFor(20s);
    }
    void requestRepaint() override { ++Repaints; }
};

struct RenderLoopTest : ::testing::Test
{
    std::shared_ptr<CountingClient> Client = std::make_shared<CountingClient>();
    std::shared_ptr<Event> FrameEvent = std::make_shared<Event>(Event::Reset::Auto);
    RenderLoop Loop;
};

template<typename Predicate>
bool eventually(Predicate predicate)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST_F(RenderLoopTest, EachSignalBringsOnePassAndABurstDuringAPassExactlyOneMore)
{
    Client->HoldRenders = true;
    Loop.start(Client, FrameEvent);
    FrameEvent->set();
    ASSERT_TRUE(Client->RenderEntered.waitFor(10s));
    for (int i = 0; i < 5; ++i)
        FrameEvent->set();
    Client->HoldRenders = false;
    Client->ReleaseRender.set();
    ASSERT_TRUE(eventually([&] { return Loop.passCount() == 2; }));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(Loop.passCount(), 2u);
    EXPECT_EQ(Client->Copies, 2);
    EXPECT_EQ(Client->Repaints, 2);
}

TEST_F(RenderLoopTest, StopWakesAWaitingThreadForOneLastPass)
{
    Loop.start(Client, FrameEvent);
    FrameEvent->set();
    ASSERT_TRUE(eventually([&] { return Loop.passCount() == 1; }));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(Loop.stop());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    // The thread was waiting (or about to): the stop's own signal is its last pass, at most.
    EXPECT_LE(Loop.passCount(), 2u);
    EXPECT_EQ(Client->Copies, Client->Repaints);
    FrameEvent->set();
    std::this_thread::sleep_for(100ms);
    EXPECT_LE(Loop.passCount(), 2u);
    EXPECT_TRUE(Loop.stop()); // a second stop does nothing
}

TEST_F(RenderLoopTest, StopDuringAPassEndsAfterThatPass)
{
    Client->HoldRenders = true;
    Loop.start(Client, FrameEvent);
    FrameEvent->set();
    ASSERT_TRUE(Client->RenderEntered.waitFor(10s));
    std::thread releaser([&] {
        std::this_thread::sleep_for(50ms);
        Client->ReleaseRender.set();
    });
    EXPECT_TRUE(Loop.stop());
    releaser.join();
    EXPECT_EQ(Loop.passCount(), 1u); // the stop's signal is left pending, not drawn
    EXPECT_EQ(Client->Repaints, 1);
}

// However long a render takes, the stop returns at its bound, and the abandoned thread never
// reaches the view again: no copy, no hand-over; it lets go of the client when it ends.
TEST_F(RenderLoopTest, StopWhileAPassOverrunsReturnsAtItsBoundAndAbandonsTheThread)
{
    Client->HoldRenders = true;
    const std::weak_ptr<CountingClient> client = Client;
    Loop.start(Client, FrameEvent);
    Client->RenderEntered.reset();
    FrameEvent->set();
    ASSERT_TRUE(Client->RenderEntered.waitFor(10s));
    // A stop that waited for the render would return only when the render gives up, after 20 s.
    constexpr auto Bound = 300ms;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(Loop.stop(Bound));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, Bound);
    EXPECT_LT(took, Bound + 2s);

    CountingClient &counts = *Client;
    Client.reset();
    counts.ReleaseRender.set();
    EXPECT_TRUE(eventually([&] { return client.expired(); }));
    EXPECT_EQ(Loop.passCount(), 0u);
}

TEST_F(RenderLoopTest, WithoutAnEventTheThreadRetriesWithoutPassesAndStopsPromptly)
{
    Loop.start(Client, nullptr);
    std::this_thread::sleep_for(350ms);
    EXPECT_EQ(Client->Copies, 0);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(Loop.stop());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
}

} // namespace
