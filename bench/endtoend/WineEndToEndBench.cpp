// CPU of the real programs while they stream, the Linux one and the Windows one under Wine, on
// one private X server. Each program reads its own simulated instrument through a pseudo-terminal
// and runs alone while it is measured; its window is sized so that the view is the size asked.
// Prints figures; judges nothing.
//
// Under Wine the program's own process and the wineserver are what the program costs; Wine's
// service processes (services.exe, winedevice.exe, explorer.exe and the like) idle at a few per
// cent whatever runs, so they are told apart.

#include "PictureCheck.h"
#include "VirtualDisplay.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSize>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Bounds for a loaded two-core machine; Wine starts slowly, the more so in a fresh prefix.
constexpr int PrefixBoundMs = 300000;
constexpr int WineToolBoundMs = 60000;
constexpr int StartBoundMs = 60000;
constexpr int PictureBoundMs = 30000;
constexpr int ExitBoundMs = 20000;
// After the window took its size: the first renders at the new size and the repaints of the
// whole window are not what streaming costs.
constexpr auto SettleTime = std::chrono::seconds(3);

struct Options
{
    std::vector<QSize> Sizes;
    std::vector<QString> Waves;
    int Seconds = 10;
    int Repeat = 1;
    bool Linux = true;
    bool Windows = true;
    QString WindowsViewer = QStringLiteral(VANDREL_WINDOWS_VIEWER_DEFAULT);
};

QString tool(const QString &name)
{
    return QStandardPaths::findExecutable(name);
}

QByteArray readProcFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// utime + stime of a stat file of /proc, or nothing when it cannot be read.
std::optional<unsigned long long> ticksOfStat(const QByteArray &stat)
{
    // The name in brackets may hold spaces; the fields after it are plain numbers.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // utime and stime are the 14th and 15th fields, the 12th and 13th after the name.
    if (fields.size() < 13)
        return std::nullopt;
    return fields[11].toULongLong() + fields[12].toULongLong();
}

// Clock ticks of CPU that a process has used, all its threads (ended ones too), or nothing when
// it is gone.
std::optional<unsigned long long> cpuTicks(qint64 pid)
{
    return ticksOfStat(readProcFile(u"/proc/%1/stat"_s.arg(pid)));
}

struct ThreadTicks
{
    QString Name;
    unsigned long long Ticks = 0;
};

// Each live thread's name and clock ticks, by thread id.
std::map<qint64, ThreadTicks> threadTicks(qint64 pid)
{
    std::map<qint64, ThreadTicks> threads;
    const QDir tasks(u"/proc/%1/task"_s.arg(pid));
    for (const QString &entry : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray stat = readProcFile(tasks.filePath(entry + u"/stat"_s));
        const qsizetype open = stat.indexOf('(');
        const qsizetype close = stat.lastIndexOf(')');
        if (const auto ticks = ticksOfStat(stat); ticks && open >= 0)
            threads[entry.toLongLong()] = {QString::fromUtf8(stat.mid(open + 1, close - open - 1)),
                                           *ticks};
    }
    return threads;
}

// Busy and total clock ticks of the whole machine, all cores.
std::pair<unsigned long long, unsigned long long> machineTicks()
{
    const QList<QByteArray> fields =
        readProcFile(u"/proc/stat"_s).split('\n').value(0).simplified().split(' ');
    unsigned long long total = 0;
    unsigned long long idle = 0;
    for (qsizetype i = 1; i < fields.size(); ++i) {
        total += fields[i].toULongLong();
        // idle and iowait
        if (i == 4 || i == 5)
            idle += fields[i].toULongLong();
    }
    return {total - idle, total};
}

QString processName(qint64 pid)
{
    return QString::fromUtf8(readProcFile(u"/proc/%1/comm"_s.arg(pid)).trimmed());
}

QString commandLine(qint64 pid)
{
    return QString::fromUtf8(readProcFile(u"/proc/%1/cmdline"_s.arg(pid)).replace('\0', ' '));
}

