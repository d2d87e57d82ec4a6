// End-to-end figures of the real receiver and view: a pseudo-terminal fed at the line's pace,
// the view at 1920 x 1080 (or --size WxH) on the offscreen platform. Prints what it measures;
// judges nothing.
//
// Each frame of the latency phase carries its sequence number in its samples: 16 plateaus of 8
// samples, high for a one bit and low for a zero, so the number can be read back from the
// finished picture at 16 points. The CPU phase streams those frames too, or the simulated
// instrument's sine, square wave or full-swing noise (--wave).

#include "CVandrelViewerView.h"
#include "InstrumentFrames.h"
#include "OverlayText.h"
#include "ScopeFrame.h"
#include "SerialReceiver.h"
#include "WaveformGeometry.h"
#include "WaveformRenderer.h"

#include <QApplication>
#include <QImage>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <pty.h>
#include <string>
#include <sys/syscall.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// 138 characters of 9 bits at 19200 baud.
constexpr auto FramePeriod = std::chrono::nanoseconds(64'687'500);
int ViewWidth = 1920;
int ViewHeight = 1080;
unsigned LatencyFrames = 540;
std::chrono::seconds CpuPhase = 10s;
constexpr auto IdlePhase = 3s;

constexpr int Bits = 16;
constexpr int PlateauSamples = WaveformGeometry::SampleCount / Bits;
constexpr std::uint8_t HighSample = 56;
constexpr std::uint8_t LowSample = 8;
constexpr std::uint8_t Marker = 0x7C;

// The 137 data bytes of the frame numbered seq.
using FrameSource = std::function<std::vector<std::uint8_t>(unsigned seq)>;

// The 137 data bytes of frame number seq: a fixed header, the plateaus, a zero tail.
std::vector<std::uint8_t> numberedFrame(unsigned seq)
{
    std::vector<std::uint8_t> data(ScopeFrame::Size - 1, 0);
    data[0] = 0x18;
    data[1] = 0x05;
    data[2] = 0x08;
    data[3] = 0x04;
    for (int i = 0; i < WaveformGeometry::SampleCount; ++i) {
        const bool one = (seq >> (i / PlateauSamples)) & 1u;
        data[ScopeFrame::FirstSample + static_cast<std::size_t>(i)] = one ? HighSample : LowSample;
    }
    return data;
}

// What the CPU phase streams: the numbered frames, or one of the simulated instrument's waves
// drifting as it does on the line; the noise swings over the whole screen.
std::string WaveName = "numbered";
FrameSource CpuFrames = numberedFrame;

FrameSource instrumentFrames(Waveform wave)
{
    SignalShape shape;
    shape.Wave = wave;
    if (wave == Waveform::Noise)
        shape.Amplitude = 31;
    auto generator = std::make_shared<std::mt19937>(1);
    return [shape, generator](unsigned seq) {
        const double seconds = std::chrono::duration<double>(FramePeriod * seq).count();
        return frameData(HeaderCodes {}, shape, seconds, *generator);
    };
}

bool isTrace(QRgb pixel)
{
    return qGreen(pixel) > 180 && qRed(pixel) < 170 && qBlue(pixel) < 170;
}

bool traceNear(const QImage &image, double x, double y)
{
    const int px = static_cast<int>(x);
    const int py = static_cast<int>(y);
    for (int dy = -3; dy <= 3; ++dy) {
        const int row = py + dy;
        if (row >= 0 && row < image.height() && px >= 0 && px < image.width()
            && isTrace(image.pixel(px, row)))
            return true;
    }
    return false;
}

// The sequence number a finished picture shows; empty when the picture shows none clearly.
std::optional<unsigned> decode(const QImage &image)
{
    const WaveformGeometry::Area area = WaveformGeometry::fitArea(image.width(), image.height());
    if (area.Width == 0)
        return std::nullopt;
    const double scale = static_cast<double>(area.Width) / WaveformGeometry::LogicalWidth;
    unsigned seq = 0;
    for (int bit = 0; bit < Bits; ++bit) {
        const double x =
            WaveformGeometry::traceX(bit * PlateauSamples + PlateauSamples / 2) * scale;
        const bool high = traceNear(image, x, WaveformGeometry::traceY(HighSample) * scale);
        const bool low = traceNear(image, x, WaveformGeometry::traceY(LowSample) * scale);
        if (high == low)
            return std::nullopt;
        if (high)
            seq |= 1u << bit;
    }
    return seq;
}

