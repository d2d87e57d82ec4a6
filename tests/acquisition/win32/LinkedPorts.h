#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The Windows tests run with COM1 and COM2 linked like a null-modem cable (two pseudo-terminals
// joined by a bridge, each mapped to its port in the Wine prefix): what the test writes to COM2
// is what the code under test reads from COM1. COM20 has no device: on Windows the name does not
// exist; Wine, where every name up to COM20 is mapped, maps it to a path that does not exist and
// opens it as a device without a line state.
constexpr int ReaderIndex = 0;
constexpr int MissingIndex = 19;
// What opening COM20 fails with: no such name, or under Wine no serial device behind it.
int missingPortError();

// The test's end of the link: COM2, opened for reading and writing.
class LinkedPorts
{
public:
    // Also empties COM1's input, so nothing an earlier test left unread reaches this one.
    LinkedPorts();
    ~LinkedPorts();
    LinkedPorts(const LinkedPorts &) = delete;
    LinkedPorts &operator=(const LinkedPorts &) = delete;

    bool isOpen() const { return Handle != nullptr; }
    bool write(std::span<const std::uint8_t> bytes);
    bool write(const std::vector<std::uint8_t> &bytes) { return write(std::span(bytes)); }
    // What arrived from COM1's side (bytes the code under test wrote) within the time-out.
    std::vector<std::uint8_t> readAvailable(std::chrono::milliseconds timeout);

private:
    void *Handle = nullptr;
};

// Wine neither refuses a second opener of a COM port nor cancels a synchronous read on one;
// checks of those only hold on Windows itself.
bool underWine();

// The device path of a port, as the program opens it.
std::wstring comPath(int index);

// A whole frame on the line: a marker and 137 data bytes.
std::vector<std::uint8_t> lineFrame(const std::vector<std::uint8_t> &data,
                                    std::uint8_t marker = 0x7C);