// The processes of this user that run in the Wine prefix: Wine hands the prefix on to every
// process it starts, the wineserver and the services included.
std::vector<qint64> prefixProcesses(const QString &prefix)
{
    const QByteArray wanted = "WINEPREFIX=" + prefix.toUtf8();
    std::vector<qint64> found;
    for (const QString &entry : QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || pid == QCoreApplication::applicationPid())
            continue;
        for (const QByteArray &variable : readProcFile(u"/proc/%1/environ"_s.arg(pid)).split('\0'))
            if (variable == wanted) {
                found.push_back(pid);
                break;
            }
    }
    return found;
}

// CPU in per cent of one core over a stretch of wall time, by process.
class CpuWatch
{
public:
    explicit CpuWatch(const std::vector<qint64> &pids)
    {
        for (qint64 pid : pids)
            if (const auto ticks = cpuTicks(pid))
                Before[pid] = *ticks;
        MachineBefore = machineTicks();
        Start = std::chrono::steady_clock::now();
    }

    // Ends the stretch: processes that came up in it count from nothing, those that ended in it
    // are left out.
    void stop(const std::vector<qint64> &pidsNow)
    {
        Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
        const auto machine = machineTicks();
        MachineBusy = static_cast<double>(machine.first - MachineBefore.first);
        MachineTotal = static_cast<double>(machine.second - MachineBefore.second);
        for (qint64 pid : pidsNow)
            if (const auto ticks = cpuTicks(pid)) {
                const auto before = Before.find(pid);
                After[pid] = *ticks - (before == Before.end() ? 0 : before->second);
            }
    }

    double percentOf(qint64 pid) const
    {
        const auto used = After.find(pid);
        return used == After.end() ? 0.0 : toPercent(static_cast<double>(used->second));
    }

    const std::map<qint64, unsigned long long> &used() const { return After; }

    // What the rest of the machine used meanwhile, beside the processes measured, in per cent
    // of one core; and how many cores the machine has.
    double restOfMachine(double measuredPercent) const
    {
        return toPercent(MachineBusy) - measuredPercent;
    }
    double cores() const
    {
        return MachineTotal / (Seconds * static_cast<double>(::sysconf(_SC_CLK_TCK)));
    }

