#include "ShellTestSupport.h"

#include "PseudoTerminal.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace Qt::Literals::StringLiterals;

namespace {

// Runs a short helper program to its end; answers its standard output, or nothing on failure.
std::optional<QByteArray> runTool(const QString &program, const QStringList &arguments,
                                  const QProcessEnvironment &environment)
{
    QProcess tool;
    tool.setProcessEnvironment(environment);
    tool.start(program, arguments);
    if (!tool.waitForFinished(WaitBoundMs) || tool.exitStatus() != QProcess::NormalExit
        || tool.exitCode() != 0)
        return std::nullopt;
    return tool.readAllStandardOutput();
}

// Pixels whose colour passes the test. Lines are anti-aliased and scaled, so most of their
// pixels are blends with the background rather than the pen's exact colour.
int countPixels(const QImage &image, const std::function<bool(int, int, int)> &test)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            count += test(qRed(pixel), qGreen(pixel), qBlue(pixel));
        }
    return count;
}

bool isBackground(int r, int g, int b)
{
    return r == 0 && g == 0 && b == 64;
}
bool isTrace(int r, int g, int b)
{
    return g >= 150 && g > r + 80 && g > b + 80;
}
bool isGraticule(int r, int g, int b)
{
    return b >= 110 && b > r + 90 && g >= 30 && g < b;
}
bool isText(int r, int g, int b)
{
    return r >= 200 && g >= 200 && b >= 140 && b < 240;
}

} // namespace

// The real executable on a virtual X server: it opens its window, draws the graticule, connects
// on Space, shows a frame from the line, and ends with 1 when closed through the File menu.
TEST(AppSmokeTest, TheProgramShowsItsWindowOnAnXServerAndEndsWithOneWhenClosed)
{
    const QString xvfb = QStandardPaths::findExecutable(u"Xvfb"_s);
    const QString xdotool = QStandardPaths::findExecutable(u"xdotool"_s);
    const QString import = QStandardPaths::findExecutable(u"import"_s);
    if (xvfb.isEmpty() || xdotool.isEmpty() || import.isEmpty())
        GTEST_SKIP() << "needs Xvfb, xdotool and ImageMagick's import, which are not installed";

    // A display number that no other server uses.
    int display = 200 + static_cast<int>(QCoreApplication::applicationPid() % 300);
    while (QFile::exists(u"/tmp/.X11-unix/X%1"_s.arg(display))
           || QFile::exists(u"/tmp/.X%1-lock"_s.arg(display)))
        ++display;
    const QString displayName = u":%1"_s.arg(display);

    QProcess server;
    server.start(xvfb,
                 {displayName, u"-screen"_s, u"0"_s, u"1024x768x24"_s, u"-nolisten"_s, u"tcp"_s,
                  u"-noreset"_s});
    ASSERT_TRUE(server.waitForStarted(WaitBoundMs));
    const auto stopServer = qScopeGuard([&] {
        server.terminate();
        server.waitForFinished(WaitBoundMs);
    });

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DISPLAY"_s, displayName);
    environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    // The viewer of a thread-sanitizer build leaves Qt's own thread pool out, as the tests do.
    environment.insert(u"TSAN_OPTIONS"_s,
                       environment.value(u"TSAN_OPTIONS"_s)
                           + u" ignore_noninstrumented_modules=1"_s);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return runTool(xdotool, {u"getdisplaygeometry"_s}, environment).has_value(); },
        WaitBoundMs));

    PseudoTerminal com1;
    environment.insert(u"VANDREL_COM1"_s, QString::fromStdString(com1.slavePath()));
    QProcess viewer;
    viewer.setProcessEnvironment(environment);
    viewer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    viewer.start(QStringLiteral(VANDREL_VIEWER_PATH), {});
    ASSERT_TRUE(viewer.waitForStarted(WaitBoundMs));
    viewer.closeWriteChannel();
    const auto stopViewer = qScopeGuard([&] {
        if (viewer.state() != QProcess::NotRunning) {
            viewer.kill();
            viewer.waitForFinished(WaitBoundMs);
        }
    });

    QString window;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto found = runTool(
                xdotool, {u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^VandrelViewer$"_s},
                environment);
            if (found && !found->trimmed().isEmpty())
                window = QString::fromLatin1(found->trimmed().split('\n').first());
            return !window.isEmpty();
        },
        WaitBoundMs))
        << "no window named VandrelViewer appeared";
    runTool(xdotool, {u"windowfocus"_s, u"--sync"_s, window}, environment);
    ASSERT_TRUE(runTool(xdotool, {u"key"_s, u"--window"_s, window, u"space"_s}, environment));

    // The connected receiver reads what the line brings; a flat-topped trace at the top value.
    std::vector<std::uint8_t> data = frameData(1);
    std::fill(data.begin() + 3, data.begin() + 3 + 128, 0x3F);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString shot = folder.filePath(u"window.png"_s);
    QImage picture;
    const bool drawn = QTest::qWaitFor(
        [&] {
            std::vector<std::uint8_t> line = lineFrame(data);
            line.push_back(0x7C);
            com1.write(line);
            if (!runTool(import, {u"-window"_s, window, shot}, environment))
                return false;
            picture = QImage(shot);
            return countPixels(picture, isTrace) > 100;
        },
        WaitBoundMs);
    ASSERT_FALSE(picture.isNull());
    EXPECT_TRUE(drawn) << "no trace in the window";
    // Background, graticule lines and overlay text: a picture, not a blank window.
    EXPECT_GT(countPixels(picture, isBackground), picture.width() * picture.height() / 4);
    EXPECT_GT(countPixels(picture, isGraticule), 500);
    EXPECT_GT(countPixels(picture, isText), 50);

    // File menu, Exit: the window closes and the program ends with 1.
    ASSERT_TRUE(runTool(xdotool, {u"key"_s, u"--window"_s, window, u"alt+f"_s}, environment));
    QTest::qWait(300);
    ASSERT_TRUE(runTool(xdotool, {u"key"_s, u"x"_s}, environment));
    ASSERT_TRUE(viewer.waitForFinished(WaitBoundMs)) << "the program did not end";
    EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(viewer.exitCode(), 1);
}
