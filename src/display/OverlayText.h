#pragma once

#include "WaveformGeometry.h"

#include <QString>

#include <array>

class ScopeFrame;

using OverlayTexts = std::array<QString, WaveformGeometry::TextLineCount>;

// The eight lines beside the graticule: the connection state, then the frame's decoded header.
// The first line names a port only while acquisition runs on a port that is actually open.
OverlayTexts overlayTexts(const ScopeFrame &frame, bool running, int port);