    double toPercent(double ticks) const
    {
        return Seconds > 0 ? 100.0 * ticks / static_cast<double>(::sysconf(_SC_CLK_TCK)) / Seconds
                           : 0.0;
    }

private:
    std::map<qint64, unsigned long long> Before;
    std::map<qint64, unsigned long long> After;
    std::pair<unsigned long long, unsigned long long> MachineBefore;
    double MachineBusy = 0;
    double MachineTotal = 0;
    std::chrono::steady_clock::time_point Start;
    double Seconds = 0;
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

QString listed(const std::vector<double> &values)
{
    QStringList parts;
    for (double value : values)
        parts << QString::number(value, 'f', 1);
    return parts.join(u" "_s);
}

// A pixel of the trace, or mostly one where the edge of a line blends it into the background.
bool isTraceInk(QRgb pixel)
{
    return qGreen(pixel) >= 128 && qGreen(pixel) > qRed(pixel) + 60
        && qGreen(pixel) > qBlue(pixel) + 60;
}

// Trace pixels in the upper two thirds of the graticule: a frame has arrived. Before the first
// frame the trace is a flat line at the bottom.
int raisedTracePixels(const QImage &shot, const PictureCheck::Placement &placed)
{
    const QPointF topLeft = placed.toPixel(8, 8);
    const QPointF bottomRight = placed.toPixel(448, 300);
    int count = 0;
    for (int y = static_cast<int>(topLeft.y()); y < static_cast<int>(bottomRight.y()); ++y)
        for (int x = static_cast<int>(topLeft.x()); x < static_cast<int>(bottomRight.x()); ++x)
            if (x >= 0 && y >= 0 && x < shot.width() && y < shot.height()
                && isTraceInk(shot.pixel(x, y)))
                ++count;
    return count;
}

// The view in a capture of the window, and whether it shows a received frame.
struct Look
{
    std::optional<QRect> View;
    bool Streaming = false;
};

Look lookAt(const VirtualDisplay &display, const QString &window)
{
    Look look;
    const QImage shot = display.capture(window);
    if (shot.isNull())
        return look;
    look.View = PictureCheck::locateView(shot);
    if (look.View)
        look.Streaming = raisedTracePixels(shot, PictureCheck::placementFor(*look.View)) >= 10;
    return look;
}

// The size of the window's X window as xwininfo reports it.
std::optional<QSize> windowSize(const VirtualDisplay &display, const QString &window)
{
    const auto info =
        runTool(tool(u"xwininfo"_s), {u"-id"_s, window}, display.environment(), WineToolBoundMs);
    if (!info)
        return std::nullopt;
    const QString text = QString::fromUtf8(*info);
    const auto width = QRegularExpression(u"Width: (\\d+)"_s).match(text);
    const auto height = QRegularExpression(u"Height: (\\d+)"_s).match(text);
    if (!width.hasMatch() || !height.hasMatch())
        return std::nullopt;
    return QSize(width.captured(1).toInt(), height.captured(1).toInt());
}

QString sizeText(const QSize &size)
{
    return u"%1x%2"_s.arg(size.width()).arg(size.height());
}

// The view as the window shows it once a capture finds one, waiting through repaints.
std::optional<QRect> awaitView(const VirtualDisplay &display, const QString &window)
{
    const QDeadlineTimer deadline(PictureBoundMs);
    for (;;) {
        if (const auto view = lookAt(display, window).View)
            return view;
        if (deadline.hasExpired())
            return std::nullopt;
        QThread::msleep(200);
    }
}

// Resizes the window until its view is the size asked: the bars' room is read from the capture,
// so no program's layout is assumed. The view's size, or nothing when it would not take it; the
// trail tells what each attempt gave.
std::optional<QSize> sizeView(const VirtualDisplay &display, const QString &window,
                              const QSize &wanted, QString &trail)
{
    runTool(tool(u"xdotool"_s), {u"windowmove"_s, u"--sync"_s, window, u"0"_s, u"0"_s},
            display.environment(), WineToolBoundMs);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const auto view = awaitView(display, window);
        const auto outer = windowSize(display, window);
        if (!view || !outer) {
            trail += u" no view in the capture"_s;
            return std::nullopt;
        }
        trail += u" window %1: view %2;"_s.arg(sizeText(*outer), sizeText(view->size()));
        if (view->size() == wanted)
            return view->size();
        const QSize target = *outer + (wanted - view->size());
        display.resizeWindow(window, target.width(), target.height());
        // Until two captures in a row show the same view of another size, or the bound ends.
        const QDeadlineTimer deadline(PictureBoundMs);
        std::optional<QRect> previous;
        while (!deadline.hasExpired()) {
            QThread::msleep(300);
            const auto now = lookAt(display, window).View;
            if (now && previous && *now == *previous && now->size() != view->size())
                break;
            previous = now;
        }
    }
    return std::nullopt;
}

// Waits until the window shows a frame from the instrument.
bool awaitFrames(const VirtualDisplay &display, const QString &window)
{
    const QDeadlineTimer deadline(PictureBoundMs);
    while (!deadline.hasExpired()) {
        if (lookAt(display, window).Streaming)
            return true;
        QThread::msleep(200);
    }
    return false;
}

