#include "Event.h"
#include "Framing.h"
#include "InstrumentFrames.h"
#include "MemorySource.h"
#include "SerialReceiver.h"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(InstrumentFrames, EveryWaveformMakesDecodableFramesWithoutMarkers)
{
    std::mt19937 rng(7);
    const HeaderCodes codeSets[] = {
        {0, 0, 0, 0, 0}, {3, 15, 3, 15, 30}, {2, 5, 1, 4, 16}, {1, 10, 2, 8, 1}};
    for (const auto wave : {Waveform::Sine, Waveform::Square, Waveform::Triangle,
                            Waveform::Sawtooth, Waveform::Noise}) {
        for (const HeaderCodes &codes : codeSets) {
            ASSERT_TRUE(headerProblem(codes).empty());
            SignalShape shape;
            shape.Wave = wave;
            shape.Amplitude = 31;
            for (double seconds : {0.0, 0.37, 12.5}) {
                const auto data = frameData(codes, shape, seconds, rng);
                ASSERT_EQ(data.size(), FrameDataSize);
                for (std::size_t i = 0; i < data.size(); ++i)
                    ASSERT_FALSE(isMarker(data[i])) << "byte " << i;
                for (std::size_t i = 4; i < 132; ++i)
                    ASSERT_LE(data[i], 63);

                ScopeFrame frame;
                std::copy(data.begin(), data.end(), frame.Bytes.begin());
                ScopeFrame expected;
                expected.Bytes[0] =
                    static_cast<std::uint8_t>(codes.Voltage << 2 | codes.Coupling << 4);
                expected.Bytes[1] = static_cast<std::uint8_t>(codes.TimeBase);
                expected.Bytes[2] = static_cast<std::uint8_t>(codes.TriggerType << 2);
                expected.Bytes[3] = static_cast<std::uint8_t>(codes.TriggerLevel << 2);
                EXPECT_EQ(frame.voltage(), expected.voltage());
                EXPECT_EQ(frame.timeBase(), expected.timeBase());
                EXPECT_EQ(std::u16string(frame.couplingName()), expected.couplingName());
                EXPECT_EQ(std::u16string(frame.triggerTypeName()), expected.triggerTypeName());
                EXPECT_EQ(frame.triggerLevel(), expected.triggerLevel());
            }
        }
    }
}

TEST(InstrumentFrames, RefusesCodesOutOfRangeOrMakingAMarker)
{
    EXPECT_FALSE(headerProblem({4, 0, 0, 0, 0}).empty());
    EXPECT_FALSE(headerProblem({0, 16, 0, 0, 0}).empty());
    EXPECT_FALSE(headerProblem({0, 0, -1, 0, 0}).empty());
    EXPECT_FALSE(headerProblem({0, 0, 0, 16, 0}).empty());
    EXPECT_FALSE(headerProblem({0, 0, 0, 0, 31}).empty());
}

// Runs the bytes through the framing rules as the receive thread would, from the first marker.
std::vector<std::size_t> blockLengths(const std::vector<std::uint8_t> &line, ScopeFrame &frame)
{
    MemorySource source(line);
    const std::atomic<bool> keep {true};
    std::vector<std::size_t> lengths;
    BlockBuffer buffer {};
    EXPECT_TRUE(readMarker(source));
    while (source.remaining() > 0) {
        const std::size_t n = readBlock(source, buffer, keep);
        mergeBlock(buffer, n, frame);
        lengths.push_back(n);
    }
    return lengths;
}

TEST(InstrumentFrames, FaultModesShapeTheBlocksAsAdvertised)
{
    std::mt19937 rng(3);
    const auto data = frameData(HeaderCodes {}, SignalShape {}, 1.0, rng);
    const auto unit = [](Fault fault) { return static_cast<unsigned>(fault); };
    const std::vector<std::uint8_t> nextMarker {FrameMarker};
    const auto withNext = [&](std::vector<std::uint8_t> bytes) {
        bytes.push_back(FrameMarker);
        return bytes;
    };

    ScopeFrame frame;
    EXPECT_EQ(blockLengths(withNext(lineBytes(data, 0, rng)), frame),
              std::vector<std::size_t> {137});
    EXPECT_TRUE(std::equal(data.begin(), data.end(), frame.Bytes.begin()));

    ScopeFrame split;
    EXPECT_EQ(blockLengths(withNext(lineBytes(data, unit(Fault::Split), rng)), split),
              (std::vector<std::size_t> {4, 133}));
    EXPECT_EQ(split, frame);

    // 3 to 12 extra bytes: the block stops at 138, drops the 139th, and the rest run on as a
    // block of their own, which replaces the header when it has 4 bytes or more.
    ScopeFrame overLong;
    const auto longLine = lineBytes(data, unit(Fault::OverLong), rng);
    const std::size_t extra = longLine.size() - 1 - 137;
    ASSERT_GE(extra, 3u);
    EXPECT_EQ(blockLengths(withNext(longLine), overLong),
              (std::vector<std::size_t> {138, extra - 2}));
    EXPECT_TRUE(std::equal(data.begin() + 4, data.end(), overLong.Bytes.begin() + 4));

    const auto high = lineBytes(data, unit(Fault::Bit7), rng);
    const auto plain = lineBytes(data, 0, rng);
    ASSERT_EQ(high.size(), plain.size());
    for (std::size_t i = 0; i < high.size(); ++i) {
        EXPECT_TRUE(high[i] & 0x80);
        EXPECT_EQ(high[i] & 0x7F, plain[i]);
    }

    const auto noisy = lineBytes(data, unit(Fault::Noise), rng);
    EXPECT_GT(noisy.size(), plain.size());
    for (std::uint8_t byte : noisy)
        EXPECT_LT(byte, 0x80);
}

