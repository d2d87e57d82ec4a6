#include "DecimalCommaLocale.h"
#include "PictureCheck.h"
#include "PseudoTerminal.h"
#include "VirtualDisplay.h"

#include "ScopeFrame.h"
#include "WaveformRenderer.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <memory>
#include <string>

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

// A window's rectangle with the window manager's frame, from the client's place and the frame
// extents the manager announces; nothing before the manager has framed it.
std::optional<QRect> frameRect(const VirtualDisplay &display, const QString &window)
{
    const auto info = runTool(QStandardPaths::findExecutable(u"xwininfo"_s), {u"-id"_s, window},
                              display.environment(), ExitBoundMs);
    const auto extents =
        runTool(QStandardPaths::findExecutable(u"xprop"_s),
                {u"-id"_s, window, u"_NET_FRAME_EXTENTS"_s}, display.environment(), ExitBoundMs);
    if (!info || !extents || !extents->contains('='))
        return std::nullopt;
    const auto field = [&](const char *name) {
        for (const QByteArray &line : info->split('\n'))
            if (line.trimmed().startsWith(name))
                return line.mid(line.indexOf(':') + 1).trimmed().toInt();
        return 0;
    };
    const QList<QByteArray> sides = extents->mid(extents->indexOf('=') + 1).split(',');
    if (sides.size() != 4)
        return std::nullopt;
    const int left = sides[0].trimmed().toInt();
    const int right = sides[1].trimmed().toInt();
    const int top = sides[2].trimmed().toInt();
    const int bottom = sides[3].trimmed().toInt();
    if (left + right + top + bottom == 0)
        return std::nullopt;
    return QRect(field("Absolute upper-left X") - left, field("Absolute upper-left Y") - top,
                 field("Width") + left + right, field("Height") + top + bottom);
}

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

// Under a window manager that frames windows, the About box's window rectangle, title bar
// included, is centred on the main window's.
TEST(ShellEndToEndTest, DialogsAreCentredByTheirFrameUnderAWindowManager)
{
    SKIP_WITHOUT_DISPLAY_TOOLS();
    for (const QString &tool : {u"openbox"_s, u"xwininfo"_s, u"xprop"_s})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            GTEST_SKIP() << "needs " << tool.toStdString() << ", not installed";
    VirtualDisplay display;
    ASSERT_TRUE(display.start(1280, 1024, StartBoundMs)) << "Xvfb did not start";

    QProcess manager;
    manager.setProcessEnvironment(display.environment());
    manager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithParent(manager);
    manager.start(QStandardPaths::findExecutable(u"openbox"_s), {u"--sm-disable"_s});
    ASSERT_TRUE(manager.waitForStarted(StartBoundMs));
    const auto stopManager = qScopeGuard([&] {
        manager.kill();
        manager.waitForFinished(ExitBoundMs);
    });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto check = runTool(QStandardPaths::findExecutable(u"xprop"_s),
                                       {u"-root"_s, u"_NET_SUPPORTING_WM_CHECK"_s},
                                       display.environment(), ExitBoundMs);
            return check && check->contains("window id");
        },
        StartBoundMs))
        << "the window manager did not come up";

    Viewer viewer;
    ASSERT_TRUE(viewer.start(display));
    std::optional<QRect> owner;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (owner = frameRect(display, *viewer.Window)).has_value(); }, StartBoundMs))
        << "the main window got no frame";

    ASSERT_TRUE(display.focusAndPress(*viewer.Window, u"alt+h"_s));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return display.visibleWindowsOf(viewer.Process.processId()) >= 2; }, ExitBoundMs))
        << "the Help menu did not open";
    ASSERT_TRUE(display.press(u"a"_s));
    const auto about = display.findWindow(u"^About$"_s, StartBoundMs);
    ASSERT_TRUE(about) << "no About box appeared";

    // The box is placed as soon as it is shown and corrected once its frame is known.
    std::optional<QRect> box;
    const auto centred = [&] {
        box = frameRect(display, *about);
        owner = frameRect(display, *viewer.Window);
        return box && owner && std::abs(box->center().x() - owner->center().x()) <= 1
            && std::abs(box->center().y() - owner->center().y()) <= 1;
    };
    const auto where = [&] {
        return "About's frame centre " + std::to_string(box ? box->center().x() : -1) + ","
            + std::to_string(box ? box->center().y() : -1) + " against the main window's "
            + std::to_string(owner ? owner->center().x() : -1) + ","
            + std::to_string(owner ? owner->center().y() : -1);
    };
    ASSERT_TRUE(QTest::qWaitFor(centred, PictureBoundMs)) << where();

    // A manager that gives the box another frame later (a theme with a taller title bar) only
    // publishes the new extents; nothing else reaches the program, and the box follows them.
    const QSize firstFrame = box->size();
    ASSERT_TRUE(runTool(QStandardPaths::findExecutable(u"xprop"_s),
                        {u"-id"_s, *about, u"-f"_s, u"_NET_FRAME_EXTENTS"_s, u"32c"_s, u"-set"_s,
                         u"_NET_FRAME_EXTENTS"_s, u"5, 7, 48, 9"_s},
                        display.environment(), ExitBoundMs));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return centred() && box->size() != firstFrame; }, PictureBoundMs))
        << where();
}