// The simulated instrument on a pseudo-terminal of its own.
class Instrument
{
public:
    bool start(const QString &wave)
    {
        endWithParent(Process);
        QStringList arguments {u"--wave"_s, wave};
        // Noise over the whole screen, as the other benchmarks draw it.
        if (wave == u"noise"_s)
            arguments << u"--amplitude"_s << u"31"_s;
        Process.start(QStringLiteral(VANDREL_INSTRUMENT_PATH), arguments);
        if (!Process.waitForStarted(StartBoundMs))
            return false;
        const QDeadlineTimer deadline(StartBoundMs);
        while (!Process.canReadLine() && !deadline.hasExpired())
            Process.waitForReadyRead(100);
        Device = QString::fromUtf8(Process.readLine().trimmed());
        return Device.startsWith(u"/dev/"_s);
    }

    ~Instrument()
    {
        Process.kill();
        Process.waitForFinished(ExitBoundMs);
    }

    QString Device;

private:
    QProcess Process;
};

// A private Wine prefix: COM1 on the instrument, COM2-COM20 on a path that does not exist, so
// that no COM name reaches a serial device of the machine; the fonts the Windows tests use.
class WinePrefix
{
public:
    bool prepare(const QProcessEnvironment &base, const QString &given)
    {
        Environment = base;
        Environment.insert(u"WINEDEBUG"_s, u"-all"_s);
        Environment.insert(u"WINEDLLOVERRIDES"_s, u"mscoree,mshtml=;winemenubuilder.exe=d"_s);
        Path = given.isEmpty() ? Own.path() : QFileInfo(given).absoluteFilePath();
        if (!Own.isValid() || !Scratch.isValid())
            return false;
        Environment.insert(u"WINEPREFIX"_s, Path);
        if (QFileInfo(Path + u"/system.reg"_s).isFile())
            return true;
        return runTool(tool(u"wine"_s), {u"wineboot"_s, u"-i"_s}, Environment, PrefixBoundMs)
                   .has_value()
            && stopServer();
    }

    // Wine reads the map when its server starts: the server is stopped after.
    bool mapPorts(const QString &com1)
    {
        const QString nowhere = Scratch.filePath(u"no-such-port"_s);
        QByteArray script = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n";
        for (int n = 1; n <= 20; ++n)
            script += "\"COM" + QByteArray::number(n) + "\"=\"" + (n == 1 ? com1 : nowhere).toUtf8()
                + "\"\r\n";
        script += "\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"
                  "\"Times New Roman\"=\"Liberation Serif\"\r\n"
                  "\"Microsoft Sans Serif\"=\"Liberation Sans\"\r\n"
                  "\"MS Sans Serif\"=\"Liberation Sans\"\r\n"
                  "\"MS Shell Dlg\"=\"Liberation Sans\"\r\n"
                  "\"Tahoma\"=\"Liberation Sans\"\r\n";
        QFile file(Scratch.filePath(u"ports.reg"_s));
        if (!file.open(QIODevice::WriteOnly) || file.write(script) < 0)
            return false;
        file.close();
        const QString windowsPath = u"Z:"_s + file.fileName().replace(u'/', u'\\');
        if (!runTool(tool(u"wine"_s), {u"reg"_s, u"import"_s, windowsPath}, Environment,
                     WineToolBoundMs))
            return false;
        // Read back: every COM name mapped, COM1 to the instrument.
        const auto query =
            runTool(tool(u"wine"_s), {u"reg"_s, u"query"_s, u"HKLM\\Software\\Wine\\Ports"_s},
                    Environment, WineToolBoundMs);
        if (!query)
            return false;
        const QString text = QString::fromUtf8(*query);
        for (int n = 1; n <= 20; ++n) {
            const QRegularExpression line(u"\\bCOM%1\\s+REG_SZ\\s+(\\S+)"_s.arg(n));
            if (line.match(text).captured(1) != (n == 1 ? com1 : nowhere))
                return false;
        }
        return stopServer();
    }

    bool stopServer()
    {
        runTool(wineserver(), {u"-k"_s}, Environment, WineToolBoundMs);
        return runTool(wineserver(), {u"-w"_s}, Environment, WineToolBoundMs).has_value();
    }

