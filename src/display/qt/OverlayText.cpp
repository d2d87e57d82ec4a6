#include "OverlayText.h"

OverlayTexts overlayTexts(const ScopeFrame &frame, bool running, int port)
{
    const OverlayLines lines = overlayLines(frame, running, port);
    OverlayTexts texts;
    for (std::size_t line = 0; line < lines.size(); ++line)
        texts[line] = QString::fromStdU16String(lines[line]);
    return texts;
}
