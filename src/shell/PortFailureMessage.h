#pragma once

#include <string>

struct PortFailure;

// The status-bar text for a port that could not be opened or that vanished while open, for every
// front-end: which COM name and device it was, the system's reason and, for the usual causes on
// this platform, what to do.
std::u16string portFailureMessage(const PortFailure &failure);
