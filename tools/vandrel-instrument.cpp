// Plays the instrument: streams scope frames at the line's own pace onto a pseudo-terminal it
// creates, or onto a serial device, so the viewer can be run and tested without the hardware.

#include "InstrumentFrames.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <string_view>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// 138 characters of 9 bits (start, 7 data, stop) at 19200 baud: 64.7 ms a frame.
constexpr auto CharacterTime = std::chrono::duration<double>(9.0 / 19200.0);
constexpr auto SilenceStretch = 2500ms;

volatile std::sig_atomic_t StopRequested = 0;

void onStopSignal(int)
{
    StopRequested = 1;
}

constexpr const char *Usage = R"(Usage: vandrel-instrument [options]

Plays a pocket oscilloscope on a serial line: frames of a marker byte (0x7C) and 137 data bytes
(4 header bytes, 128 samples, 5 tail bytes) at 19200 baud 7N1, one frame every 64.7 ms.

Without --device it creates a pseudo-terminal and prints its path on the first line of standard
output; point the viewer at it, e.g. VANDREL_COM1=<path>. Frames start once a reader has opened
the path and pause while none has it open, so no frame is lost before the viewer is there.

Output:
  --device PATH       write to this serial device (19200 7N1) instead of a new pseudo-terminal
  --frames N          stop after N frames (default: run until SIGINT or SIGTERM)

Signal:
  --wave NAME         sine, square, triangle, sawtooth or noise (default sine)
  --cycles X          periods across the screen (default 2)
  --amplitude N       peak deviation from mid-scale, 0-31 samples (default 24)
  --drift HZ          sideways movement of the trace, periods per second (default 0.25)

Header codes (as the instrument encodes them):
  --voltage N         0-3: 1 V, 10 V, 100 V, 0 V full scale (default 1)
  --timebase N        0-15: 50, 100, 500 ns, 1, 5, 10, 50, 100, 500 us, 1, 2 ms (default 3)
  --coupling N        0-3: GND, AC, DC, N/A (default 2)
  --trigger N         0-15: 1 -EXTERN, 2 +EXTERN, 4 -INTERN, 8 +INTERN, other FREE RUN (default 8)
  --level N           0-30: 0 -0.5, 1 0.5, 2 0.3, 4 0.1, 8 -0.1, 16 -0.3, other 0.0 (default 4)

Faults (may be repeated; applied to every Nth frame):
  --fault noise       random 7-bit bytes after the frame, marker bytes included
  --fault split       header and samples as two blocks, each after its own marker
  --fault overlong    3-12 extra data bytes after the frame
  --fault silence     2.5 s of silence after the frame
  --fault bit7        bit 7 set on every byte of the frame
  --fault-every N     apply the faults to every Nth frame (default 10)
  --seed N            seed for noise and fault lengths (default 1)

  --help              this text
)";

