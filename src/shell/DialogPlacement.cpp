#include "DialogPlacement.h"

#include "DialogPlacementRule.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

QPoint centredDialogPosition(QSize dialog, std::optional<QRect> owner, const QRect &workArea)
{
    const auto rect = [](const QRect &r) {
        return DialogPlacementRule::Rect {r.left(), r.top(), r.width(), r.height()};
    };
    std::optional<DialogPlacementRule::Rect> ownerRect;
    if (owner)
        ownerRect = rect(*owner);
    const DialogPlacementRule::Point place =
        DialogPlacementRule::position(dialog.width(), dialog.height(), ownerRect, rect(workArea));
    return {place.X, place.Y};
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
