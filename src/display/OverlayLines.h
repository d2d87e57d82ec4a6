#pragma once

#include "WaveformGeometry.h"

#include <array>
#include <string>

class ScopeFrame;

using OverlayLines = std::array<std::u16string, WaveformGeometry::TextLineCount>;

// The eight lines beside the graticule: the connection state, then the frame's decoded header.
// The first line names a port only while acquisition runs on a port that is actually open.
// The numbers read as printf writes them in the C locale, whatever locale the process has: the
// instrument's users compare them with its own display, which always shows a decimal point.
OverlayLines overlayLines(const ScopeFrame &frame, bool running, int port);
