#pragma once

#include "OverlayLines.h"

#include <QString>

#include <array>

class ScopeFrame;

using OverlayTexts = std::array<QString, WaveformGeometry::TextLineCount>;

// The overlay lines as the renderer draws them.
OverlayTexts overlayTexts(const ScopeFrame &frame, bool running, int port);
