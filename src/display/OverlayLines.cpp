#include "OverlayLines.h"

#include "ScopeFrame.h"

#include <charconv>
#include <system_error>

namespace {

// std::to_chars never consults the locale, and with a precision it rounds exactly as printf's
// "%.Nf" does, signs ("-0.5") included.
std::u16string fixed(double value, int precision, int minimumWidth = 0)
{
    char buffer[64];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    if (error != std::errc())
        return u"?";
    std::u16string text;
    const auto length = static_cast<int>(end - buffer);
    if (length < minimumWidth)
        text.assign(static_cast<std::size_t>(minimumWidth - length), u' ');
    text.append(buffer, end);
    return text;
}

std::u16string decimal(long long value)
{
    char buffer[24];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (error != std::errc())
        return u"?";
    return std::u16string(buffer, end);
}

} // namespace

OverlayLines overlayLines(const ScopeFrame &frame, bool running, int port)
{
    OverlayLines lines;
    // A failed open leaves the receiver without a port; naming one then would claim a link
    // that does not exist.
    if (running && port >= 0)
        lines[0] = u"Connect: COM" + decimal(static_cast<long long>(port) + 1);
    else
        lines[0] = u"Connect: 未接続";
    lines[1] = std::u16string(u"Coupling: ") + frame.couplingName();
    lines[2] = std::u16string(u"Trigger Type: ") + frame.triggerTypeName();
    lines[3] = u"Trigger Level: " + fixed(static_cast<double>(frame.triggerLevel()), 1, 1);
    lines[4] = u"Time Base: " + decimal(frame.timeBase()) + u"nsec";
    lines[5] = u"Voltage: " + decimal(frame.voltage()) + u"V";
    lines[6] = u"V-Div: " + fixed(frame.voltage() / 8.0, 3, 2) + u"V";
    lines[7] = u"H-Div: " + fixed(frame.timeBase() * 128.0 / 8.0, 3) + u"nsec";
    return lines;
}
