#include "PictureCheck.h"
#include "PseudoTerminal.h"
#include "VirtualDisplay.h"

#include "InstrumentFrames.h"
#include "ScopeFrame.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <random>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace PictureCheck;

namespace {

// Bounds for a loaded two-core machine; Wine starts slowly, the more so in a fresh prefix.
constexpr int PrefixBoundMs = 240000;
constexpr int WineToolBoundMs = 60000;
constexpr int StartBoundMs = 60000;
constexpr int PictureBoundMs = 30000;
constexpr int DialogBoundMs = 20000;
constexpr int ExitBoundMs = 20000;

// The fed line's header: coupling DC, 10 V, 1000 ns, trigger +INTERN, level 0.3.
constexpr std::uint8_t Header[4] = {0x24, 0x03, 0x20, 0x08};

// What the instrument plays with a still trace: its default header and a triangle.
Samples instrumentSamples()
{
    SignalShape shape;
    shape.Wave = Waveform::Triangle;
    shape.DriftHz = 0.0;
    std::mt19937 rng(1);
    const std::vector<std::uint8_t> data = frameData(HeaderCodes(), shape, 0.0, rng);
    Samples samples {};
    std::copy(data.begin() + 4, data.begin() + 4 + 128, samples.begin());
    return samples;
}

// A falling ramp: another picture for the second port.
Samples fallingRamp()
{
    Samples samples {};
    for (int i = 0; i < 128; ++i)
        samples[i] = static_cast<std::uint8_t>(60 - (i * 56) / 127);
    return samples;
}

std::vector<std::uint8_t> burstOf(const Samples &samples, int frames = 4)
{
    std::vector<std::uint8_t> data(ScopeFrame::Size - 1, 0);
    std::copy(std::begin(Header), std::end(Header), data.begin());
    std::copy(samples.begin(), samples.end(), data.begin() + 4);
    std::vector<std::uint8_t> burst;
    for (int i = 0; i < frames; ++i) {
        const std::vector<std::uint8_t> one = lineFrame(data);
        burst.insert(burst.end(), one.begin(), one.end());
    }
    burst.push_back(0x7C);
    return burst;
}

// Writes as much of the bytes as the line takes now. A program that is not reading must not
// stall the test: what does not fit is dropped, and a partial frame ends at the next marker.
void offer(PseudoTerminal &line, const std::vector<std::uint8_t> &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        pollfd ready {line.masterFd(), POLLOUT, 0};
        if (::poll(&ready, 1, 0) != 1 || (ready.revents & POLLOUT) == 0)
            return;
        const ssize_t n = ::write(line.masterFd(), bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

// An empty text means all is well; anything else is the fault, told in full.
testing::AssertionResult isRight(const QString &fault)
{
    if (fault.isEmpty())
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << fault.toStdString();
}

QString keep(const QImage &shot, const QString &name)
{
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    shot.save(path);
    return path;
}

// Columns of the band that hold text ink, from the first to the last.
int inkWidth(const QImage &shot, const QRect &band)
{
    int first = -1;
    int last = -1;
    for (int x = band.left(); x <= band.right(); ++x)
        if (textPixels(shot, QRect(x, band.top(), 1, band.height())) > 0) {
            if (first < 0)
                first = x;
            last = x;
        }
    return first < 0 ? 0 : last - first + 1;
}

struct Verdict
{
    QImage Shot;
    QStringList Faults;
    Placement Placed;
};

// What is wrong with the picture in the capture: graticule, trace, background, and ink on
// every text line. The glyphs themselves are Wine's; their checks are made by the caller.
QStringList faultsOf(const QImage &shot, const Samples &samples, Placement *placed)
{
    if (shot.isNull())
        return {u"no capture of the window"_s};
    const auto view = locateView(shot);
    if (!view)
        return {u"no view of the background colour in the window"_s};
    *placed = placementFor(*view);
    // Wine's GDI+ leaves dash lengths out of the world transform at some scales.
    QStringList faults = checkGraticule(shot, *placed, samples, Dashes::ScaledOrDevicePixels)
        + checkTrace(shot, *placed, samples) + checkBackground(shot, *placed, samples);
    for (int line = 0; line < 8; ++line)
        if (textPixels(shot, textLineBand(*placed, line)) < 20)
            faults << u"text line %1 has no ink"_s.arg(line + 1);
    return faults;
}

// Captures until the picture is right and the extra condition holds, or the bound runs out.
Verdict awaitPicture(const VirtualDisplay &display, const QString &window,
                     const std::function<void()> &feed, const Samples &samples,
                     const std::function<QString(const Verdict &)> &extra = {})
{
    Verdict verdict;
    const QDeadlineTimer deadline(PictureBoundMs);
    do {
        if (feed)
            feed();
        verdict.Shot = display.capture(window);
        verdict.Faults = faultsOf(verdict.Shot, samples, &verdict.Placed);
        if (verdict.Faults.isEmpty() && extra)
            if (const QString fault = extra(verdict); !fault.isEmpty())
                verdict.Faults << fault;
    } while (!verdict.Faults.isEmpty() && !deadline.hasExpired());
    return verdict;
}

// The centre of the pixels of a colour in the rows above the view, right of a column.
std::optional<QPoint> colourCentre(const QImage &shot, int bottom, int fromX,
                                   const std::function<bool(QRgb)> &matches)
{
    long long sumX = 0;
    long long sumY = 0;
    long long count = 0;
    for (int y = 0; y < bottom; ++y)
        for (int x = fromX; x < shot.width(); ++x)
            if (matches(shot.pixel(x, y))) {
                sumX += x;
                sumY += y;
                ++count;
            }
    if (count < 6)
        return std::nullopt;
    return QPoint(static_cast<int>(sumX / count), static_cast<int>(sumY / count));
}

// A private Wine prefix, or the prepared one the test run hands over.
class WinePrefix
{
public:
    bool prepare(const QProcessEnvironment &base)
    {
        Environment = base;
        Environment.insert(u"WINEDEBUG"_s, u"-all"_s);
        // No Mono or Gecko, which nothing here needs, and no menu entries on the host for the
        // shortcuts that an installer makes.
        Environment.insert(u"WINEDLLOVERRIDES"_s, u"mscoree,mshtml=;winemenubuilder.exe=d"_s);
        // The test command prepares one prefix for all Windows tests of a run.
        QString prepared = qEnvironmentVariable("WINEPREFIX");
        if (prepared.isEmpty())
            prepared = qEnvironmentVariable("VANDREL_WINEPREFIX");
        if (!prepared.isEmpty() && QFileInfo(prepared).isDir()) {
            Environment.insert(u"WINEPREFIX"_s, prepared);
            return true;
        }
        if (!Own.isValid())
            return false;
        Environment.insert(u"WINEPREFIX"_s, Own.path());
        return runTool(wine(), {u"wineboot"_s, u"-i"_s}, Environment, PrefixBoundMs).has_value()
            && stopServer();
    }

    // The ports, and fonts in place of those a Windows installation has: Times New Roman and the
    // user interface faces by their metric-compatible Linux fonts, Japanese from Noto CJK; or,
    // without the replacements, only the faces that the system has under their own names. Wine
    // reads all of it when its server starts. COM1 to COM20 are all mapped, those not given to a
    // path that does not exist: Wine gives a serial device of the machine the first name left.
    bool configure(const std::vector<std::pair<QString, std::string>> &ports,
                   bool replaceFonts = true)
    {
        QByteArray script = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n";
        for (int n = 1; n <= 20; ++n) {
            const QString name = u"COM%1"_s.arg(n);
            QByteArray device = Scratch.filePath(u"no-such-port/"_s + name).toUtf8();
            for (const auto &[given, path] : ports)
                if (given == name)
                    device = QByteArray::fromStdString(path);
            script += "\"" + name.toLatin1() + "\"=\"" + device + "\"\r\n";
        }
        if (!replaceFonts)
            return import(script
                          + "\r\n[-HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n");
        script += "\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"
                  "\"Times New Roman\"=\"Liberation Serif\"\r\n"
                  "\"Microsoft Sans Serif\"=\"Liberation Sans\"\r\n"
                  "\"MS Sans Serif\"=\"Liberation Sans\"\r\n"
                  "\"MS Shell Dlg\"=\"Liberation Sans\"\r\n"
                  "\"Tahoma\"=\"Liberation Sans\"\r\n"
                  "\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\"
                  "FontLink\\SystemLink]\r\n";
        for (const auto &[face, link] :
             {std::pair {"Liberation Serif", "NotoSerifCJK-Regular.ttc,Noto Serif CJK JP"},
              std::pair {"Liberation Sans", "NotoSansCJK-Regular.ttc,Noto Sans CJK JP"}}) {
            QByteArray bytes = QByteArray(link) + '\0' + '\0';
            QByteArray hex;
            for (char c : bytes)
                hex += (hex.isEmpty() ? "" : ",")
                    + QByteArray::number(static_cast<uchar>(c), 16).rightJustified(2, '0');
            script += "\"" + QByteArray(face) + "\"=hex(7):" + hex + "\r\n";
        }
        return import(script);
    }

    bool import(const QByteArray &script)
    {
        QFile file(Scratch.filePath(u"vandrel.reg"_s));
        if (!Scratch.isValid() || !file.open(QIODevice::WriteOnly) || file.write(script) < 0)
            return false;
        file.close();
        // Wine's drive Z: is the Linux root.
        const QString windowsPath = u"Z:"_s + file.fileName().replace(u'/', u'\\');
        return runTool(wine(), {u"reg"_s, u"import"_s, windowsPath}, Environment, WineToolBoundMs)
            .has_value();
    }

    // Before a program starts: the server runs with the map, and no name from COM1 to COM20
    // leads to a serial device of the machine. Answers what is wrong, or nothing.
    QString portFault() const
    {
        run({u"reg"_s, u"query"_s, u"HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM"_s});
        const QDir devices(Environment.value(u"WINEPREFIX"_s) + u"/dosdevices"_s);
        for (int n = 1; n <= 20; ++n) {
            const QFileInfo link(devices.filePath(u"com%1"_s.arg(n)));
            if (!link.isSymLink())
                return u"COM%1 is not mapped"_s.arg(n);
            const QString target = link.exists() ? link.canonicalFilePath() : link.symLinkTarget();
            if (target.startsWith(u"/dev/ttyS"_s))
                return u"COM%1 leads to %2, a serial device of the machine"_s.arg(n).arg(target);
        }
        return {};
    }

    bool stopServer()
    {
        runTool(wineserver(), {u"-k"_s}, Environment, WineToolBoundMs);
        return runTool(wineserver(), {u"-w"_s}, Environment, WineToolBoundMs).has_value();
    }

    // Runs a Windows program of the prefix to its end; its output, or nothing when it failed.
    std::optional<QByteArray> run(const QStringList &arguments) const
    {
        return runTool(wine(), arguments, Environment, WineToolBoundMs);
    }

    // The prefix's drive C: as a Linux path.
    QDir driveC() const { return QDir(Environment.value(u"WINEPREFIX"_s) + u"/drive_c"_s); }

    const QProcessEnvironment &environment() const { return Environment; }
    static QString wine() { return QStandardPaths::findExecutable(u"wine"_s); }
    static QString wineserver()
    {
        const QString onPath = QStandardPaths::findExecutable(u"wineserver"_s);
        return onPath.isEmpty() ? u"/usr/lib/wine/wineserver"_s : onPath;
    }

private:
    QTemporaryDir Own;
    QTemporaryDir Scratch;
    QProcessEnvironment Environment;
};

// A Linux path as the prefix's programs see it: Wine's drive Z: is the Linux root.
QString windowsPathOf(QString path)
{
    return u"Z:"_s + path.replace(u'/', u'\\');
}

// Files and folders of the prefix's drive C: whose names mention the program.
QStringList tracesOfTheProgram(const WinePrefix &prefix)
{
    QStringList found;
    QDirIterator it(prefix.driveC().path(), {u"*VandrelViewer*"_s},
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

// The entries of the list of installed programs, as the registry tool prints them.
QString installedPrograms(const WinePrefix &prefix)
{
    const auto listed =
        prefix.run({u"reg"_s, u"query"_s,
                    u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s, u"/s"_s});
    return listed ? QString::fromUtf8(*listed).remove(u'\r') : QString();
}

// The values of the one entry whose display name is the program's, or nothing.
QString installedEntry(const QString &programs)
{
    for (const QString &entry : programs.split(u"\n\n"_s))
        if (entry.contains(QRegularExpression(u"DisplayName\\s+REG_SZ\\s+VandrelViewer\\n"_s)))
            return entry + u"\n"_s;
    return {};
}

} // namespace

// The Windows program under Wine on its own X server, COM1 and COM20 mapped to pseudo-terminals
// fed by the test: the window stands with its bars and the empty picture, Space connects and the
// frames reach the window where the geometry puts them, the settings dialog offers COM1 first and
// COM20 last, and File, Exit ends the program with 1.
TEST(WindowsEndToEndTest, FramesReachTheWindowPortsChangeAndExitEndsWithOne)
{
    const QString program = QStringLiteral(VANDREL_WINDOWS_VIEWER);
    ASSERT_TRUE(QFileInfo::exists(program)) << program.toStdString() << " is not built";
    ASSERT_TRUE(VirtualDisplay::missingTools().isEmpty())
        << "needs " << VirtualDisplay::missingTools().toStdString();
    ASSERT_FALSE(WinePrefix::wine().isEmpty()) << "needs wine";

    VirtualDisplay display;
    ASSERT_TRUE(display.start(1280, 1024, StartBoundMs)) << "Xvfb did not start";

    WinePrefix prefix;
    ASSERT_TRUE(prefix.prepare(display.environment())) << "no Wine prefix";
    // COM1 is the simulated instrument on its own pseudo-terminal; COM20 a line the test feeds.
    QProcess instrument;
    endWithParent(instrument);
    instrument.start(QStringLiteral(VANDREL_INSTRUMENT_PATH),
                     {u"--wave"_s, u"triangle"_s, u"--drift"_s, u"0"_s});
    const auto stopInstrument = qScopeGuard([&] {
        instrument.kill();
        instrument.waitForFinished(ExitBoundMs);
    });
    ASSERT_TRUE(instrument.waitForStarted(StartBoundMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return instrument.canReadLine(); }, StartBoundMs))
        << "the instrument named no pseudo-terminal";
    const std::string instrumentPath = instrument.readLine().trimmed().toStdString();
    PseudoTerminal com20;
    ASSERT_EQ(::fcntl(com20.masterFd(), F_SETFL, ::fcntl(com20.masterFd(), F_GETFL) | O_NONBLOCK),
              0);
    ASSERT_TRUE(prefix.configure({{u"COM1"_s, instrumentPath}, {u"COM20"_s, com20.slavePath()}}))
        << "the Wine prefix could not be configured";
    ASSERT_TRUE(prefix.stopServer());

    QProcess viewer;
    viewer.setProcessEnvironment(prefix.environment());
    viewer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithParent(viewer);
    ASSERT_TRUE(isRight(prefix.portFault()));
    viewer.start(WinePrefix::wine(), {program});
    ASSERT_TRUE(viewer.waitForStarted(StartBoundMs));
    viewer.closeWriteChannel();
    const auto stopViewer = qScopeGuard([&] {
        if (viewer.state() != QProcess::NotRunning) {
            viewer.kill();
            viewer.waitForFinished(ExitBoundMs);
        }
        prefix.stopServer();
    });

    const auto window = display.findWindow(u"^VandrelViewer$"_s, StartBoundMs);
    ASSERT_TRUE(window) << "no window named VandrelViewer appeared";

    // Before the first frame: an all-zero frame, acquisition stopped.
    const Samples flat {};
    const Verdict before = awaitPicture(display, *window, {}, flat);
    ASSERT_TRUE(before.Faults.isEmpty())
        << "before connecting: " << before.Faults.join(u"; "_s).toStdString() << " (capture "
        << keep(before.Shot, u"windows-before.png"_s).toStdString() << ")";

    // The bars: menu and toolbar above the view, the status bar below it. The toolbar shows
    // its strip: the connect button's red triangle and, further right, the question mark.
    const QRect view = before.Placed.View;
    EXPECT_GE(view.top(), 40) << "no room for menu and toolbar above the view";
    EXPECT_GE(before.Shot.height() - 1 - view.bottom(), 12) << "no status bar below the view";
    const auto red = colourCentre(before.Shot, view.top(), 0, [](QRgb p) {
        return qRed(p) > 150 && qGreen(p) < 90 && qBlue(p) < 90;
    });
    ASSERT_TRUE(red) << "no connect button on the toolbar (capture "
                     << keep(before.Shot, u"windows-toolbar.png"_s).toStdString() << ")";
    const auto yellow = colourCentre(before.Shot, view.top(), red->x() + 8, [](QRgb p) {
        return qRed(p) > 170 && qGreen(p) > 140 && qBlue(p) < 110;
    });
    ASSERT_TRUE(yellow) << "no About button right of the connect button";
    // Connect, separator, copy, separator, settings, separator, About: the settings button lies
    // two thirds of the way from connect to About.
    const QPoint settingsButton(red->x() + (yellow->x() - red->x()) * 2 / 3, red->y());

    const int notConnectedInk = inkWidth(before.Shot, textLineBand(before.Placed, 0));

    ASSERT_TRUE(display.focusAndPress(*window, u"space"_s));
    const Samples first = instrumentSamples();
    int com1Ink = 0;
    const Verdict connected =
        awaitPicture(display, *window, {}, first, [&](const Verdict &verdict) {
            const QRect band = textLineBand(verdict.Placed, 0);
            if (differingPixels(before.Shot, textLineBand(before.Placed, 0), verdict.Shot, band)
                < 30)
                return u"the first line still reads as before connecting"_s;
            com1Ink = inkWidth(verdict.Shot, band);
            return QString();
        });
    ASSERT_TRUE(connected.Faults.isEmpty())
        << "connected: " << connected.Faults.join(u"; "_s).toStdString() << " (capture "
        << keep(connected.Shot, u"windows-connected.png"_s).toStdString() << ")";
    // The default window is wider than 4:3: a strip on the right.
    EXPECT_LT(connected.Placed.AreaWidth, connected.Placed.View.width());
    // Every decoded line differs from the all-zero frame's.
    for (int line = 1; line < 8; ++line)
        EXPECT_GT(differingPixels(before.Shot, textLineBand(before.Placed, line), connected.Shot,
                                  textLineBand(connected.Placed, line)),
                  10)
            << "line " << line + 1 << " did not change with the header";

    // The settings dialog's last entry is COM20: End, OK, Space starts reading COM20.
    const auto chooseLastOrFirst = [&](const QStringList &keys) -> QString {
        if (!display.click(*window, settingsButton.x(), settingsButton.y()))
            return u"could not click the settings button"_s;
        const auto dialog = display.findWindow(u"^設定$"_s, DialogBoundMs);
        if (!dialog)
            return u"the settings dialog did not open"_s;
        // The dialog opens with the focus on OK; the port list is the tab stop before it.
        bool typed = display.focusAndPress(*dialog, u"shift+Tab"_s);
        for (const QString &key : keys + QStringList {u"Return"_s})
            typed = typed && display.press(key);
        if (!typed)
            return u"could not type into the settings dialog"_s;
        if (!QTest::qWaitFor([&] { return !display.findWindow(u"^設定$"_s, 500); }, DialogBoundMs))
            return u"the settings dialog did not close"_s;
        return QString();
    };
    ASSERT_TRUE(isRight(chooseLastOrFirst({u"End"_s})));
    ASSERT_TRUE(display.focusAndPress(*window, u"space"_s));
    const Samples second = fallingRamp();
    const std::vector<std::uint8_t> secondBurst = burstOf(second);
    const auto feedCom20 = [&] { offer(com20, secondBurst); };
    const Verdict onCom20 =
        awaitPicture(display, *window, feedCom20, second, [&](const Verdict &verdict) {
            // "Connect: COM20" has one character more than "Connect: COM1".
            const int ink = inkWidth(verdict.Shot, textLineBand(verdict.Placed, 0));
            return ink > com1Ink
                ? QString()
                : u"the first line is no longer than COM1's (%1 <= %2 columns)"_s.arg(ink).arg(
                    com1Ink);
        });
    ASSERT_TRUE(onCom20.Faults.isEmpty())
        << "on COM20: " << onCom20.Faults.join(u"; "_s).toStdString() << " (capture "
        << keep(onCom20.Shot, u"windows-com20.png"_s).toStdString() << ")";
    EXPECT_NE(inkWidth(onCom20.Shot, textLineBand(onCom20.Placed, 0)), notConnectedInk);
    // One frame at a time with the same header, each awaited: with the texts unchanged only what
    // the traces changed is repainted, and that repaint must bring each new trace to the screen.
    for (const Samples &samples : {first, flat, second}) {
        offer(com20, burstOf(samples, 1));
        const Verdict shown = awaitPicture(display, *window, {}, samples);
        ASSERT_TRUE(shown.Faults.isEmpty())
            << "one frame on COM20: " << shown.Faults.join(u"; "_s).toStdString() << " (capture "
            << keep(shown.Shot, u"windows-one-frame.png"_s).toStdString() << ")";
    }

    // Garbage at the line's own pace cuts the stream into short blocks, each announced, so the
    // render thread draws back to back; the window's thread must stay free for the user all the
    // same: the File menu opens within 150 ms every time.
    {
        std::atomic<bool> feeding {true};
        std::thread feeder([&] {
            std::mt19937 rng(7);
            while (feeding.load()) {
                // 20 characters each 10 ms: the line's 1920 a second.
                std::vector<std::uint8_t> chunk(20);
                for (std::uint8_t &byte : chunk)
                    byte = static_cast<std::uint8_t>(rng() & 0x7F);
                offer(com20, chunk);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        const auto stopFeeding = qScopeGuard([&] {
            feeding = false;
            feeder.join();
        });
        const auto menuShown = [&] { return display.visibleWindowsOf(viewer.processId()) >= 2; };
        qint64 slowest = 0;
        for (int i = 0; i < 10; ++i) {
            ASSERT_TRUE(display.focusAndPress(*window, u"alt+f"_s));
            QElapsedTimer opening;
            opening.start();
            ASSERT_TRUE(QTest::qWaitFor(menuShown, DialogBoundMs)) << "the File menu did not open";
            slowest = std::max(slowest, opening.elapsed());
            ASSERT_TRUE(display.press(u"Escape"_s));
            ASSERT_TRUE(QTest::qWaitFor([&] { return !menuShown(); }, DialogBoundMs));
            ASSERT_TRUE(display.press(u"Escape"_s)); // leaves the menu bar as well
        }
        std::cout << "File menu under garbage: opened within " << slowest << " ms\n";
        EXPECT_LT(slowest, 150);
    }

    // And its first entry is COM1 again. Choosing it stops acquisition; Space resumes on COM1.
    ASSERT_TRUE(isRight(chooseLastOrFirst({u"Home"_s})));
    ASSERT_TRUE(display.focusAndPress(*window, u"space"_s));
    const Verdict backOnCom1 = awaitPicture(display, *window, {}, first, [&](const Verdict &v) {
        const int ink = inkWidth(v.Shot, textLineBand(v.Placed, 0));
        return ink == com1Ink
            ? QString()
            : u"the first line is not COM1's (%1 != %2 columns)"_s.arg(ink).arg(com1Ink);
    });
    ASSERT_TRUE(backOnCom1.Faults.isEmpty())
        << "back on COM1: " << backOnCom1.Faults.join(u"; "_s).toStdString() << " (capture "
        << keep(backOnCom1.Shot, u"windows-com1.png"_s).toStdString() << ")";

    // A menu opened by its key, then an item by its mnemonic.
    const auto menuCommand = [&](const QString &menuKey, const QString &itemKey) {
        return display.focusAndPress(*window, menuKey)
            && QTest::qWaitFor([&] { return display.visibleWindowsOf(viewer.processId()) >= 2; },
                               ExitBoundMs)
            && display.press(itemKey);
    };
    // The view takes the room of a hidden bar and gives it back when the bar returns.
    const auto viewBecomes = [&](const std::function<bool(const QRect &)> &wanted,
                                 const QString &name) {
        const Verdict placed = awaitPicture(display, *window, {}, first, [&](const Verdict &v) {
            return wanted(v.Placed.View) ? QString() : u"the view has not moved yet"_s;
        });
        return placed.Faults.isEmpty() ? QString()
                                       : name + u": "_s + placed.Faults.join(u"; "_s)
                + u" (capture "_s + keep(placed.Shot, u"windows-bars.png"_s) + u")"_s;
    };
    const QRect withBars = backOnCom1.Placed.View;
    ASSERT_TRUE(menuCommand(u"alt+v"_s, u"t"_s)) << "the View menu did not open";
    ASSERT_TRUE(isRight(viewBecomes([&](const QRect &v) { return v.top() < withBars.top() - 10; },
                                    u"toolbar hidden"_s)));
    ASSERT_TRUE(menuCommand(u"alt+v"_s, u"s"_s)) << "the View menu did not open";
    ASSERT_TRUE(
        isRight(viewBecomes([&](const QRect &v) { return v.bottom() > withBars.bottom() + 10; },
                            u"status bar hidden"_s)));
    ASSERT_TRUE(menuCommand(u"alt+v"_s, u"t"_s)) << "the View menu did not open";
    ASSERT_TRUE(menuCommand(u"alt+v"_s, u"s"_s)) << "the View menu did not open";
    ASSERT_TRUE(
        isRight(viewBecomes([&](const QRect &v) { return v == withBars; }, u"bars back"_s)));

    // A port that cannot be opened is told in the status bar: COM19 leads nowhere here.
    const auto statusInk = [&](const QImage &shot, const QRect &shown) {
        int ink = 0;
        for (int y = shown.bottom() + 3; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                ink += qGray(shot.pixel(x, y)) < 100;
        return ink;
    };
    const int readyInk = statusInk(backOnCom1.Shot, withBars);
    ASSERT_TRUE(isRight(chooseLastOrFirst({u"End"_s, u"Up"_s})));
    const Verdict failed = awaitPicture(display, *window, {}, first, [&](const Verdict &v) {
        const int ink = statusInk(v.Shot, v.Placed.View);
        return ink > 4 * readyInk + 100
            ? QString()
            : u"the status bar still reads as before (%1 dark pixels, %2 with \"Ready\")"_s.arg(ink)
                  .arg(readyInk);
    });
    ASSERT_TRUE(failed.Faults.isEmpty())
        << "on COM19: " << failed.Faults.join(u"; "_s).toStdString() << " (capture "
        << keep(failed.Shot, u"windows-com19.png"_s).toStdString() << ")";

    // File menu, then Exit.
    ASSERT_TRUE(menuCommand(u"alt+f"_s, u"x"_s)) << "the File menu did not open";
    ASSERT_TRUE(viewer.waitForFinished(ExitBoundMs)) << "the program did not end";
    EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(viewer.exitCode(), 1);
}

// The installer under Wine, silently: the program lands in Program Files\VandrelViewer with a
// Start-menu shortcut and an entry in the list of installed programs that carries the version;
// the installed program connects to COM1 and ends with 1 after File, Exit; and the uninstall
// leaves no file, folder, shortcut or entry behind. The prefix has none of the font replacements,
// so Times New Roman and the generic sans-serif face are missing: the texts must be drawn all
// the same.
TEST(WindowsInstallerTest, InstallsRunsAndUninstallsWithoutATrace)
{
    const QString installer = QStringLiteral(VANDREL_WINDOWS_INSTALLER);
    ASSERT_TRUE(QFileInfo::exists(installer)) << installer.toStdString() << " is not built";
    ASSERT_TRUE(VirtualDisplay::missingTools().isEmpty())
        << "needs " << VirtualDisplay::missingTools().toStdString();
    ASSERT_FALSE(WinePrefix::wine().isEmpty()) << "needs wine";

    VirtualDisplay display;
    ASSERT_TRUE(display.start(1280, 1024, StartBoundMs)) << "Xvfb did not start";
    WinePrefix prefix;
    ASSERT_TRUE(prefix.prepare(display.environment())) << "no Wine prefix";
    PseudoTerminal com1;
    ASSERT_EQ(::fcntl(com1.masterFd(), F_SETFL, ::fcntl(com1.masterFd(), F_GETFL) | O_NONBLOCK), 0);
    ASSERT_TRUE(prefix.configure({{u"COM1"_s, com1.slavePath()}}, false))
        << "the Wine prefix could not be configured";
    ASSERT_TRUE(prefix.stopServer());
    ASSERT_EQ(tracesOfTheProgram(prefix), QStringList()) << "installed before the test";

    const auto uninstall = qScopeGuard([&] {
        prefix.run({u"msiexec"_s, u"/x"_s, windowsPathOf(installer), u"/qn"_s});
        prefix.stopServer();
    });
    ASSERT_TRUE(prefix.run({u"msiexec"_s, u"/i"_s, windowsPathOf(installer), u"/qn"_s}))
        << "msiexec /i failed";

    const QString program =
        prefix.driveC().filePath(u"Program Files/VandrelViewer/VandrelViewer.exe"_s);
    EXPECT_TRUE(QFileInfo(program).isFile()) << program.toStdString();
    // Windows puts a per-machine shortcut into the shared Start menu; Wine into the user's.
    QStringList shortcuts;
    for (const QString &found : tracesOfTheProgram(prefix))
        if (found.endsWith(u"/Start Menu/Programs/VandrelViewer.lnk"_s))
            shortcuts << found;
    ASSERT_EQ(shortcuts.size(), 1) << tracesOfTheProgram(prefix).join(u", "_s).toStdString();
    QFile shortcut(shortcuts.front());
    ASSERT_TRUE(shortcut.open(QIODevice::ReadOnly));
    const QByteArray link = shortcut.readAll();
    EXPECT_TRUE(
        link.contains("VandrelViewer.exe")
        || link.contains(QByteArray(reinterpret_cast<const char *>(u"VandrelViewer.exe"), 34)))
        << "the shortcut does not lead to the program";

    const QString entry = installedEntry(installedPrograms(prefix));
    ASSERT_FALSE(entry.isEmpty()) << "no entry in the list of installed programs";
    EXPECT_TRUE(entry.contains(QRegularExpression(
        u"DisplayVersion\\s+REG_SZ\\s+"_s
        + QRegularExpression::escape(QStringLiteral(VANDREL_VERSION)) + u"\\n"_s)))
        << entry.toStdString();
    EXPECT_TRUE(entry.contains(QRegularExpression(u"Publisher\\s+REG_SZ\\s+\\S"_s)))
        << entry.toStdString();
    // The list shows the product's icon, which Windows Installer keeps in a file of its own.
    const auto products = prefix.run(
        {u"reg"_s, u"query"_s, u"HKLM\\Software\\Classes\\Installer\\Products"_s, u"/s"_s});
    ASSERT_TRUE(products);
    const QRegularExpressionMatch icon =
        QRegularExpression(u"ProductIcon\\s+REG_SZ\\s+C:\\\\(\\S.*VandrelViewer\\.ico)\\r?\\n"_s)
            .match(QString::fromUtf8(*products));
    ASSERT_TRUE(icon.hasMatch()) << "no product icon";
    EXPECT_TRUE(QFileInfo(prefix.driveC().filePath(icon.captured(1).replace(u'\\', u'/'))).isFile())
        << icon.captured(1).toStdString();

    QProcess viewer;
    viewer.setProcessEnvironment(prefix.environment());
    viewer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithParent(viewer);
    ASSERT_TRUE(isRight(prefix.portFault()));
    viewer.start(WinePrefix::wine(), {u"C:\\Program Files\\VandrelViewer\\VandrelViewer.exe"_s});
    ASSERT_TRUE(viewer.waitForStarted(StartBoundMs));
    viewer.closeWriteChannel();
    const auto stopViewer = qScopeGuard([&] {
        if (viewer.state() != QProcess::NotRunning) {
            viewer.kill();
            viewer.waitForFinished(ExitBoundMs);
        }
    });
    const auto window = display.findWindow(u"^VandrelViewer$"_s, StartBoundMs);
    ASSERT_TRUE(window) << "the installed program showed no window";

    // Connected, the fed frames reach the picture, and all eight lines have their ink.
    ASSERT_TRUE(display.focusAndPress(*window, u"space"_s));
    const Samples ramp = fallingRamp();
    const std::vector<std::uint8_t> burst = burstOf(ramp);
    const Verdict connected = awaitPicture(
        display, *window, [&] { offer(com1, burst); }, ramp);
    ASSERT_TRUE(connected.Faults.isEmpty())
        << "installed program: " << connected.Faults.join(u"; "_s).toStdString() << " (capture "
        << keep(connected.Shot, u"windows-installed.png"_s).toStdString() << ")";

    ASSERT_TRUE(display.focusAndPress(*window, u"alt+f"_s)
                && QTest::qWaitFor(
                    [&] { return display.visibleWindowsOf(viewer.processId()) >= 2; }, ExitBoundMs)
                && display.press(u"x"_s))
        << "the File menu did not open";
    ASSERT_TRUE(viewer.waitForFinished(ExitBoundMs)) << "the program did not end";
    EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(viewer.exitCode(), 1);

    ASSERT_TRUE(prefix.run({u"msiexec"_s, u"/x"_s, windowsPathOf(installer), u"/qn"_s}))
        << "msiexec /x failed";
    EXPECT_EQ(tracesOfTheProgram(prefix), QStringList());
    EXPECT_TRUE(installedEntry(installedPrograms(prefix)).isEmpty());
}

// Two releases whose versions differ in the last field only, which Windows Installer does not
// compare: the later one installed over the earlier leaves one entry, with the later version,
// and one program.
TEST(WindowsInstallerTest, ALaterReleaseReplacesTheEarlierOne)
{
    const QString earlier = QStringLiteral(VANDREL_WINDOWS_INSTALLER);
    const QString later = QStringLiteral(VANDREL_WINDOWS_NEXT_INSTALLER);
    for (const QString &package : {earlier, later})
        ASSERT_TRUE(QFileInfo::exists(package)) << package.toStdString() << " is not built";
    ASSERT_FALSE(WinePrefix::wine().isEmpty()) << "needs wine";
    WinePrefix prefix;
    ASSERT_TRUE(prefix.prepare(QProcessEnvironment::systemEnvironment())) << "no Wine prefix";
    ASSERT_EQ(tracesOfTheProgram(prefix), QStringList()) << "installed before the test";

    const auto uninstall = qScopeGuard([&] {
        for (const QString &package : {later, earlier})
            prefix.run({u"msiexec"_s, u"/x"_s, windowsPathOf(package), u"/qn"_s});
        prefix.stopServer();
    });
    for (const QString &package : {earlier, later})
        ASSERT_TRUE(prefix.run({u"msiexec"_s, u"/i"_s, windowsPathOf(package), u"/qn"_s}))
            << "msiexec /i " << package.toStdString() << " failed";

    const QString programs = installedPrograms(prefix);
    EXPECT_EQ(programs.count(QRegularExpression(u"DisplayName\\s+REG_SZ\\s+VandrelViewer\\n"_s)), 1)
        << programs.toStdString();
    EXPECT_TRUE(installedEntry(programs).contains(QRegularExpression(
        u"DisplayVersion\\s+REG_SZ\\s+"_s
        + QRegularExpression::escape(QStringLiteral(VANDREL_NEXT_VERSION)) + u"\\n"_s)))
        << programs.toStdString();
    QStringList executables;
    for (const QString &found : tracesOfTheProgram(prefix))
        if (found.endsWith(u"/VandrelViewer.exe"_s))
            executables << found;
    EXPECT_EQ(executables.size(), 1) << executables.join(u", "_s).toStdString();
}
