#include "DecimalCommaLocale.h"
#include "PictureCheck.h"
#include "PseudoTerminal.h"
#include "VirtualDisplay.h"

#include "ScopeFrame.h"
#include "WaveformRenderer.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <memory>

#include <sys/ioctl.h>

using namespace Qt::Literals::StringLiterals;
using namespace PictureCheck;

namespace {

constexpr int StartBoundMs = 20000;
constexpr int PictureBoundMs = 20000;
constexpr int ExitBoundMs = 10000;

// The real program on a private display with its COM1 on a pseudo-terminal; killed when the
// test ends early.
struct Viewer
{
    PseudoTerminal Com1;
    QProcess Process;
    std::optional<QString> Window;

    ~Viewer()
    {
        if (Process.state() != QProcess::NotRunning) {
            Process.kill();
            Process.waitForFinished(ExitBoundMs);
        }
    }

    bool start(const VirtualDisplay &display, const QProcessEnvironment &extra = {})
    {
        // Held open by the test, so the device keeps its state after the program has gone.
        Com1.watchSlave();
        QProcessEnvironment environment = display.environment();
        environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        environment.insert(u"VANDREL_COM1"_s, QString::fromStdString(Com1.slavePath()));
        environment.insert(u"TSAN_OPTIONS"_s,
                           environment.value(u"TSAN_OPTIONS"_s)
                               + u" ignore_noninstrumented_modules=1"_s);
        environment.insert(extra);
        Process.setProcessEnvironment(environment);
        Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        endWithParent(Process);
        Process.start(QStringLiteral(VANDREL_VIEWER_PATH), {});
        if (!Process.waitForStarted(StartBoundMs))
            return false;
        Process.closeWriteChannel();
        Window = display.findWindow(u"^VandrelViewer$"_s, StartBoundMs);
        return Window.has_value();
    }

    // Whether the device still turns other openers away; nothing when it cannot be asked.
    std::optional<bool> portExclusive() const
    {
        int exclusive = 0;
        if (::ioctl(Com1.watchFd(), TIOCGEXCL, &exclusive) != 0)
            return std::nullopt;
        return exclusive != 0;
    }

    // Waits until the program holds the port, which it opens while it builds its window.
    bool awaitPortHeld() const
    {
        return QTest::qWaitFor([&] { return portExclusive() == true; }, StartBoundMs);
    }

    // The program ended by itself as after a close: code 1, and the port released.
    void expectEndedAsAfterAClose(const char *how)
    {
        // An earlier wait may have seen the end already; waitForFinished is false then.
        ASSERT_TRUE(Process.state() == QProcess::NotRunning || Process.waitForFinished(ExitBoundMs))
            << how << ": the program did not end (" << Process.errorString().toStdString() << ")";
        EXPECT_EQ(Process.exitStatus(), QProcess::NormalExit) << how;
        EXPECT_EQ(Process.exitCode(), 1) << how;
        EXPECT_EQ(portExclusive(), false) << how << ": the port is still locked";
    }
};

#define SKIP_WITHOUT_DISPLAY_TOOLS()                                                               \
    if (const QString missing = VirtualDisplay::missingTools(); !missing.isEmpty())                \
    GTEST_SKIP() << "needs " << missing.toStdString() << ", not installed"

} // namespace

