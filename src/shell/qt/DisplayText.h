#pragma once

#include <QString>

// A path or a system message as one line of plain text: control characters and line separators
// are shown escaped ("\n", "\x1b"), so a name cannot break or restyle the line it is shown in.
QString oneLine(const QString &text);

// A tooltip that shows the text as it is: a tooltip that looks like markup is otherwise taken
// as rich text.
QString plainToolTip(const QString &text);