template<typename Number>
bool parseNumber(std::string_view text, Number &value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

struct Options
{
    std::string Device;
    long long Frames = -1;
    HeaderCodes Codes;
    SignalShape Shape;
    unsigned Faults = 0;
    long long FaultEvery = 10;
    unsigned Seed = 1;
};

// Answers 0 to go on, otherwise the exit code.
int parseOptions(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(Usage, stdout);
            return -1;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "vandrel-instrument: %s needs a value (see --help)\n", argv[i]);
            return 2;
        }
        const std::string_view value = argv[++i];
        bool good = true;
        if (option == "--device") {
            options.Device = value;
        } else if (option == "--frames") {
            good = parseNumber(value, options.Frames) && options.Frames >= 0;
        } else if (option == "--wave") {
            const auto wave = waveformFromName(value);
            good = wave.has_value();
            if (good)
                options.Shape.Wave = *wave;
        } else if (option == "--cycles") {
            good = parseNumber(value, options.Shape.Cycles) && options.Shape.Cycles >= 0;
        } else if (option == "--amplitude") {
            good = parseNumber(value, options.Shape.Amplitude) && options.Shape.Amplitude >= 0
                && options.Shape.Amplitude <= 31;
        } else if (option == "--drift") {
            good = parseNumber(value, options.Shape.DriftHz);
        } else if (option == "--voltage") {
            good = parseNumber(value, options.Codes.Voltage);
        } else if (option == "--timebase") {
            good = parseNumber(value, options.Codes.TimeBase);
        } else if (option == "--coupling") {
            good = parseNumber(value, options.Codes.Coupling);
        } else if (option == "--trigger") {
            good = parseNumber(value, options.Codes.TriggerType);
        } else if (option == "--level") {
            good = parseNumber(value, options.Codes.TriggerLevel);
        } else if (option == "--fault") {
            const auto fault = faultFromName(value);
            good = fault.has_value();
            if (good)
                options.Faults |= static_cast<unsigned>(*fault);
        } else if (option == "--fault-every") {
            good = parseNumber(value, options.FaultEvery) && options.FaultEvery >= 1;
        } else if (option == "--seed") {
            good = parseNumber(value, options.Seed);
        } else {
            std::fprintf(stderr, "vandrel-instrument: unknown option %s (see --help)\n",
                         argv[i - 1]);
            return 2;
        }
        if (!good) {
            std::fprintf(stderr, "vandrel-instrument: bad value '%s' for %s (see --help)\n",
                         argv[i], argv[i - 1]);
            return 2;
        }
    }
    if (const std::string_view problem = headerProblem(options.Codes); !problem.empty()) {
        std::fprintf(stderr, "vandrel-instrument: %.*s\n", static_cast<int>(problem.size()),
                     problem.data());
        return 2;
    }
    return 0;
}

// SIGINT and SIGTERM stay blocked except inside ppoll(), so a stop request can never slip in
// between the check of StopRequested and the wait.
sigset_t installStopSignals()
{
    struct sigaction action
    {
    };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigset_t waitMask;
    ::sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    return waitMask;
}

class Line
{
public:
    explicit Line(sigset_t waitMask)
        : WaitMask(waitMask)
    { }
    ~Line()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;

