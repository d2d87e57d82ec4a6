#include "Event.h"
#include "Framing.h"
#include "InstrumentFrames.h"
#include "InstrumentProcess.h"
#include "MemorySource.h"
#include "ScopedEnv.h"
#include "SerialReceiver.h"

#include <csignal>
#include <gtest/gtest.h>
#include <iostream>
#include <string>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(InstrumentFrames, EveryWaveformMakesDecodableFramesWithoutMarkers)
{
    std::mt19937 rng(7);
    for (const auto wave : {Waveform::Sine, Waveform::Square, Waveform::Triangle,
                            Waveform::Sawtooth, Waveform::Noise}) {
        for (const HeaderCodes codes : {HeaderCodes {0, 0, 0, 0, 0}, HeaderCodes {3, 15, 3, 15, 30},
                                        HeaderCodes {2, 5, 1, 4, 16}}) {
            ASSERT_TRUE(headerProblem(codes).empty());
            const auto data = frameData(codes, SignalShape {wave, 2.5, 31, 1.0}, 0.37, rng);
            ASSERT_EQ(data.size(), FrameDataSize);
            ASSERT_TRUE(std::none_of(data.begin(), data.end(), isMarker));
            ASSERT_TRUE(std::all_of(data.begin() + 4, data.begin() + 132,
                                    [](std::uint8_t sample) { return sample <= 63; }));
            ScopeFrame frame;
            std::copy(data.begin(), data.end(), frame.Bytes.begin());
            EXPECT_EQ(frame.Bytes[0] >> 2 & 3, codes.Voltage);
            EXPECT_EQ(frame.Bytes[0] >> 4 & 3, codes.Coupling);
            EXPECT_EQ(frame.Bytes[1] & 15, codes.TimeBase);
            EXPECT_EQ(frame.Bytes[2] >> 2 & 15, codes.TriggerType);
            EXPECT_EQ(frame.Bytes[3] >> 2 & 31, codes.TriggerLevel);
        }
    }
    EXPECT_FALSE(headerProblem({0, 0, 0, 0, 31}).empty()) << "0x7C in the header is a marker";
}

// Runs the bytes through the framing rules as the receive thread would, from the first marker.
std::vector<std::size_t> blockLengths(Bytes line, ScopeFrame &frame)
{
    line.push_back(FrameMarker); // the next frame's marker ends the last block
    MemorySource source(line);
    const std::atomic<bool> keep {true};
    std::vector<std::size_t> lengths;
    BlockBuffer buffer {};
    EXPECT_TRUE(readMarker(source));
    while (source.remaining() > 0) {
        lengths.push_back(readBlock(source, buffer, keep).Size);
        mergeBlock(buffer, lengths.back(), frame);
    }
    return lengths;
}

TEST(InstrumentFrames, FaultModesShapeTheBlocksAsAdvertised)
{
    std::mt19937 rng(3);
    const auto data = frameData(HeaderCodes {}, SignalShape {}, 1.0, rng);
    const auto faulty = [&](Fault fault) {
        return lineBytes(data, static_cast<unsigned>(fault), rng);
    };

    ScopeFrame frame;
    EXPECT_EQ(blockLengths(lineBytes(data, 0, rng), frame), std::vector<std::size_t> {137});
    EXPECT_TRUE(std::equal(data.begin(), data.end(), frame.Bytes.begin()));

    ScopeFrame split;
    EXPECT_EQ(blockLengths(faulty(Fault::Split), split), (std::vector<std::size_t> {4, 133}));
    EXPECT_EQ(split, frame);

    // 3 to 12 extra bytes: 138 collected, the 139th dropped, the rest a block of its own.
    ScopeFrame overLong;
    const auto longLine = faulty(Fault::OverLong);
    const std::size_t extra = longLine.size() - 1 - 137;
    ASSERT_GE(extra, 3u);
    EXPECT_EQ(blockLengths(longLine, overLong), (std::vector<std::size_t> {138, extra - 2}));
    EXPECT_TRUE(std::equal(data.begin() + 4, data.end(), overLong.Bytes.begin() + 4));

    const auto plain = lineBytes(data, 0, rng);
    const auto high = faulty(Fault::Bit7);
    ASSERT_EQ(high.size(), plain.size());
    for (std::size_t i = 0; i < high.size(); ++i)
        EXPECT_EQ(high[i], plain[i] | 0x80);

    const auto noisy = faulty(Fault::Noise);
    EXPECT_GT(noisy.size(), plain.size());
    EXPECT_TRUE(std::all_of(noisy.begin(), noisy.end(), [](std::uint8_t b) { return b < 0x80; }));
}

TEST(Instrument, StreamsFramesAtTheLinePaceToAReaderOfThePrintedPath)
{
    constexpr int FrameCount = 20;
    InstrumentProcess instrument({"--frames", std::to_string(FrameCount), "--voltage", "2",
                                  "--timebase", "5", "--coupling", "1", "--trigger", "4", "--level",
                                  "16"});
    const std::string path = instrument.firstLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;

    Event lost(Event::Reset::Manual); // outlives the receiver, whose thread sets it
    SerialReceiver receiver;
    receiver.setPortLostHandler([&](const PortFailure &) { lost.set(); });
    receiver.start();
    {
        const ScopedEnv com5("VANDREL_COM5", path);
        ASSERT_TRUE(receiver.openPort(4));
    }
    receiver.run();
    const auto frames = receiver.frameEvent();

    // The first block ends with the second marker; from there on count and time the rest.
    ASSERT_TRUE(frames->waitFor(5s));
    const auto first = Clock::now();
    int announced = 1;
    while (!lost.waitFor(0ms) && Clock::now() - first < 10s)
        announced += frames->waitFor(200ms) ? 1 : 0;
    const double seconds = std::chrono::duration<double>(Clock::now() - first).count();
    ASSERT_TRUE(lost.waitFor(0ms)) << "the instrument's exit hangs up the line";
    EXPECT_EQ(instrument.exitCode(5s), 0);
    std::cout << announced << " blocks, " << (announced - 1) / seconds << " per second\n";
    // Auto-reset announcements may merge, never multiply; 20 frames take 1.3 s on the line.
    EXPECT_GE(announced, FrameCount / 2);
    EXPECT_LE(announced, FrameCount + 1);
    EXPECT_LT(seconds, 8.0);

    ScopeFrame frame;
    frame.fillFrom(receiver);
    EXPECT_EQ(frame.voltage(), 100);
    EXPECT_EQ(frame.timeBase(), 10000);
    EXPECT_EQ(std::u16string(frame.couplingName()), u"AC");
    EXPECT_EQ(std::u16string(frame.triggerTypeName()), u"-INTERN");
    EXPECT_FLOAT_EQ(frame.triggerLevel(), -0.3f);
}

TEST(Instrument, StopsCleanlyOnSignalsAndRefusesBadOptions)
{
    for (int number : {SIGTERM, SIGINT}) {
        InstrumentProcess waiting({}); // no reader: it waits for one
        ASSERT_FALSE(waiting.firstLine().empty());
        waiting.signal(number);
        EXPECT_EQ(waiting.exitCode(5s), 0);
    }
    EXPECT_EQ(InstrumentProcess({"--help"}).exitCode(5s), 0);
    for (const auto &bad : std::vector<std::vector<std::string>> {
             {"--level", "31"}, {"--wave", "zigzag"}, {"--frames"}, {"--bogus", "1"}})
        EXPECT_EQ(InstrumentProcess(bad).exitCode(5s), 2) << bad[0];
}

} // namespace
