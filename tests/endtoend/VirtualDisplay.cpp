#include "VirtualDisplay.h"

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QtEndian>

#include <csignal>
#include <sys/prctl.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int ToolBoundMs = 10000;

QString tool(const QString &name)
{
    return QStandardPaths::findExecutable(name);
}

} // namespace

std::optional<QByteArray> runTool(const QString &program, const QStringList &arguments,
                                  const QProcessEnvironment &environment, int boundMs)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    endWithParent(process);
    process.start(program, arguments);
    if (!process.waitForFinished(boundMs)) {
        process.kill();
        process.waitForFinished(ToolBoundMs);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

void endWithParent(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

VirtualDisplay::~VirtualDisplay()
{
    if (Server.state() == QProcess::NotRunning)
        return;
    Server.terminate();
    if (!Server.waitForFinished(ToolBoundMs)) {
        Server.kill();
        Server.waitForFinished(ToolBoundMs);
    }
}

QString VirtualDisplay::missingTools()
{
    QStringList missing;
    for (const QString &name : {u"Xvfb"_s, u"xdotool"_s, u"xwd"_s})
        if (tool(name).isEmpty())
            missing << name;
    return missing.join(u", "_s);
}

bool VirtualDisplay::start(int width, int height, int boundMs)
{
    const QDeadlineTimer deadline(boundMs);
    // -displayfd: the server takes the first free display and writes its number to stdout once
    // it accepts connections. -noreset keeps it from resetting when the last client leaves.
    endWithParent(Server);
    Server.setProcessChannelMode(QProcess::SeparateChannels);
    Server.start(tool(u"Xvfb"_s),
                 {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s,
                  u"%1x%2x24"_s.arg(width).arg(height), u"-nolisten"_s, u"tcp"_s, u"-noreset"_s});
    if (!Server.waitForStarted(static_cast<int>(deadline.remainingTime())))
        return false;
    QByteArray answer;
    while (!answer.contains('\n')) {
        if (deadline.hasExpired() || Server.state() == QProcess::NotRunning)
            return false;
        Server.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        answer += Server.readAllStandardOutput();
    }
    bool number = false;
    const int display = answer.trimmed().toInt(&number);
    if (!number)
        return false;
    Name = u":%1"_s.arg(display);
    return runTool(tool(u"xdotool"_s), {u"getdisplaygeometry"_s}, environment(),
                   static_cast<int>(std::max<qint64>(1, deadline.remainingTime())))
        .has_value();
}

QProcessEnvironment VirtualDisplay::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DISPLAY"_s, Name);
    environment.remove(u"WAYLAND_DISPLAY"_s);
    for (const QString &name :
         {u"QT_SCALE_FACTOR"_s, u"QT_SCREEN_SCALE_FACTORS"_s, u"QT_AUTO_SCREEN_SCALE_FACTOR"_s,
          u"QT_ENABLE_HIGHDPI_SCALING"_s, u"QT_FONT_DPI"_s, u"QT_USE_PHYSICAL_DPI"_s})
        environment.remove(name);
    return environment;
}

std::optional<QString> VirtualDisplay::findWindow(const QString &namePattern, int boundMs) const
{
    const auto found =
        runTool(tool(u"xdotool"_s),
                {u"search"_s, u"--sync"_s, u"--onlyvisible"_s, u"--name"_s, namePattern},
                environment(), boundMs);
    if (!found || found->trimmed().isEmpty())
        return std::nullopt;
    return QString::fromLatin1(found->trimmed().split('\n').first());
}

int VirtualDisplay::visibleWindowsOf(qint64 pid) const
{
    // xdotool answers 1 when nothing matched; that is a count of zero, not a failure.
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(tool(u"xdotool"_s),
                  {u"search"_s, u"--onlyvisible"_s, u"--pid"_s, QString::number(pid)});
    if (!process.waitForFinished(ToolBoundMs)) {
        process.kill();
        process.waitForFinished(ToolBoundMs);
        return 0;
    }
    return static_cast<int>(process.readAllStandardOutput().trimmed().split('\n').size()
                            - (process.exitCode() != 0 ? 1 : 0));
}

bool VirtualDisplay::focusAndPress(const QString &window, const QString &keys) const
{
    return runTool(tool(u"xdotool"_s), {u"windowfocus"_s, u"--sync"_s, window}, environment(),
                   ToolBoundMs)
        && press(keys);
}

bool VirtualDisplay::press(const QString &keys) const
{
    return runTool(tool(u"xdotool"_s), {u"key"_s, keys}, environment(), ToolBoundMs).has_value();
}

bool VirtualDisplay::resizeWindow(const QString &window, int width, int height) const
{
    return runTool(tool(u"xdotool"_s),
                   {u"windowsize"_s, window, QString::number(width), QString::number(height)},
                   environment(), ToolBoundMs)
        .has_value();
}

bool VirtualDisplay::click(const QString &window, int x, int y) const
{
    return runTool(tool(u"xdotool"_s),
                   // No --sync: it waits for a movement that never comes when the pointer is
                   // already there.
                   {u"mousemove"_s, u"--window"_s, window, QString::number(x), QString::number(y),
                    u"click"_s, u"1"_s},
                   environment(), ToolBoundMs)
        .has_value();
}

QImage VirtualDisplay::capture(const QString &window) const
{
    // xwd starts several times faster than ImageMagick's import, and a test takes many captures.
    const auto dump =
        runTool(tool(u"xwd"_s), {u"-silent"_s, u"-id"_s, window}, environment(), ToolBoundMs);
    return dump ? imageFromXwd(*dump) : QImage();
}

QImage imageFromXwd(const QByteArray &dump)
{
    // The header is 25 big-endian 32-bit fields, then the window's name, the colour map
    // (12 bytes an entry) and the rows of pixels.
    const auto field = [&](int index) -> quint32 {
        const int at = index * 4;
        if (dump.size() < at + 4)
            return 0;
        return qFromBigEndian<quint32>(dump.constData() + at);
    };
    constexpr int FieldCount = 25;
    const quint32 headerSize = field(0);
    const quint32 format = field(2);
    const quint32 width = field(4);
    const quint32 height = field(5);
    const quint32 byteOrder = field(7);
    const quint32 bitsPerPixel = field(11);
    const quint32 bytesPerLine = field(12);
    const quint32 colours = field(19);
    constexpr quint32 ZPixmap = 2;
    constexpr quint32 LeastSignificantFirst = 0;
    if (dump.size() < FieldCount * 4 || headerSize < FieldCount * 4 || format != ZPixmap
        || bitsPerPixel != 32 || byteOrder != LeastSignificantFirst || field(14) != 0xFF0000
        || field(15) != 0xFF00 || field(16) != 0xFF || width == 0 || height == 0 || width > 1u << 15
        || height > 1u << 15 || bytesPerLine < width * 4)
        return {};
    const qint64 pixels = qint64(headerSize) + qint64(colours) * 12;
    if (dump.size() < pixels + qint64(bytesPerLine) * height)
        return {};
    QImage image(int(width), int(height), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        const char *row = dump.constData() + pixels + qint64(bytesPerLine) * y;
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            out[x] = 0xFF000000u | qFromLittleEndian<quint32>(row + 4 * x);
    }
    return image;
}