// The tool as a child process, its first output line read through a pipe.
class Instrument
{
public:
    explicit Instrument(std::vector<std::string> arguments)
    {
        int out[2];
        if (::pipe(out) != 0)
            return;
        Pid = ::fork();
        if (Pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            std::vector<char *> argv {const_cast<char *>(VANDREL_INSTRUMENT_PATH)};
            for (std::string &argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        Output = out[0];
    }
    ~Instrument()
    {
        if (Pid > 0 && !Reaped) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
        if (Output >= 0)
            ::close(Output);
    }
    Instrument(const Instrument &) = delete;
    Instrument &operator=(const Instrument &) = delete;

    // The first line of standard output, within the bound.
    std::string firstLine()
    {
        std::string line;
        const auto deadline = Clock::now() + 5s;
        while (Clock::now() < deadline) {
            pollfd fd {Output, POLLIN, 0};
            if (::poll(&fd, 1, 100) <= 0)
                continue;
            char c = 0;
            if (::read(Output, &c, 1) != 1 || c == '\n')
                break;
            line += c;
        }
        return line;
    }

    void signal(int number) { ::kill(Pid, number); }

    // The exit status, or -1 when the process has not ended within the bound.
    int waitForExit(std::chrono::milliseconds bound)
    {
        const auto deadline = Clock::now() + bound;
        while (Clock::now() < deadline) {
            int status = 0;
            if (::waitpid(Pid, &status, WNOHANG) == Pid) {
                Reaped = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

private:
    pid_t Pid = -1;
    int Output = -1;
    bool Reaped = false;
};

TEST(Instrument, StreamsFramesAtTheLinePaceToAReaderOfThePrintedPath)
{
    constexpr int FrameCount = 20;
    Instrument instrument({"--frames", std::to_string(FrameCount), "--voltage", "2", "--timebase",
                           "5", "--coupling", "1", "--trigger", "4", "--level", "16"});
    const std::string path = instrument.firstLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;

    ::setenv("VANDREL_COM5", path.c_str(), 1);
    Event lost(Event::Reset::Manual); // outlives the receiver, whose thread sets it
    SerialReceiver receiver;
    receiver.setPortLostHandler([&](const PortFailure &) { lost.set(); });
    receiver.start();
    ASSERT_TRUE(receiver.openPort(4));
    receiver.run();
    const auto frames = receiver.frameEvent();

    // The first block arrives with the second marker; time the rest.
    ASSERT_TRUE(frames->waitFor(5s));
    const auto first = Clock::now();
    int announced = 1;
    while (!lost.waitFor(0ms) && Clock::now() - first < 10s) {
        if (frames->waitFor(200ms))
            ++announced;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - first).count();
    ASSERT_TRUE(lost.waitFor(0ms)) << "the instrument's exit hangs up the line";
    EXPECT_EQ(instrument.waitForExit(5s), 0);

    // Auto-reset announcements may merge but never exceed the blocks sent.
    EXPECT_GE(announced, FrameCount / 2);
    EXPECT_LE(announced, FrameCount + 1);
    std::cout << announced << " blocks in " << seconds
              << " s after the first: " << (announced - 1) / seconds << " per second\n";
    EXPECT_LT(seconds, 8.0);

    ScopeFrame frame;
    frame.fillFrom(receiver);
    EXPECT_EQ(frame.voltage(), 100);
    EXPECT_EQ(frame.timeBase(), 10000);
    EXPECT_EQ(std::u16string(frame.couplingName()), u"AC");
    EXPECT_EQ(std::u16string(frame.triggerTypeName()), u"-INTERN");
    EXPECT_FLOAT_EQ(frame.triggerLevel(), -0.3f);
    for (std::size_t i = 4; i < 132; ++i)
        EXPECT_LE(frame.Bytes[i], 63);
    ::unsetenv("VANDREL_COM5");
}

TEST(Instrument, StopsCleanlyOnSignalsAlsoWhileWaitingForAReader)
{
    for (int number : {SIGTERM, SIGINT}) {
        Instrument instrument({});
        ASSERT_FALSE(instrument.firstLine().empty());
        instrument.signal(number);
        EXPECT_EQ(instrument.waitForExit(5s), 0);
    }
}

TEST(Instrument, ExplainsItselfAndRefusesBadOptions)
{
    EXPECT_EQ(Instrument({"--help"}).waitForExit(5s), 0);
    EXPECT_EQ(Instrument({"--level", "31"}).waitForExit(5s), 2);
    EXPECT_EQ(Instrument({"--wave", "zigzag"}).waitForExit(5s), 2);
    EXPECT_EQ(Instrument({"--frames"}).waitForExit(5s), 2);
    EXPECT_EQ(Instrument({"--bogus", "1"}).waitForExit(5s), 2);
}

} // namespace
