// Feeds arbitrary lines to the receive thread's own loop, and compares what it stores and announce
// with a model of the line written the other way round: token by token, pushed into a state
// machine, instead of pulled by reads.
//
// Input: byte 0 holds options, the rest is the line.
//   bit 0 of byte 0: 0x80 is an escape; the byte after it says what happens at that point on the
//         line (modulo 5): 0 a read times out, 1 the device vanishes (a failed read), 2 the user
//         stops acquisition and starts it again, 3 the receiver is closed, 4 a literal 0x80.
//   bit 1 of byte 0: the line has 7 data bits, so bit 7 of every byte is cleared as the port does.
// The end of the input closes the receiver.

#include "Framing.h"
#include "ScopeFrame.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

enum class Kind { Byte, TimeOut, Lost, Pause, Close };

struct Token
{
    Kind What = Kind::Byte;
    std::uint8_t Value = 0;
};

std::vector<Token> parseLine(const std::uint8_t *data, std::size_t size)
{
    std::vector<Token> tokens;
    if (size == 0)
        return tokens;
    const bool escapes = (data[0] & 1) != 0;
    const bool sevenBits = (data[0] & 2) != 0;
    for (std::size_t i = 1; i < size; ++i) {
        std::uint8_t byte = data[i];
        if (escapes && byte == 0x80 && i + 1 < size) {
            switch (data[++i] % 5) {
            case 0:
                tokens.push_back({Kind::TimeOut, 0});
                continue;
            case 1:
                tokens.push_back({Kind::Lost, 0});
                continue;
            case 2:
                tokens.push_back({Kind::Pause, 0});
                continue;
            case 3:
                tokens.push_back({Kind::Close, 0});
                continue;
            default:
                break; // a literal 0x80
            }
        }
        if (sevenBits)
            byte &= 0x7F;
        tokens.push_back({Kind::Byte, byte});
    }
    return tokens;
}

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "framing invariant broken: %s\n", what);
    std::abort();
}

void check(bool condition, const char *what)
{
    if (!condition)
        fail(what);
}

// What one announcement of the frame event carried.
struct Announcement
{
    bool Lost = false; // a vanished device, announced without a block
    std::size_t Length = 0;
    ScopeFrame Frame;
};

// Plays the tokens as the port would: a user's stop or a close happens while a read is under way;
// a vanished device is a failed read after which the device is back at once.
class LineSource final : public ByteSource
{
public:
    LineSource(const std::vector<Token> &tokens, std::atomic<bool> &keepReceiving, bool &paused)
        : Tokens(tokens)
        , KeepReceiving(keepReceiving)
        , Paused(paused)
    { }

    ByteRead readByte() override
    {
        check(!Closed, "read after the receiver was closed");
        while (Next < Tokens.size() && Tokens[Next].What == Kind::Pause) {
            Paused = true;
            ++Next;
        }
        if (Next == Tokens.size())
            return close();
        const Token token = Tokens[Next++];
        switch (token.What) {
        case Kind::Byte:
            return {ReadStatus::Byte, token.Value};
        case Kind::TimeOut:
            return {ReadStatus::TimedOut, 0};
        case Kind::Lost:
            LostDevice = true;
            return {ReadStatus::Failed, 0};
        case Kind::Close:
        case Kind::Pause:
            break;
        }
        return close();
    }

    // Whether a read since the last call found the device gone.
    bool takeLost()
    {
        const bool lost = LostDevice;
        LostDevice = false;
        return lost;
    }

private:
    // Closing wakes the read under way, which is cut short.
    ByteRead close()
    {
        KeepReceiving.store(false);
        Closed = true;
        return {ReadStatus::Interrupted, 0};
    }

    const std::vector<Token> &Tokens;
    std::atomic<bool> &KeepReceiving;
    bool &Paused;
    std::size_t Next = 0;
    bool LostDevice = false;
    bool Closed = false;
};

// The ranges a block of n bytes may write, by the merge table.
bool mayChange(std::size_t n, std::size_t byte)
{
    if (n >= 137)
        return byte < 137;
    if (n >= 133)
        return byte >= 4 && byte < 137;
    return byte < std::min<std::size_t>(n, 4);
}

void checkMerge(const ScopeFrame &before, const ScopeFrame &after, const BlockBuffer &buffer,
                std::size_t n)
{
    check(n <= BlockCapacity, "block longer than the buffer");
    for (std::size_t i = 0; i < n; ++i)
        check(!isMarker(buffer[i]), "a marker was collected into a block");
    check(after.Bytes[137] == 0, "byte 137 of the latest frame was written");
    for (std::size_t i = 0; i < ScopeFrame::Size; ++i) {
        if (!mayChange(n, i))
            check(after.Bytes[i] == before.Bytes[i], "a byte outside the block's range changed");
        check(!isMarker(after.Bytes[i]), "a marker was stored in the latest frame");
    }
}

