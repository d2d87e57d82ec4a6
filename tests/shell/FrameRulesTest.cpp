#include "FrameRules.h"
#include "SerialReceiver.h"

#ifndef _WIN32
#include "PortNames.h"
#include "PseudoTerminal.h"
#include "ScopedEnv.h"
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>

namespace {

// One expectation for every platform: the status line must not differ between front-ends.
TEST(FrameRulesTest, ALostPortGivesTheSameEscapedLineEverywhereAndMenusShowTheirPrompts)
{
    SerialReceiver receiver;
    FrameRules rules(receiver);
    EXPECT_EQ(rules.statusLine(), u"Ready");
    EXPECT_FALSE(rules.portLost()); // nothing reported

    PortFailure failure;
    failure.Index = 2;
    failure.DevicePath = "/dev/x\ty";
    failure.ErrorNumber = EIO;
    failure.Reason = "Input/output\r\nerror\x1b[0m";
    failure.Lost = true;
    rules.reportLostPort(failure);
    ASSERT_TRUE(rules.portLost());
    const std::u16string line = u"COM3 (/dev/x\\ty) が切断されました: Input/output\\r\\nerror"
                                u"\\x1b[0m。デバイスが取り外されたか、応答しません。";
    EXPECT_EQ(rules.statusLine(), line);

    rules.menuOpened();
    EXPECT_EQ(rules.statusLine(), u""); // a submenu or separator has no prompt
    rules.menuPrompt(u"終了");
    EXPECT_EQ(rules.statusLine(), u"終了");
    rules.menuOpened();
    rules.menuClosed();
    EXPECT_EQ(rules.statusLine(), u"");
    rules.menuClosed();
    EXPECT_EQ(rules.statusLine(), line);
    rules.menuPrompt(u"接続/切断"); // no menu open: ignored
    EXPECT_EQ(rules.statusLine(), line);

    EXPECT_EQ(oneLine(u"a\u2028b\u0085c\u007f"), u"a\\u2028b\\x85c\\x7f");
}

#ifndef _WIN32

template<typename Predicate>
bool eventually(Predicate predicate)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TEST(FrameRulesTest, ConnectAndSettingsDriveTheReceiverAndReportWhatDidNotOpen)
{
    PseudoTerminal line;
    const ScopedEnv missing(portOverrideVariable(19), "/nonexistent/vandrel-port");
    const ScopedEnv present(portOverrideVariable(2), line.slavePath());
    SerialReceiver receiver;
    receiver.start();
    FrameRules rules(receiver);

    rules.connect(19); // runs even without a port
    EXPECT_TRUE(receiver.isRunning());
    EXPECT_EQ(rules.statusLine().rfind(u"COM20 (/nonexistent/vandrel-port) を開けません", 0), 0u);
    rules.connect(19);
    EXPECT_FALSE(receiver.isRunning());

    rules.connect(19);
    EXPECT_FALSE(rules.settingsClosed(19, 19));
    EXPECT_TRUE(receiver.isRunning()); // unchanged: acquisition goes on
    EXPECT_TRUE(rules.settingsClosed(19, 2));
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_EQ(receiver.currentPort(), 2);
    EXPECT_EQ(rules.statusLine(), u"Ready");
}

// The frame's rules go before the receiver stops its thread. A port lost in between must reach
// nothing they owned (AddressSanitizer) and wake no window.
TEST(FrameRulesTest, APortLostWhileTheFrameCloses)
{
    auto line = std::make_unique<PseudoTerminal>();
    const ScopedEnv port(portOverrideVariable(2), line->slavePath());
    auto receiver = std::make_unique<SerialReceiver>();
    auto rules = std::make_unique<FrameRules>(*receiver);
    std::atomic<int> wakes {0};
    rules->watchLostPort([&wakes] { ++wakes; });
    receiver->start();
    rules->connect(2);
    ASSERT_EQ(receiver->currentPort(), 2);

    rules.reset();
    line.reset();
    ASSERT_TRUE(eventually([&] { return receiver->lastFailure().Lost; }));
    receiver.reset(); // the report, if under way, has been made once the thread is stopped
    EXPECT_EQ(wakes.load(), 0);
}

#endif

// A port lost, then a Connect to a missing port that fails: the loss's report, handled after
// that, must leave the newer failure in the status line.
TEST(FrameRulesTest, ALateLostPortReportLeavesANewerFailureStanding)
{
    SerialReceiver receiver;
    FrameRules rules(receiver);
#ifdef _WIN32
    // The test prefix maps COM20 to a path that does not exist. The loss is reported as the
    // receive thread does when it lost its port before the Connect.
    receiver.start();
    rules.connect(19);
    PortFailure lost;
    lost.Index = 2;
    lost.DevicePath = "\\\\.\\COM3";
    lost.ErrorNumber = EIO;
    lost.Reason = "Input/output error";
    lost.Lost = true;
    rules.reportLostPort(lost);
#else
    auto line = std::make_unique<PseudoTerminal>();
    const ScopedEnv present(portOverrideVariable(2), line->slavePath());
    const ScopedEnv missing(portOverrideVariable(19), "/nonexistent/vandrel-port");
    std::atomic<int> wakes {0};
    rules.watchLostPort([&wakes] { ++wakes; });
    receiver.start();
    rules.connect(2);
    ASSERT_EQ(receiver.currentPort(), 2);
    line.reset();
    ASSERT_TRUE(eventually([&] { return wakes.load() == 1; }));
    rules.connect(19); // acquisition ended with the port: this opens COM20
#endif
    const std::u16string newer = rules.statusLine();
    EXPECT_EQ(newer.rfind(u"COM20 (", 0), 0u);
    EXPECT_FALSE(rules.portLost());
    EXPECT_EQ(rules.statusLine(), newer);
}

} // namespace
