#include "OverlayText.h"

#include "ScopeFrame.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

// The C library formats the numbers so that rounding and signs ("-0.5") are exactly printf's.
[[gnu::format(printf, 1, 2)]] QString printfText(const char *format, ...)
{
    std::array<char, 128> buffer {};
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
    va_end(arguments);
    return QString::fromLatin1(buffer.data(),
                               std::clamp(length, 0, static_cast<int>(buffer.size()) - 1));
}

} // namespace

OverlayTexts overlayTexts(const ScopeFrame &frame, bool running, int port)
{
    OverlayTexts texts;
    // A failed open leaves the receiver without a port; naming one then would claim a link
    // that does not exist.
    if (running && port >= 0)
        texts[0] = printfText("Connect: COM%lld", static_cast<long long>(port) + 1);
    else
        texts[0] = QStringLiteral(u"Connect: 未接続");
    texts[1] = QStringLiteral("Coupling: ") + QString::fromUtf16(frame.couplingName());
    texts[2] = QStringLiteral("Trigger Type: ") + QString::fromUtf16(frame.triggerTypeName());
    texts[3] = printfText("Trigger Level: %1.1f", static_cast<double>(frame.triggerLevel()));
    texts[4] = printfText("Time Base: %dnsec", frame.timeBase());
    texts[5] = printfText("Voltage: %dV", frame.voltage());
    texts[6] = printfText("V-Div: %2.3fV", frame.voltage() / 8.0);
    texts[7] = printfText("H-Div: %.3fnsec", frame.timeBase() * 128.0 / 8.0);
    return texts;
}