// Runs the receive thread's own loop on the line: the run event becomes the paused flag
// (acquisition is started again whenever the loop waits for it), the port's loss and the frame
// event become the source's report and the list of announcements. Every merge is checked.
class LineHost
{
public:
    explicit LineHost(const std::vector<Token> &tokens)
        : Source(tokens, KeepReceiving, Paused)
    { }

    const std::atomic<bool> &keepReceiving() const { return KeepReceiving; }
    void waitForRun() { Paused = false; }
    bool isRunning() const { return !Paused; }

    // There is only ever the one port: it is never replaced.
    template<class Read>
    PortAccess withPort(Read &&read, PortUse)
    {
        read(static_cast<ByteSource &>(Source));
        return Source.takeLost() ? PortAccess::Lost : PortAccess::Read;
    }

    void merge(const BlockBuffer &buffer, std::size_t n)
    {
        const ScopeFrame before = LatestFrame;
        mergeBlock(buffer, n, LatestFrame);
        checkMerge(before, LatestFrame, buffer, n);
    }

    void announce(std::size_t n) { Announced.push_back({false, n, LatestFrame}); }

    void reportLost() { Announced.push_back({true, 0, LatestFrame}); }

    // The device is back at once after a loss: there is always a port.
    [[noreturn]] void pauseWithoutPort() { fail("the loop found no port"); }

    const std::vector<Announcement> &announced() const { return Announced; }

private:
    std::atomic<bool> KeepReceiving {true};
    bool Paused = false;
    LineSource Source;
    ScopeFrame LatestFrame;
    std::vector<Announcement> Announced;
};

// The same line as a state machine that is handed one token at a time.
class LineModel
{
public:
    void push(const Token &token)
    {
        if (Done)
            return;
        if (token.What == Kind::Pause) {
            Paused = true;
            return;
        }
        if (InBlock)
            pushInBlock(token);
        else
            pushHunting(token);
    }
    void finish() { push({Kind::Close, 0}); }
    const std::vector<Announcement> &announced() const { return Announced; }

private:
    void pushHunting(const Token &token)
    {
        // Every hunting read starts after a wait for the run event, so only a stop during this
        // read can keep a marker from opening a block.
        const bool pausedDuringRead = Paused;
        Paused = false;
        switch (token.What) {
        case Kind::Byte:
            InBlock = isMarker(token.Value) && !pausedDuringRead;
            Block.clear();
            break;
        case Kind::Lost:
            Announced.push_back({true, 0, Frame});
            break;
        case Kind::Close:
            Done = true;
            break;
        case Kind::TimeOut:
        case Kind::Pause:
            break;
        }
    }

    void pushInBlock(const Token &token)
    {
        if (token.What == Kind::Byte && !isMarker(token.Value) && Block.size() < BlockCapacity) {
            Block.push_back(token.Value);
            return;
        }
        // A failure or the close cuts the block: it is dropped, never stored. The loss alone is
        // announced.
        const bool cut = token.What == Kind::Lost || token.What == Kind::Close;
        if (!cut) {
            // The line ended it: a marker (which opens the next), the byte after a full buffer
            // (dropped) or a time-out.
            std::copy(Block.begin(), Block.end(), Buffer.begin());
            merge(Block.size());
            Announced.push_back({false, Block.size(), Frame});
        } else if (token.What == Kind::Lost) {
            Announced.push_back({true, 0, Frame});
        }
        Block.clear();
        if (token.What == Kind::Close) {
            Done = true;
        } else if (token.What == Kind::Lost || Paused) {
            InBlock = false;
            Paused = false;
        }
    }

    void merge(std::size_t n)
    {
        std::size_t from = 0; // first frame byte written
        std::size_t count = 0; // bytes taken from the start of the buffer
        if (n == 137 || n == 138) {
            count = 137;
        } else if (n >= 133 && n <= 136) {
            from = 4;
            count = 133;
        } else {
            count = std::min<std::size_t>(n, 4);
        }
        for (std::size_t i = 0; i < count; ++i)
            Frame.Bytes[from + i] = Buffer[i];
    }

    bool Done = false;
    bool InBlock = false;
    bool Paused = false;
    std::vector<std::uint8_t> Block;
    BlockBuffer Buffer {};
    ScopeFrame Frame;
    std::vector<Announcement> Announced;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::vector<Token> tokens = parseLine(data, size);
    LineHost host(tokens);
    receiveLoop(host);
    const std::vector<Announcement> &announced = host.announced();

    LineModel model;
    for (const Token &token : tokens)
        model.push(token);
    model.finish();
    const std::vector<Announcement> &expected = model.announced();

    check(announced.size() == expected.size(), "blocks announced more or less than once each");
    for (std::size_t i = 0; i < announced.size(); ++i) {
        check(announced[i].Lost == expected[i].Lost, "a loss announced in place of a block");
        check(announced[i].Length == expected[i].Length, "a block of the wrong length");
        check(announced[i].Frame == expected[i].Frame,
              "a block stored other bytes than the line's");
    }
    return 0;
}
