#include "FaultTestSupport.h"

#include "CSettingDlg.h"
#include "CommandTable.h"

#include <QAction>
#include <QComboBox>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <random>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace Faults;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif

constexpr int WarmUpMs = 8000;
constexpr int SoakMs = 40000;
// A step that takes longer than this is a hang, whatever the load of the machine.
constexpr int StepBoundMs = 15000;
constexpr long MemoryAllowanceKb = 8 * 1024;

// One simulated instrument on its own pseudo-terminal, stopped when the object goes. Started with
// a plain fork and exec, which the sanitizers follow, and ended with the test even when the test
// is killed.
class Instrument
{
public:
    explicit Instrument(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), VANDREL_INSTRUMENT_PATH);
        std::vector<char *> argv;
        for (std::string &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);

        int out[2] = {-1, -1};
        if (::pipe2(out, O_CLOEXEC) != 0)
            return;
        const pid_t parent = ::getpid();
        Pid = ::fork();
        if (Pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit(127);
            ::dup2(out[1], STDOUT_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        // The first line is the device path; the rest of the output is not needed.
        std::string line;
        char c = 0;
        pollfd ready {out[0], POLLIN, 0};
        while (Pid > 0 && ::poll(&ready, 1, WaitBoundMs) == 1 && ::read(out[0], &c, 1) == 1
               && c != '\n')
            line += c;
        ::close(out[0]);
        DevicePath = line;
    }
    ~Instrument()
    {
        if (Pid <= 0 || Reaped)
            return;
        ::kill(Pid, SIGTERM);
        int status = 0;
        ::waitpid(Pid, &status, 0);
    }
    Instrument(const Instrument &) = delete;
    Instrument &operator=(const Instrument &) = delete;

    const std::string &devicePath() const { return DevicePath; }
    bool running() const
    {
        int status = 0;
        if (Pid > 0 && !Reaped && ::waitpid(Pid, &status, WNOHANG) == Pid)
            Reaped = true;
        return Pid > 0 && !Reaped;
    }

private:
    pid_t Pid = -1;
    mutable bool Reaped = false;
    std::string DevicePath;
};

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
    Instrument noisy(
        {"--fault", "noise", "--fault", "split", "--fault-every", "3", "--seed", "11"});
    Instrument overlong({"--fault", "overlong", "--fault", "bit7", "--fault-every", "2", "--seed",
                         "12", "--wave", "square"});
    Instrument silent({"--fault", "silence", "--fault", "noise", "--fault-every", "5", "--seed",
                       "13", "--wave", "sawtooth"});
    for (const Instrument *instrument : {&noisy, &overlong, &silent})
        ASSERT_FALSE(instrument->devicePath().empty()) << "the instrument did not start";
    ScopedEnv com1("VANDREL_COM1", noisy.devicePath());
    ScopedEnv com2("VANDREL_COM2", overlong.devicePath());
    ScopedEnv com3("VANDREL_COM3", silent.devicePath());
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

    int steps = 0;
    int connects = 0;
    int portChanges = 0;
    int resizes = 0;
    int progressChecks = 0;
    long warmResidentKb = 0;
    double warmCpu = 0;
    QElapsedTimer warmWall;
    QElapsedTimer total;
    total.start();

    while (total.elapsed() < WarmUpMs + SoakMs && !testing::Test::HasFatalFailure()) {
        if (warmResidentKb == 0 && total.elapsed() >= WarmUpMs) {
            warmResidentKb = residentKb();
            warmCpu = processCpuSeconds();
            warmWall.start();
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
            // On a live port the picture must keep coming.
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
        QTest::qWait(pick(20, 400));
        watchdog.step("between steps");
    }

    const double cpuShare =
        (processCpuSeconds() - warmCpu) / (static_cast<double>(warmWall.nsecsElapsed()) / 1e9);
    const long endResidentKb = residentKb();
    std::cout << "soak: " << steps << " steps (" << connects << " connects/disconnects, "
              << portChanges << " port changes, " << resizes << " resizes, " << progressChecks
              << " progress checks) in " << total.elapsed() / 1000.0 << " s\n"
              << "soak: longest step " << longestStepMs << " ms\n"
              << "soak: CPU " << cpuShare * 100.0 << " % of one core after warm-up\n"
              << "soak: resident " << warmResidentKb << " kB after warm-up, " << endResidentKb
              << " kB at the end (" << (endResidentKb - warmResidentKb) << " kB)\n";

    EXPECT_TRUE(noisy.running() && overlong.running() && silent.running());
    EXPECT_GE(progressChecks, 3) << "too few chances to see frames flow";
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
