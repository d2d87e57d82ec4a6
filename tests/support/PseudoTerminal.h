#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// A real pseudo-terminal standing in for the instrument's serial device: the program under test
// opens slavePath(); the test writes the instrument's bytes into the master side.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    const std::string &slavePath() const { return SlavePath; }
    int masterFd() const { return MasterFd; }

    // Writes every byte (retrying short writes); false when the master is closed or fails.
    bool write(std::span<const std::uint8_t> bytes);
    bool write(const std::vector<std::uint8_t> &bytes) { return write(std::span(bytes)); }

    // Reads what arrived on the master side (bytes written by the program) within the time-out.
    std::vector<std::uint8_t> readAvailable(std::chrono::milliseconds timeout);

    // Closes the master side: the device vanishes for whoever holds the slave open.
    void closeMaster();

    // Opens a slave descriptor that the test never reads, only to see whether the program under
    // test has consumed what was written. Call it before the program opens the device: its
    // exclusive open turns later openers away but leaves earlier descriptors alone.
    void watchSlave();
    // Waits until every byte written so far has been read by the program (needs watchSlave()).
    bool waitUntilConsumed(std::chrono::milliseconds bound);
    // The watching descriptor, e.g. for tcgetattr(); -1 before watchSlave().
    int watchFd() const { return WatchFd; }

private:
    int MasterFd = -1;
    int WatchFd = -1;
    std::string SlavePath;
};

// A whole frame on the line: a marker and 137 data bytes. Data bytes must not be markers.
std::vector<std::uint8_t> lineFrame(const std::vector<std::uint8_t> &data,
                                    std::uint8_t marker = 0x7C);
