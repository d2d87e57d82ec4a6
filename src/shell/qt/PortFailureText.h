#pragma once

#include <QString>

struct PortFailure;

// The status-bar text for a port that could not be opened or that vanished while open: which
// COM name and device it was, the system's reason and, for the usual causes on Linux, what to do.
QString portFailureText(const PortFailure &failure);
