#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

class QWidget;

// Where a dialog of the given size goes: its centre on the centre of the owner's window
// rectangle (or of the work area when there is no usable owner), then moved into the work area:
// right edge first, then left, so a dialog wider than the area lines up with its left edge; the
// same for bottom, then top. Centres and half sizes use integer division.
QPoint centredDialogPosition(QSize dialog, std::optional<QRect> owner, const QRect &workArea);

// Moves a dialog that is about to be shown to that place. An owner that is null, hidden or
// minimised counts as none. Until the window manager has framed the dialog only its client size
// is known, so while it is shown it is placed again, by its window rectangle, whenever its frame
// shows up or changes, or its size does.
void centreOverOwner(QWidget *dialog, QWidget *owner);