    static QString wineserver()
    {
        const QString onPath = tool(u"wineserver"_s);
        return onPath.isEmpty() ? u"/usr/lib/wine/wineserver"_s : onPath;
    }

    const QProcessEnvironment &environment() const { return Environment; }
    const QString &path() const { return Path; }

private:
    QTemporaryDir Own;
    QTemporaryDir Scratch;
    QProcessEnvironment Environment;
    QString Path;
};

// One program's figures at one size and wave, each stretch's value kept.
struct Figures
{
    std::vector<double> Program;
    std::vector<double> Server;
    std::vector<double> Services;
    std::vector<double> Rest;
    QString ServiceNames;
    // The program's threads in the last stretch.
    QString Threads;
};

struct Row
{
    QString Program;
    QSize Size;
    QString Wave;
    Figures Measured;
};

// What the program and Wine together cost in each stretch, and with Wine's services.
std::vector<double> programAndServer(const Figures &f)
{
    std::vector<double> sums;
    for (std::size_t k = 0; k < f.Program.size(); ++k)
        sums.push_back(f.Program[k] + f.Server[k]);
    return sums;
}

std::vector<double> wholeTree(const Figures &f)
{
    std::vector<double> trees = programAndServer(f);
    for (std::size_t k = 0; k < trees.size(); ++k)
        trees[k] += f.Services[k];
    return trees;
}

// One program's line: the median over the stretches, and each stretch's value when there are
// several.
QString rowText(const Row &row)
{
    const auto figure = [](const std::vector<double> &values) {
        QString text = QString::number(median(values), 'f', 1);
        if (values.size() > 1)
            text += u" ["_s + listed(values) + u"]"_s;
        return text + u" %"_s;
    };
    const Figures &f = row.Measured;
    const QString name = u"%1 %2 %3: "_s.arg(row.Program, sizeText(row.Size), row.Wave);
    if (row.Program == u"linux"_s)
        return name + figure(f.Program);
    return name
        + u"program %1, wineserver %2, sum %3; services %4; whole Wine tree %5"_s.arg(
            figure(f.Program), figure(f.Server), figure(programAndServer(f)), figure(f.Services),
            figure(wholeTree(f)));
}

// Starts the program, connects it, and for each size fits the window, lets it settle and
// measures. Rows for what was measured; a message on stderr for what was not.
class Run
{
public:
    Run(const VirtualDisplay &display, const Options &options)
        : Display(display)
        , Settings(options)
    { }

    void linuxProgram(const QString &wave, std::vector<Row> &rows)
    {
        Instrument instrument;
        if (!instrument.start(wave)) {
            std::fprintf(stderr, "linux %s: the instrument did not start\n", qPrintable(wave));
            return;
        }
        QProcessEnvironment environment = Display.environment();
        environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        if (!environment.contains(u"XDG_RUNTIME_DIR"_s) && Runtime.isValid())
            environment.insert(u"XDG_RUNTIME_DIR"_s, Runtime.path());
        // COM1 is the instrument; no other name may reach a serial device of the machine.
        for (int n = 2; n <= 20; ++n)
            environment.insert(u"VANDREL_COM%1"_s.arg(n), u"/nonexistent/vandrel-com%1"_s.arg(n));
        environment.insert(u"VANDREL_COM1"_s, instrument.Device);
        QProcess viewer;
        viewer.setProcessEnvironment(environment);
        viewer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        endWithParent(viewer);
        viewer.start(QStringLiteral(VANDREL_LINUX_VIEWER), {});
        const auto stop = qScopeGuard([&] { end(viewer); });
        if (!viewer.waitForStarted(StartBoundMs)) {
            std::fprintf(stderr, "linux %s: the program did not start\n", qPrintable(wave));
            return;
        }
        const qint64 pid = viewer.processId();
        measureAll(
            u"linux"_s, wave, rows, [pid] { return std::vector<qint64> {pid}; },
            [pid](const CpuWatch &watch, Figures &figures) {
                figures.Program.push_back(watch.percentOf(pid));
            });
    }

