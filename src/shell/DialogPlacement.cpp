#include "DialogPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

QPoint centredDialogPosition(QSize dialog, std::optional<QRect> owner, const QRect &workArea)
{
    // Right and bottom edges are exclusive here, as for a window rectangle.
    const QRect centre = owner.value_or(workArea);
    const int xMiddle = (centre.left() + centre.left() + centre.width()) / 2;
    const int yMiddle = (centre.top() + centre.top() + centre.height()) / 2;
    int x = xMiddle - dialog.width() / 2;
    int y = yMiddle - dialog.height() / 2;

    const int areaRight = workArea.left() + workArea.width();
    const int areaBottom = workArea.top() + workArea.height();
    if (x + dialog.width() > areaRight)
        x = areaRight - dialog.width();
    if (x < workArea.left())
        x = workArea.left();
    if (y + dialog.height() > areaBottom)
        y = areaBottom - dialog.height();
    if (y < workArea.top())
        y = workArea.top();
    return {x, y};
}

void centreOverOwner(QWidget *dialog, QWidget *owner)
{
    if (owner != nullptr)
        owner = owner->window();
    const bool usable = owner != nullptr && owner->isVisible() && !owner->isMinimized();

    QScreen *screen = usable ? owner->screen() : dialog->screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;

    std::optional<QRect> ownerRect;
    if (usable)
        ownerRect = owner->frameGeometry();
    dialog->move(centredDialogPosition(dialog->frameGeometry().size(), ownerRect,
                                       screen->availableGeometry()));
}
