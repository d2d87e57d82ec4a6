#include "FaultTestSupport.h"
#include "InstrumentProcess.h"

#include "CSettingDlg.h"
#include "CommandTable.h"

#include <QAction>
#include <QComboBox>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <malloc.h>
#include <random>
#include <thread>

using namespace Faults;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif

// Short enough for every run of the suite; VANDREL_SOAK_MS asks for a longer soak by hand.
constexpr int WarmUpMs = 1500;
const int SoakMs = [] {
    const int asked = qEnvironmentVariableIntValue("VANDREL_SOAK_MS");
    return asked > 0 ? asked : 4000;
}();
constexpr int MinimumProgressChecks = 3;
// A step that takes longer than this is a hang, whatever the load of the machine.
constexpr int StepBoundMs = 15000;
constexpr long MemoryAllowanceKb = 4 * 1024;

// Aborts the process, saying which step it was in, when the window's thread stops making
// progress: a deadlock must fail the run, not hold it until the harness gives up.
class Watchdog
{
public:
    Watchdog()
        : Thread([this] { watch(); })
    { }
    ~Watchdog()
    {
        Stopping.store(true);
        Thread.join();
    }
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

    void step(const char *name)
    {
        Step.store(name);
        Beats.fetch_add(1);
    }

private:
    void watch()
    {
        using namespace std::chrono_literals;
        std::uint64_t seen = Beats.load();
        auto lastChange = std::chrono::steady_clock::now();
        while (!Stopping.load()) {
            std::this_thread::sleep_for(100ms);
            if (const std::uint64_t beats = Beats.load(); beats != seen) {
                seen = beats;
                lastChange = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - lastChange
                       > std::chrono::milliseconds(2 * StepBoundMs)) {
                std::fprintf(stderr, "soak: no progress for %d ms in step '%s'\n", 2 * StepBoundMs,
                             Step.load());
                std::abort();
            }
        }
    }

    std::atomic<const char *> Step {"start"};
    std::atomic<std::uint64_t> Beats {0};
    std::atomic<bool> Stopping {false};
    std::thread Thread;
};