    void windowsProgram(WinePrefix &prefix, const QString &wave, std::vector<Row> &rows)
    {
        Instrument instrument;
        if (!instrument.start(wave) || !prefix.mapPorts(instrument.Device)) {
            std::fprintf(stderr,
                         "windows %s: the instrument did not start or the ports could "
                         "not be mapped\n",
                         qPrintable(wave));
            return;
        }
        QProcess viewer;
        viewer.setProcessEnvironment(prefix.environment());
        viewer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        endWithParent(viewer);
        viewer.start(tool(u"wine"_s), {Settings.WindowsViewer});
        const auto stop = qScopeGuard([&] {
            end(viewer);
            prefix.stopServer();
        });
        if (!viewer.waitForStarted(StartBoundMs)) {
            std::fprintf(stderr, "windows %s: wine did not start\n", qPrintable(wave));
            return;
        }
        viewer.closeWriteChannel();
        const QString path = prefix.path();
        measureAll(
            u"windows"_s, wave, rows, [path] { return prefixProcesses(path); },
            [](const CpuWatch &watch, Figures &figures) {
                double program = 0;
                double server = 0;
                double services = 0;
                QStringList names;
                for (const auto &[pid, ticks] : watch.used()) {
                    const QString name = processName(pid);
                    if (commandLine(pid).contains(u"VandrelViewer.exe"_s, Qt::CaseInsensitive))
                        program += watch.percentOf(pid);
                    else if (name.startsWith(u"wineserver"_s))
                        server += watch.percentOf(pid);
                    else {
                        services += watch.percentOf(pid);
                        names << u"%1 %2"_s.arg(name).arg(watch.percentOf(pid), 0, 'f', 1);
                    }
                }
                figures.Program.push_back(program);
                figures.Server.push_back(server);
                figures.Services.push_back(services);
                figures.ServiceNames = names.join(u", "_s);
            });
    }

private:
    static void end(QProcess &viewer)
    {
        if (viewer.state() == QProcess::NotRunning)
            return;
        viewer.terminate();
        if (!viewer.waitForFinished(ExitBoundMs)) {
            viewer.kill();
            viewer.waitForFinished(ExitBoundMs);
        }
    }