    bool openPseudoTerminal()
    {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&Fd, &slave, name, nullptr, nullptr) != 0) {
            std::perror("vandrel-instrument: openpty");
            return false;
        }
        ::fcntl(Fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(Fd, F_SETFL, ::fcntl(Fd, F_GETFL) | O_NONBLOCK);
        // Raw from the start, so the reader's line discipline never echoes, waits for a newline
        // or translates a byte in the moment before it applies its own settings.
        termios settings {};
        ::tcgetattr(slave, &settings);
        ::cfmakeraw(&settings);
        settings.c_cflag = (settings.c_cflag & ~CSIZE) | CS7;
        ::cfsetspeed(&settings, B19200);
        ::tcsetattr(slave, TCSANOW, &settings);
        // Holding no slave descriptor lets the reader open the path exclusively, and makes the
        // master report a hang-up whenever no reader has it open.
        ::close(slave);
        IsPseudoTerminal = true;
        std::printf("%s\n", name);
        std::fflush(stdout);
        return true;
    }

    bool openDevice(const std::string &path)
    {
        Fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (Fd < 0) {
            std::fprintf(stderr, "vandrel-instrument: cannot open %s: %s\n", path.c_str(),
                         std::strerror(errno));
            return false;
        }
        termios settings {};
        if (::tcgetattr(Fd, &settings) == 0) {
            ::cfmakeraw(&settings);
            settings.c_cflag =
                (settings.c_cflag & ~(CSIZE | PARENB | CSTOPB | CRTSCTS)) | CS7 | CLOCAL;
            ::cfsetspeed(&settings, B19200);
            ::tcsetattr(Fd, TCSANOW, &settings);
        }
        return true;
    }

    // Pseudo-terminal only: waits until a reader has the slave open. False on a stop request.
    bool waitForReader()
    {
        if (!IsPseudoTerminal)
            return true;
        bool announced = false;
        while (!StopRequested) {
            if (!hungUp())
                return true;
            if (!announced) {
                std::fputs("vandrel-instrument: waiting for a reader\n", stderr);
                announced = true;
            }
            // A hang-up cannot be waited for to clear, so look again every 50 ms.
            timespec interval {0, 50'000'000};
            ::ppoll(nullptr, 0, &interval, &WaitMask);
        }
        return false;
    }

    bool hungUp()
    {
        if (!IsPseudoTerminal)
            return false;
        pollfd fd {Fd, 0, 0};
        return ::poll(&fd, 1, 0) == 1 && (fd.revents & POLLHUP);
    }

    // Sleeps until the deadline unless a stop is requested first. False on a stop request.
    bool sleepUntil(Clock::time_point deadline)
    {
        while (!StopRequested) {
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero())
                return true;
            const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left);
            timespec interval {static_cast<time_t>(nanoseconds.count() / 1'000'000'000),
                               static_cast<long>(nanoseconds.count() % 1'000'000'000)};
            ::ppoll(nullptr, 0, &interval, &WaitMask);
        }
        return false;
    }

    // Writes the bytes, waiting for room until the deadline. A reader that stopped reading (the
    // viewer paused) lets the buffers fill; what does not fit in time is dropped, as a real
    // line would overrun. Answers whether every byte went out.
    bool write(const std::vector<std::uint8_t> &bytes, Clock::time_point deadline)
    {
        std::size_t done = 0;
        while (done < bytes.size() && !StopRequested) {
            const ssize_t n = ::write(Fd, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false; // EIO: the reader closed the pseudo-terminal meanwhile
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms)
                return false;
            pollfd fd {Fd, POLLOUT, 0};
            timespec interval {static_cast<time_t>(left.count() / 1000),
                               static_cast<long>(left.count() % 1000) * 1'000'000};
            ::ppoll(&fd, 1, &interval, &WaitMask);
        }
        return done == bytes.size();
    }

private:
    int Fd = -1;
    bool IsPseudoTerminal = false;
    sigset_t WaitMask;
};

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (const int exitCode = parseOptions(argc, argv, options); exitCode != 0)
        return exitCode < 0 ? 0 : exitCode;

    const sigset_t waitMask = installStopSignals();
    Line line(waitMask);
    if (!(options.Device.empty() ? line.openPseudoTerminal() : line.openDevice(options.Device)))
        return 1;

    std::mt19937 rng(options.Seed);
    const auto started = Clock::now();
    long long sent = 0;
    long long index = 0;
    while (!StopRequested && (options.Frames < 0 || sent < options.Frames)) {
        if (!line.waitForReader())
            break;
        // Deadlines come from one base and the count of characters sent, so the pace never
        // drifts; the base moves only when the stream was interrupted.
        auto base = Clock::now();
        std::size_t characters = 0;
        while (!StopRequested && (options.Frames < 0 || sent < options.Frames)) {
            const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
            const unsigned faults =
                (index % options.FaultEvery == options.FaultEvery - 1) ? options.Faults : 0;
            ++index;
            std::vector<std::uint8_t> bytes =
                lineBytes(frameData(options.Codes, options.Shape, seconds, rng), faults, rng);
            const bool last = options.Frames >= 0 && sent + 1 == options.Frames;
            if (last)
                bytes.push_back(FrameMarker); // ends the last frame's block without a time-out
            characters += bytes.size();
            const auto due =
                base + std::chrono::duration_cast<Clock::duration>(CharacterTime * characters);
            if (line.write(bytes, due))
                ++sent;
            if (line.hungUp())
                break; // the reader went away: wait for the next one
            if (!line.sleepUntil(due))
                break;
            if (faults & static_cast<unsigned>(Fault::Silence)) {
                if (!line.sleepUntil(Clock::now() + SilenceStretch))
                    break;
                base += SilenceStretch;
            }
            // Fell far behind (the reader stopped reading): carry on from now, without a burst.
            if (Clock::now() - due > 1s) {
                base = Clock::now();
                characters = 0;
            }
        }
    }
    if (options.Frames >= 0 && !StopRequested)
        line.sleepUntil(Clock::now() + 100ms); // let the reader take the last bytes
    return 0;
}