TEST(SoakTest, TheWindowSurvivesFaultyLinesWhileItIsConnectedSwitchedAndResized)
{
    // Each port carries a different mix of the instrument's faults; COM4 names no device.
    InstrumentProcess noisy(
        {"--fault", "noise", "--fault", "split", "--fault-every", "3", "--seed", "11"});
    InstrumentProcess overlong({"--fault", "overlong", "--fault", "bit7", "--fault-every", "2",
                                "--seed", "12", "--wave", "square"});
    InstrumentProcess silent({"--fault", "silence", "--fault", "noise", "--fault-every", "5",
                              "--seed", "13", "--wave", "sawtooth"});
    for (const InstrumentProcess *instrument : {&noisy, &overlong, &silent})
        ASSERT_FALSE(instrument->firstLine().empty()) << "the instrument did not start";
    ScopedEnv com1("VANDREL_COM1", noisy.firstLine());
    ScopedEnv com2("VANDREL_COM2", overlong.firstLine());
    ScopedEnv com3("VANDREL_COM3", silent.firstLine());
    ScopedEnv com4("VANDREL_COM4", "/nonexistent/vandrel-soak-com4");
    constexpr int LivePorts = 3;

    Watchdog watchdog;
    CMainFrame frame;
    showFrame(frame);
    SerialReceiver &receiver = frame.receiver();
    CVandrelViewerView &view = frame.view();

    std::mt19937 random(2024);
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    QElapsedTimer step;
    qint64 longestStepMs = 0;
    const auto finish = [&](const char *name) {
        longestStepMs = std::max(longestStepMs, step.elapsed());
        EXPECT_LT(step.elapsed(), StepBoundMs) << name;
        watchdog.step(name);
    };

    // Resident size depends on the window's size and on what the allocator keeps after a large
    // picture is freed; both are taken out, so that what is left is what the soak itself keeps.
    const QSize referenceSize(800, 600);
    const auto settledResidentKb = [&] {
        frame.resize(referenceSize);
        QCoreApplication::processEvents();
        // Drawn twice on the window's thread, so both pictures that take turns have the new size.
        view.RenderFrame();
        view.RenderFrame();
        QCoreApplication::processEvents();
        malloc_trim(0);
        return residentKb();
    };

    int steps = 0;
    int connects = 0;
    int portChanges = 0;
    int resizes = 0;
    int progressChecks = 0;
    long warmResidentKb = 0;
    CpuShare warmCpu;
    QElapsedTimer total;
    total.start();

    // The steps are drawn from a fixed seed, so the soak runs on until it has seen frames flow
    // a few times, however few steps a slow machine fits into its time.
    const auto soaking = [&] {
        const qint64 elapsed = total.elapsed();
        return elapsed < WarmUpMs + SoakMs
            || (progressChecks < MinimumProgressChecks && elapsed < 3 * (WarmUpMs + SoakMs));
    };
    while (soaking() && !testing::Test::HasFatalFailure()) {
        if (warmResidentKb == 0 && total.elapsed() >= WarmUpMs) {
            warmResidentKb = settledResidentKb();
            warmCpu.restart();
        }
        ++steps;
        step.start();
        switch (pick(0, 9)) {
        case 0:
        case 1:
        case 2: {
            const bool wasRunning = receiver.isRunning();
            pressSpace(frame);
            EXPECT_NE(receiver.isRunning(), wasRunning) << "Space did not reach the frame";
            ++connects;
            finish("connect or disconnect");
            break;
        }
        case 3:
        case 4: {
            const int port = pick(0, LivePorts);
            whenModal([&frame, port](QWidget *modal) {
                EXPECT_EQ(modal, &frame.settingDialog());
                frame.settingDialog().portCombo()->setCurrentIndex(port);
                QMetaObject::invokeMethod(&frame.settingDialog(), &CSettingDlg::accept,
                                          Qt::QueuedConnection);
            });
            frame.commandAction(IdSettings)->trigger();
            EXPECT_EQ(frame.settingDialog().SelectedPort, port);
            // No window manager hands the activation back after a modal dialog here.
            frame.activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(&frame));
            ++portChanges;
            finish("port change");
            break;
        }
        case 5:
        case 6:
            frame.resize(pick(320, 1400), pick(260, 1000));
            QCoreApplication::processEvents();
            ++resizes;
            finish("resize");
            break;
        default: {
            // On a live port the picture must keep coming. A stopped frame is started first, so
            // that even a short soak sees frames flow often.
            if (!receiver.isRunning()) {
                pressSpace(frame);
                EXPECT_TRUE(receiver.isRunning()) << "Space did not reach the frame";
                ++connects;
            }
            const int port = receiver.currentPort();
            if (receiver.isRunning() && port >= 0 && port < LivePorts) {
                const std::uint64_t passes = view.renderPassCount();
                EXPECT_TRUE(
                    QTest::qWaitFor([&] { return view.renderPassCount() > passes; }, WaitBoundMs))
                    << "no picture from COM" << port + 1;
                ++progressChecks;
            }
            finish("frames flow");
            break;
        }
        }
        QTest::qWait(pick(20, 150));
        watchdog.step("between steps");
    }

    const double cpuShare = warmCpu.share();
    const long endResidentKb = settledResidentKb();
    std::cout << "soak: " << steps << " steps (" << connects << " connects/disconnects, "
              << portChanges << " port changes, " << resizes << " resizes, " << progressChecks
              << " progress checks) in " << total.elapsed() / 1000.0 << " s\n"
              << "soak: longest step " << longestStepMs << " ms\n"
              << "soak: CPU " << cpuShare * 100.0 << " % of one core after warm-up\n"
              << "soak: resident " << warmResidentKb << " kB after warm-up, " << endResidentKb
              << " kB at the end (" << (endResidentKb - warmResidentKb) << " kB)\n";

    EXPECT_TRUE(noisy.running() && overlong.running() && silent.running());
    EXPECT_GE(progressChecks, MinimumProgressChecks) << "too few chances to see frames flow";
    EXPECT_LT(cpuShare, Sanitized ? 0.9 : 0.5) << "far more than a viewer should use";
    if (Sanitized)
        std::cout << "soak: resident size not judged: the sanitizer's quarantine keeps freed "
                     "memory\n";
    else
        EXPECT_LT(endResidentKb - warmResidentKb, MemoryAllowanceKb) << "memory grows";

    frame.close();
    watchdog.step("closed");
}

} // namespace