    template<typename Pids, typename Take>
    void measureAll(const QString &program, const QString &wave, std::vector<Row> &rows,
                    const Pids &pids, const Take &take)
    {
        const auto window = Display.findWindow(u"^VandrelViewer$"_s, StartBoundMs);
        if (!window) {
            std::fprintf(stderr, "%s %s: no window named VandrelViewer\n", qPrintable(program),
                         qPrintable(wave));
            return;
        }
        bool connected = false;
        for (const QSize &size : Settings.Sizes) {
            const QString name = u"%1 %2 %3"_s.arg(program, sizeText(size), wave);
            QString trail;
            const auto fitted = sizeView(Display, *window, size, trail);
            if (!fitted) {
                std::printf("%s: the view would not take the size (%s)\n", qPrintable(name),
                            qPrintable(trail.trimmed()));
                std::fflush(stdout);
                continue;
            }
            // Connected once the window has its first size: Space toggles.
            if (!connected) {
                connected = Display.focusAndPress(*window, u"space"_s);
                if (!connected || !awaitFrames(Display, *window)) {
                    std::fprintf(stderr, "%s: no frames reached the window\n", qPrintable(name));
                    return;
                }
            }
            std::this_thread::sleep_for(SettleTime);
            Row row {program, size, wave, {}};
            for (int k = 0; k < Settings.Repeat; ++k) {
                const std::vector<qint64> before = pids();
                // The process that runs the program's own code, by its command line.
                qint64 programPid = -1;
                for (qint64 pid : before)
                    if (commandLine(pid).contains(u"VandrelViewer"_s, Qt::CaseInsensitive))
                        programPid = pid;
                const auto threadsBefore = threadTicks(programPid);
                CpuWatch watch(before);
                std::this_thread::sleep_for(std::chrono::seconds(Settings.Seconds));
                watch.stop(pids());
                take(watch, row.Measured);
                QStringList threads;
                for (const auto &[tid, after] : threadTicks(programPid)) {
                    const auto earlier = threadsBefore.find(tid);
                    const double percent = watch.toPercent(static_cast<double>(
                        after.Ticks
                        - (earlier == threadsBefore.end() ? 0 : earlier->second.Ticks)));
                    // The main thread runs the window under Wine as under Qt.
                    if (percent >= 0.2)
                        threads << u"%1(%2%3) %4"_s.arg(after.Name)
                                       .arg(tid)
                                       .arg(tid == programPid ? u" main"_s : QString())
                                       .arg(percent, 0, 'f', 1);
                }
                row.Measured.Threads = threads.join(u", "_s);
                double measured = 0;
                for (const auto &[pid, ticks] : watch.used())
                    measured += watch.percentOf(pid);
                row.Measured.Rest.push_back(watch.restOfMachine(measured));
            }
            const Look after = lookAt(Display, *window);
            const auto outer = windowSize(Display, *window);
            std::printf("%s\n  window %s (xwininfo), view %s before and %s after the "
                        "measurement, %s; rest of the machine %s %% (%.0f cores)\n",
                        qPrintable(rowText(row)), outer ? qPrintable(sizeText(*outer)) : "?",
                        qPrintable(sizeText(*fitted)),
                        after.View ? qPrintable(sizeText(after.View->size())) : "?",
                        after.Streaming ? "streaming" : "NOT streaming",
                        qPrintable(listed(row.Measured.Rest)),
                        static_cast<double>(::sysconf(_SC_NPROCESSORS_ONLN)));
            std::printf("  the program's threads above 0.2 %% in the last stretch: %s\n",
                        qPrintable(row.Measured.Threads));
            if (!row.Measured.ServiceNames.isEmpty())
                std::printf("  Wine's services in the last stretch: %s\n",
                            qPrintable(row.Measured.ServiceNames));
            std::fflush(stdout);
            rows.push_back(row);
        }
    }

    const VirtualDisplay &Display;
    const Options &Settings;
    // Qt's runtime folder when the caller has none: private to the user, as Qt wants it.
    QTemporaryDir Runtime;
};

void report(const std::vector<Row> &rows, int repeat)
{
    std::printf("\nCPU while streaming, %% of one core%s:\n",
                repeat > 1 ? ", median of the stretches (each stretch's value in brackets)" : "");
    for (const Row &row : rows)
        std::printf("%s\n", qPrintable(rowText(row)));
    for (const Row &windows : rows) {
        if (windows.Program != u"windows"_s)
            continue;
        for (const Row &onLinux : rows)
            if (onLinux.Program == u"linux"_s && onLinux.Size == windows.Size
                && onLinux.Wave == windows.Wave && median(onLinux.Measured.Program) > 0)
                std::printf("ratio windows-sum / linux %s %s: %.1f\n",
                            qPrintable(sizeText(windows.Size)), qPrintable(windows.Wave),
                            median(programAndServer(windows.Measured))
                                / median(onLinux.Measured.Program));
    }
}

