// How long openPort() keeps its caller, the window's thread, in the three states the receive thread
// can be in: hunting on a quiet line, inside a block on a line that fell silent, and streaming
// frames at the line's pace. A real pseudo-terminal stands in for the device. Prints p50, p99 and
// the maximum per state; judges nothing.

#include "Event.h"
#include "SerialReceiver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <random>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint8_t Marker = 0x7C;
// One character of 9 bits at 19200 baud.
constexpr auto CharacterTime = std::chrono::nanoseconds(468'750);

struct Line
{
    int Master = -1;
    int Watch = -1; // a slave descriptor that never reads: shows what the receiver consumed
    std::string Device;
};

Line makeLine()
{
    Line line;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&line.Master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        std::exit(1);
    }
    termios raw {};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    line.Device = name;
    // Opened before the receiver's exclusive open, which turns later openers away.
    line.Watch = ::open(name, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ::close(slave);
    return line;
}

void writeAll(int fd, const std::vector<std::uint8_t> &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else
            std::this_thread::sleep_for(1ms);
    }
}

bool waitUntilConsumed(const Line &line)
{
    const auto until = Clock::now() + 10s;
    for (;;) {
        int queued = 0;
        if (::ioctl(line.Watch, FIONREAD, &queued) == 0 && queued == 0)
            return true;
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
}

std::vector<std::uint8_t> frameBytes(std::uint8_t value)
{
    std::vector<std::uint8_t> bytes(138, value);
    bytes[0] = Marker;
    return bytes;
}

class Samples
{
public:
    void timeOpen(SerialReceiver &receiver)
    {
        const auto before = Clock::now();
        if (!receiver.openPort(0)) {
            std::fprintf(stderr, "vandrel-port-bench: the port did not reopen\n");
            std::exit(1);
        }
        Micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
    }

    void print(const char *state)
    {
        std::sort(Micros.begin(), Micros.end());
        const auto at = [this](double share) {
            const auto index = static_cast<std::size_t>(share * static_cast<double>(Micros.size()));
            return Micros[std::min(index, Micros.size() - 1)] / 1000.0;
        };
        std::printf("openPort %-34s n=%4zu  p50 %7.3f ms  p99 %7.3f ms  max %7.3f ms\n", state,
                    Micros.size(), at(0.50), at(0.99), Micros.back() / 1000.0);
    }

private:
    std::vector<double> Micros;
};

} // namespace

int main(int argc, char **argv)
{
    int rounds = 200;
    if (argc > 1 && std::strcmp(argv[1], "--quick") == 0)
        rounds = 20;

    Line line = makeLine();
    ::setenv("VANDREL_COM1", line.Device.c_str(), 1);
    SerialReceiver receiver;
    receiver.start();
    if (!receiver.openPort(0)) {
        std::fprintf(stderr, "vandrel-port-bench: cannot open %s\n", line.Device.c_str());
        return 1;
    }
    const std::shared_ptr<Event> frames = receiver.frameEvent();
    receiver.run();
    std::mt19937 random(1);
    std::uniform_int_distribution<int> pause(0, 20);

    // Hunting: the thread waits in a one-second read for a marker that does not come.
    Samples hunting;
    for (int i = 0; i < rounds; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        hunting.timeOpen(receiver);
    }
    hunting.print("while hunting");

    // Inside a block: a frame, then the first bytes of the next, then silence.
    Samples inBlock;
    for (int i = 0; i < rounds; ++i) {
        writeAll(line.Master, frameBytes(static_cast<std::uint8_t>(i % 0x70)));
        writeAll(line.Master, {Marker, 1, 2, 3});
        if (!waitUntilConsumed(line)) {
            std::fprintf(stderr, "vandrel-port-bench: the receiver stopped reading\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        inBlock.timeOpen(receiver);
    }
    inBlock.print("inside a block on a silent line");

    // Streaming at the line's pace, a character's time per byte, in small bursts.
    std::atomic<bool> streaming {true};
    std::thread writer([&] {
        auto next = Clock::now();
        for (std::uint8_t value = 0; streaming.load(); value = (value + 1) % 0x70) {
            const std::vector<std::uint8_t> frame = frameBytes(value);
            for (std::size_t at = 0; at < frame.size() && streaming.load(); at += 6) {
                const std::size_t count = std::min<std::size_t>(6, frame.size() - at);
                writeAll(line.Master,
                         {frame.begin() + static_cast<long>(at),
                          frame.begin() + static_cast<long>(at + count)});
                next += CharacterTime * count;
                std::this_thread::sleep_until(next);
            }
        }
    });
    Samples whileStreaming;
    std::uniform_int_distribution<int> withinFrame(0, 64);
    const int streamRounds = rounds;
    for (int i = 0; i < streamRounds; ++i) {
        // Two blocks stored since the last change: the thread streams on the reopened port.
        (void)frames->waitFor(5s);
        (void)frames->waitFor(5s);
        std::this_thread::sleep_for(std::chrono::milliseconds(withinFrame(random)));
        whileStreaming.timeOpen(receiver);
    }
    streaming = false;
    writer.join();
    whileStreaming.print("while streaming");

    receiver.close();
    ::close(line.Watch);
    ::close(line.Master);
    return 0;
}