std::string makePseudoTerminal(int &master)
{
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        std::exit(1);
    }
    termios settings {};
    ::tcgetattr(slave, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(slave, TCSANOW, &settings);
    ::close(slave); // the receiver opens the device exclusively
    return name;
}

bool writeAll(int fd, const std::vector<std::uint8_t> &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

double threadCpuSeconds(pthread_t thread)
{
    clockid_t clock {};
    timespec used {};
    if (pthread_getcpuclockid(thread, &clock) != 0 || ::clock_gettime(clock, &used) != 0)
        return 0;
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

double processCpuSeconds()
{
    timespec used {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

struct ThreadSwitches
{
    std::string Name;
    long long Switches = 0;
    long long CpuNanoseconds = 0; // time on a CPU, from schedstat
};

// Voluntary and involuntary context switches of every thread of the process but one.
std::map<long, ThreadSwitches> contextSwitches(long excluded)
{
    std::map<long, ThreadSwitches> result;
    DIR *tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr)
        return result;
    while (const dirent *entry = ::readdir(tasks)) {
        const long tid = std::strtol(entry->d_name, nullptr, 10);
        if (tid <= 0 || tid == excluded)
            continue;
        const std::string dir = std::string("/proc/self/task/") + entry->d_name;
        ThreadSwitches &thread = result[tid];
        std::ifstream(dir + "/comm") >> thread.Name;
        std::ifstream(dir + "/schedstat") >> thread.CpuNanoseconds;
        std::ifstream status(dir + "/status");
        std::string key;
        while (status >> key) {
            long long value = 0;
            if (key == "voluntary_ctxt_switches:" || key == "nonvoluntary_ctxt_switches:") {
                status >> value;
                thread.Switches += value;
            }
            status.ignore(1 << 12, '\n');
        }
    }
    ::closedir(tasks);
    return result;
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

// Plays the instrument: an opening marker, then every period the data of one frame and the marker
// that ends its block, as a continuous line delivers them.
class Writer
{
public:
    explicit Writer(int master)
        : Master(master)
    { }

    // Streams frames until stop(); frames are numbered from first.
    void start(unsigned first, FrameSource source = numberedFrame)
    {
        Stop.store(false);
        Sent.store(0);
        Source = std::move(source);
        Thread = std::thread([this, first] {
            Tid = ::syscall(SYS_gettid);
            stream(first);
        });
    }
    // Asks the writer to end after the frame it is on, without waiting for it: the watcher must
    // keep seeing passes meanwhile.
    void requestStop() { Stop.store(true); }
    void stop()
    {
        Stop.store(true);
        if (Thread.joinable())
            Thread.join();
    }
    double cpuSeconds() { return Thread.joinable() ? threadCpuSeconds(Thread.native_handle()) : 0; }
    long tid() const { return Tid.load(); }
    unsigned sent() const { return Sent.load(); }
    // When the last byte of frame seq went into the pseudo-terminal; empty if it never did.
    std::optional<Clock::time_point> writtenAt(unsigned seq)
    {
        std::scoped_lock lock(Mutex);
        const auto found = Written.find(seq);
        return found == Written.end() ? std::nullopt : std::optional(found->second);
    }

private:
    void stream(unsigned first)
    {
        writeAll(Master, {Marker});
        const auto base = Clock::now();
        for (unsigned i = 0; !Stop.load(); ++i) {
            std::this_thread::sleep_until(base + FramePeriod * (i + 1));
            std::vector<std::uint8_t> bytes = Source(first + i);
            bytes.push_back(Marker);
            if (!writeAll(Master, bytes))
                break;
            const auto now = Clock::now();
            {
                std::scoped_lock lock(Mutex);
                Written[first + i] = now;
            }
            Sent.fetch_add(1);
        }
    }

    const int Master;
    FrameSource Source;
    std::atomic<bool> Stop {false};
    std::atomic<unsigned> Sent {0};
    std::mutex Mutex;
    std::map<unsigned, Clock::time_point> Written;
    std::atomic<long> Tid {0};
    std::thread Thread;
};

struct Figures
{
    std::vector<double> LatencyMs;
    unsigned LatencySent = 0;
    unsigned LatencyDrawn = 0;
    unsigned Undecoded = 0;
    std::vector<unsigned> NotDrawn;
    double StreamSeconds = 0;
    double StreamCpuSeconds = 0;
    unsigned StreamSent = 0;
    std::uint64_t StreamPasses = 0;
    double IdleSeconds = 0;
    std::map<long, ThreadSwitches> StreamBefore;
    std::map<long, ThreadSwitches> StreamAfter;
    long WriterTid = 0;
    std::map<long, ThreadSwitches> IdleBefore;
    std::map<long, ThreadSwitches> IdleAfter;
    double LongestPaintWaitMs = 0;
};

void measure(SerialReceiver &receiver, CVandrelViewerView &view, int master, Figures &figures)
{
    Writer writer(master);

    // Latency and frames drawn: watch the pass counter closely and read each finished picture.
    {
        receiver.run();
        writer.start(0);
        std::vector<std::pair<unsigned, Clock::time_point>> drawn;
        std::uint64_t seenPasses = view.renderPassCount();
        // Keep watching a little after the last frame so its pass is seen too.
        std::optional<Clock::time_point> watchUntil;
        while (!watchUntil || Clock::now() < *watchUntil) {
            if (!watchUntil && writer.sent() >= LatencyFrames) {
                writer.requestStop();
                watchUntil = Clock::now() + 300ms;
            }
            std::this_thread::sleep_for(100us);
            const std::uint64_t passes = view.renderPassCount();
            if (passes == seenPasses)
                continue;
            const auto finished = Clock::now();
            seenPasses = passes;
            // Let go of the picture at once: a shared copy would make the next pass copy it.
            const std::optional<unsigned> seq = decode(view.backBufferImage());
            if (seq)
                drawn.emplace_back(*seq, finished);
            else
                ++figures.Undecoded;
        }
        writer.stop();
        figures.LatencySent = writer.sent();
        std::map<unsigned, double> firstShown;
        for (const auto &[seq, finished] : drawn) {
            const std::optional<Clock::time_point> written = writer.writtenAt(seq);
            if (!written || firstShown.count(seq))
                continue;
            firstShown[seq] =
                std::chrono::duration<double, std::milli>(finished - *written).count();
        }
        for (const auto &[seq, ms] : firstShown)
            figures.LatencyMs.push_back(ms);
        for (unsigned seq = 0; seq < figures.LatencySent; ++seq)
            if (!firstShown.count(seq))
                figures.NotDrawn.push_back(seq);
        figures.LatencyDrawn = static_cast<unsigned>(firstShown.size());
        receiver.pause();
        std::this_thread::sleep_for(1500ms); // the block under way ends on the silent line
    }

    // CPU while streaming, with nothing watching: the instrument's thread is not the program's.
    {
        receiver.run();
        const std::uint64_t passesBefore = view.renderPassCount();
        const long self = ::syscall(SYS_gettid);
        figures.StreamBefore = contextSwitches(self);
        const double cpuBefore = processCpuSeconds();
        const auto wallBefore = Clock::now();
        writer.start(100000, CpuFrames);
        std::this_thread::sleep_for(CpuPhase);
        const double writerCpu = writer.cpuSeconds();
        const double cpuAfter = processCpuSeconds();
        figures.StreamAfter = contextSwitches(self);
        figures.WriterTid = writer.tid();
        const auto wallAfter = Clock::now();
        writer.stop();
        figures.StreamCpuSeconds = cpuAfter - cpuBefore - writerCpu;
        figures.StreamSeconds = std::chrono::duration<double>(wallAfter - wallBefore).count();
        figures.StreamSent = writer.sent();
        figures.StreamPasses = view.renderPassCount() - passesBefore;
        receiver.pause();
    }

    // Wake-ups while stopped: the port stays open, nothing arrives, nobody should stir.
    std::this_thread::sleep_for(1500ms);
    const long self = ::syscall(SYS_gettid);
    figures.IdleBefore = contextSwitches(self);
    const auto idleStart = Clock::now();
    std::this_thread::sleep_for(IdlePhase);
    figures.IdleAfter = contextSwitches(self);
    figures.IdleSeconds = std::chrono::duration<double>(Clock::now() - idleStart).count();
}

void report(const Figures &f)
{
    std::printf("VandrelViewer end-to-end figures (view %d x %d, offscreen, line pace %.1f ms, "
                "CPU phase streams %s frames)\n",
                ViewWidth, ViewHeight,
                std::chrono::duration<double, std::milli>(FramePeriod).count(), WaveName.c_str());
    std::printf("  latency, last byte written to finished BackBuffer: median %.2f ms, p99 %.2f ms, "
                "max %.2f ms (target p99 <= 5 ms)\n",
                percentile(f.LatencyMs, 0.5), percentile(f.LatencyMs, 0.99),
                percentile(f.LatencyMs, 1.0));
    std::printf("  frames drawn / sent: %u / %u (target: every frame drawn)%s\n", f.LatencyDrawn,
                f.LatencySent, f.Undecoded ? " - some pictures could not be read" : "");
    if (f.Undecoded)
        std::printf("  pictures without a readable sequence number: %u\n", f.Undecoded);
    if (!f.NotDrawn.empty()) {
        std::string missing;
        for (std::size_t i = 0; i < f.NotDrawn.size() && i < 20; ++i)
            missing += " " + std::to_string(f.NotDrawn[i]);
        std::printf("  frames never drawn:%s%s\n", missing.c_str(),
                    f.NotDrawn.size() > 20 ? " ..." : "");
    }
    // A square wave redraws little of the picture, full-swing noise nearly all of its graticule.
    const double targetPercent = WaveName == "square" ? 2.5 : WaveName == "noise" ? 4.0 : 3.0;
    std::printf("  CPU while streaming: %.2f %% of one core (%.3f s CPU over %.1f s, %u frames, "
                "%llu passes; target <= %.1f %%)\n",
                100.0 * f.StreamCpuSeconds / f.StreamSeconds, f.StreamCpuSeconds, f.StreamSeconds,
                f.StreamSent, static_cast<unsigned long long>(f.StreamPasses), targetPercent);
    std::string byThread;
    for (const auto &[tid, after] : f.StreamAfter) {
        const auto before = f.StreamBefore.find(tid);
        const long long used = after.CpuNanoseconds
            - (before == f.StreamBefore.end() ? 0 : before->second.CpuNanoseconds);
        if (tid != f.WriterTid && used > 0)
            byThread += " " + after.Name + "(" + std::to_string(tid) + ") "
                + std::to_string(100.0 * used / 1e9 / f.StreamSeconds).substr(0, 4) + " %;";
    }
    std::printf("  CPU while streaming by thread:%s\n", byThread.c_str());
    std::printf("  longest wait of a paint for the view lock: %.2f ms (target <= 3 ms)\n",
                f.LongestPaintWaitMs);
    long long total = 0;
    std::string busy;
    for (const auto &[tid, after] : f.IdleAfter) {
        const auto before = f.IdleBefore.find(tid);
        const long long delta =
            after.Switches - (before == f.IdleBefore.end() ? 0 : before->second.Switches);
        total += delta;
        if (delta > 0)
            busy += " " + after.Name + "(" + std::to_string(tid) + "):" + std::to_string(delta);
    }
    std::printf("  wake-ups while stopped: %.2f per second over %.1f s, %zu threads (target: "
                "none)%s%s\n",
                static_cast<double>(total) / f.IdleSeconds, f.IdleSeconds, f.IdleAfter.size(),
                busy.empty() ? "" : "; by thread:", busy.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype k = 1; k < arguments.size(); ++k) {
        const QString &option = arguments[k];
        const bool hasValue = k + 1 < arguments.size();
        if (option == QLatin1String("--quick")) {
            // A short run that only shows the tool works.
            LatencyFrames = 30;
            CpuPhase = 1s;
        } else if (option == QLatin1String("--cpu-seconds") && hasValue) {
            // A longer CPU phase: the figure of one run on a shared machine varies by a tenth.
            bool valid = false;
            const int seconds = arguments[++k].toInt(&valid);
            if (!valid || seconds < 1) {
                std::fprintf(stderr, "vandrel-e2e-bench: --cpu-seconds takes a whole number\n");
                return 2;
            }
            CpuPhase = std::chrono::seconds(seconds);
        } else if (option == QLatin1String("--size") && hasValue) {
            const QStringList parts = arguments[++k].split(QLatin1Char('x'));
            bool wide = false;
            bool high = false;
            if (parts.size() == 2) {
                ViewWidth = parts[0].toInt(&wide);
                ViewHeight = parts[1].toInt(&high);
            }
            if (!wide || !high || ViewWidth < 64 || ViewHeight < 48) {
                std::fprintf(stderr, "vandrel-e2e-bench: --size takes WxH, at least 64x48\n");
                return 2;
            }
        } else if (option == QLatin1String("--wave") && hasValue) {
            WaveName = arguments[++k].toStdString();
            const std::optional<Waveform> wave = waveformFromName(WaveName);
            if (!wave
                || (*wave != Waveform::Sine && *wave != Waveform::Square
                    && *wave != Waveform::Noise)) {
                std::fprintf(stderr, "vandrel-e2e-bench: --wave takes sine, square or noise\n");
                return 2;
            }
            CpuFrames = instrumentFrames(*wave);
        } else {
            std::fprintf(stderr,
                         "usage: vandrel-e2e-bench [--quick] [--size WxH] "
                         "[--wave sine|square|noise] [--cpu-seconds S]\n");
            return 2;
        }
    }

    // The reader of the pictures must read what the renderer draws, or every figure is void.
    {
        ScopeFrame frame;
        const std::vector<std::uint8_t> data = numberedFrame(0xA5C3);
        std::copy(data.begin(), data.end(), frame.Bytes.begin());
        QImage picture(ViewWidth, ViewHeight, QImage::Format_RGB32);
        WaveformRenderer::renderDirect(picture, WaveformRenderer::StandardTools().tools(), frame,
                                       overlayTexts(frame, true, 0));
        if (decode(picture) != 0xA5C3u) {
            std::fprintf(stderr,
                         "vandrel-e2e-bench: cannot read the sequence number back from "
                         "a rendered picture\n");
            return 1;
        }
    }

    int master = -1;
    const std::string device = makePseudoTerminal(master);
    ::setenv("VANDREL_COM1", device.c_str(), 1);

    SerialReceiver receiver;
    receiver.start();
    if (!receiver.openPort(0)) {
        std::fprintf(stderr, "vandrel-e2e-bench: cannot open %s\n", device.c_str());
        return 1;
    }
    CVandrelViewerView view;
    view.SetReceiver(&receiver);
    view.resize(ViewWidth, ViewHeight);
    view.show();
    view.OnCreate();
    QCoreApplication::processEvents();
    if (view.backBufferImage().size() != QSize(ViewWidth, ViewHeight) * view.devicePixelRatio())
        std::fprintf(stderr, "vandrel-e2e-bench: the view is %d x %d, not %d x %d\n", view.width(),
                     view.height(), ViewWidth, ViewHeight);

    Figures figures;
    std::thread measuring([&] {
        measure(receiver, view, master, figures);
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    measuring.join();
    figures.LongestPaintWaitMs =
        std::chrono::duration<double, std::milli>(view.longestPaintWait()).count();

    view.OnDestroy();
    receiver.close();
    ::close(master);
    report(figures);
    return 0;
}