int usage()
{
    std::fprintf(stderr,
                 "usage: vandrel-wine-e2e-bench [--size WxH]... [--wave square|noise]... "
                 "[--seconds S] [--repeat N] [--only linux|windows] [--windows-viewer EXE] "
                 "[--prefix DIR]\n"
                 "defaults: --size 1916x1006 --size 960x600 --wave square --wave noise "
                 "--seconds 10 --repeat 1\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    QString prefixPath;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype k = 1; k < arguments.size(); ++k) {
        const QString &option = arguments[k];
        if (k + 1 >= arguments.size())
            return usage();
        const QString value = arguments[++k];
        bool valid = true;
        if (option == u"--size"_s) {
            const auto match = QRegularExpression(u"^(\\d+)x(\\d+)$"_s).match(value);
            valid = match.hasMatch() && match.captured(1).toInt() >= 320
                && match.captured(2).toInt() >= 240;
            options.Sizes.emplace_back(match.captured(1).toInt(), match.captured(2).toInt());
        } else if (option == u"--wave"_s) {
            valid = value == u"square"_s || value == u"noise"_s || value == u"sine"_s;
            options.Waves.push_back(value);
        } else if (option == u"--seconds"_s) {
            options.Seconds = value.toInt(&valid);
            valid = valid && options.Seconds >= 1;
        } else if (option == u"--repeat"_s) {
            options.Repeat = value.toInt(&valid);
            valid = valid && options.Repeat >= 1;
        } else if (option == u"--only"_s) {
            valid = value == u"linux"_s || value == u"windows"_s;
            options.Linux = value == u"linux"_s;
            options.Windows = value == u"windows"_s;
        } else if (option == u"--windows-viewer"_s) {
            options.WindowsViewer = value;
        } else if (option == u"--prefix"_s) {
            prefixPath = value;
        } else {
            valid = false;
        }
        if (!valid)
            return usage();
    }
    if (options.Sizes.empty())
        options.Sizes = {QSize(1916, 1006), QSize(960, 600)};
    if (options.Waves.empty())
        options.Waves = {u"square"_s, u"noise"_s};
    if (options.Windows && !QFileInfo(options.WindowsViewer).isFile()) {
        std::fprintf(stderr, "vandrel-wine-e2e-bench: %s is not built (scripts/build-windows.sh)\n",
                     qPrintable(options.WindowsViewer));
        return 1;
    }
    if (!VirtualDisplay::missingTools().isEmpty() || tool(u"xwininfo"_s).isEmpty()
        || (options.Windows && tool(u"wine"_s).isEmpty())) {
        std::fprintf(stderr, "vandrel-wine-e2e-bench: needs Xvfb, xdotool, xwd, xwininfo%s\n",
                     options.Windows ? " and wine" : "");
        return 1;
    }

    // Room for the largest window with its bars.
    int screenWidth = 1280;
    int screenHeight = 1024;
    for (const QSize &size : options.Sizes) {
        screenWidth = std::max(screenWidth, size.width() + 200);
        screenHeight = std::max(screenHeight, size.height() + 300);
    }
    VirtualDisplay display;
    if (!display.start(screenWidth, screenHeight, StartBoundMs)) {
        std::fprintf(stderr, "vandrel-wine-e2e-bench: Xvfb did not start\n");
        return 1;
    }
    const QList<QByteArray> load = readProcFile(u"/proc/loadavg"_s).split(' ');
    std::printf("X server %s, %dx%d; load average %s %s %s at the start; %d s a stretch, %d "
                "stretch(es)\n",
                qPrintable(display.name()), screenWidth, screenHeight, load.value(0).constData(),
                load.value(1).constData(), load.value(2).constData(), options.Seconds,
                options.Repeat);
    std::fflush(stdout);

    WinePrefix prefix;
    if (options.Windows) {
        const auto start = std::chrono::steady_clock::now();
        if (!prefix.prepare(display.environment(), prefixPath)) {
            std::fprintf(stderr, "vandrel-wine-e2e-bench: no Wine prefix\n");
            return 1;
        }
        std::printf(
            "Wine prefix %s ready in %.0f s\n", qPrintable(prefix.path()),
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        std::fflush(stdout);
    }

    std::vector<Row> rows;
    Run run(display, options);
    for (const QString &wave : options.Waves) {
        if (options.Linux)
            run.linuxProgram(wave, rows);
        if (options.Windows)
            run.windowsProgram(prefix, wave, rows);
    }
    if (options.Windows)
        prefix.stopServer();
    report(rows, options.Repeat);
    return rows.empty() ? 1 : 0;
}