// Started from a desktop whose locale writes decimal commas, the overlay still shows decimal
// points: the numbers are those of the instrument's own display.
TEST(ShellEndToEndTest, OverlayNumbersIgnoreADecimalCommaLocale)
{
    SKIP_WITHOUT_DISPLAY_TOOLS();
    const auto locale = decimalCommaLocale();
    if (!locale)
        GTEST_SKIP() << "no decimal-comma locale available and none can be made";
    VirtualDisplay display;
    ASSERT_TRUE(display.start(1280, 1024, StartBoundMs)) << "Xvfb did not start";

    QProcessEnvironment environment;
    environment.insert(u"LC_ALL"_s, QString::fromStdString(locale->Name));
    environment.insert(u"LANG"_s, QString::fromStdString(locale->Name));
    if (!locale->Path.empty())
        environment.insert(u"LOCPATH"_s, QString::fromStdString(locale->Path));
    Viewer viewer;
    ASSERT_TRUE(viewer.start(display, environment));
    ASSERT_TRUE(viewer.awaitPortHeld());
    ASSERT_TRUE(display.focusAndPress(*viewer.Window, u"space"_s));

    // 10 V, 1000 ns, level 0.3: three lines with a fraction.
    std::vector<std::uint8_t> data(ScopeFrame::Size - 1, 20);
    const std::uint8_t header[] = {0x24, 0x03, 0x20, 0x08};
    std::copy(std::begin(header), std::end(header), data.begin());
    ScopeFrame frame;
    std::copy(data.begin(), data.end(), frame.Bytes.begin());
    std::vector<std::uint8_t> burst = lineFrame(data);
    burst.push_back(0x7C);
    const OverlayTexts texts = {u"Connect: COM1"_s,         u"Coupling: DC"_s,
                                u"Trigger Type: +INTERN"_s, u"Trigger Level: 0.3"_s,
                                u"Time Base: 1000nsec"_s,   u"Voltage: 10V"_s,
                                u"V-Div: 1.250V"_s,         u"H-Div: 16000.000nsec"_s};

    QStringList faults;
    const QDeadlineTimer deadline(PictureBoundMs);
    do {
        ASSERT_TRUE(viewer.Com1.write(burst));
        faults.clear();
        const QImage shot = display.capture(*viewer.Window);
        const auto view = locateView(shot);
        if (!view) {
            faults << u"no view in the window"_s;
            continue;
        }
        const Placement placement = placementFor(*view);
        QImage expected(view->size(), QImage::Format_RGB32);
        WaveformRenderer::renderDirect(expected, WaveformRenderer::StandardTools().tools(), frame,
                                       texts);
        for (const int line : {0, 3, 6, 7}) {
            const QRect band = textLineBand(placement, line);
            const int ink = textPixels(shot, band);
            const int differing =
                differingPixels(shot, band, expected, band.translated(-view->topLeft()));
            if (ink < 20 || differing > ink / 40)
                faults << u"\"%1\" is not what the window shows"_s.arg(texts[std::size_t(line)]);
        }
    } while (!faults.isEmpty() && !deadline.hasExpired());
    EXPECT_TRUE(faults.isEmpty()) << faults.join(u"; "_s).toStdString();
}

// Each termination signal ends the program through its ordinary close: code 1, and the port no
// longer exclusive, so the next viewer is not told that another program holds it.
TEST(ShellEndToEndTest, TerminationSignalsEndTheProgramAsExitDoes)
{
    SKIP_WITHOUT_DISPLAY_TOOLS();
    VirtualDisplay display;
    ASSERT_TRUE(display.start(1024, 768, StartBoundMs)) << "Xvfb did not start";

    const std::pair<int, const char *> endings[] = {
        {SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};
    std::vector<std::unique_ptr<Viewer>> viewers;
    for (std::size_t index = 0; index < std::size(endings); ++index) {
        viewers.push_back(std::make_unique<Viewer>());
        ASSERT_TRUE(viewers.back()->start(display)) << endings[index].second;
    }
    for (std::size_t index = 0; index < std::size(endings); ++index) {
        Viewer &viewer = *viewers[index];
        ASSERT_TRUE(viewer.awaitPortHeld()) << endings[index].second;
        ASSERT_EQ(::kill(static_cast<pid_t>(viewer.Process.processId()), endings[index].first), 0);
    }
    for (std::size_t index = 0; index < std::size(endings); ++index)
        viewers[index]->expectEndedAsAfterAClose(endings[index].second);
}

// Another client destroys the main window (a "close window" tool does so): the program must
// not live on without a window while it holds the port.
TEST(ShellEndToEndTest, AMainWindowDestroyedFromOutsideEndsTheProgram)
{
    SKIP_WITHOUT_DISPLAY_TOOLS();
    VirtualDisplay display;
    ASSERT_TRUE(display.start(1024, 768, StartBoundMs)) << "Xvfb did not start";
    Viewer viewer;
    ASSERT_TRUE(viewer.start(display));
    ASSERT_TRUE(viewer.awaitPortHeld());

    ASSERT_TRUE(runTool(QStandardPaths::findExecutable(u"xdotool"_s),
                        {u"windowclose"_s, *viewer.Window}, display.environment(), ExitBoundMs));
    viewer.expectEndedAsAfterAClose("window destroyed");
}

// The informational options need no display: packaging and man page tools run them on build
// machines. Both name the same version.
TEST(ShellEndToEndTest, HelpAndVersionAnswerWithoutADisplay)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"DISPLAY"_s);
    environment.remove(u"WAYLAND_DISPLAY"_s);
    environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);

    const auto version =
        runTool(QStringLiteral(VANDREL_VIEWER_PATH), {u"--version"_s}, environment, ExitBoundMs);
    ASSERT_TRUE(version) << "--version failed";
    EXPECT_EQ(*version, "VandrelViewer 1.0.0.1\n");

    const auto help =
        runTool(QStringLiteral(VANDREL_VIEWER_PATH), {u"--help"_s}, environment, ExitBoundMs);
    ASSERT_TRUE(help) << "--help failed";
    EXPECT_TRUE(help->startsWith("Usage: VandrelViewer [options]\n")) << help->toStdString();
    EXPECT_TRUE(help->contains("1.0.0.1"));
    EXPECT_FALSE(help->contains("v1.0 ")) << "a second, shorter version";
    EXPECT_TRUE(help->contains("--version"));
}
