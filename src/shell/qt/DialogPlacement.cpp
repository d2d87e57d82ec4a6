#include "DialogPlacement.h"

#include "DialogPlacementRule.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

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

namespace {

void placeOverOwner(QWidget *dialog, QWidget *owner);

// The frame the window manager put about the dialog; null while it is not known.
QMargins frameOf(const QWidget *dialog)
{
    const QWindow *window = dialog->windowHandle();
    return window != nullptr ? window->frameMargins() : QMargins();
}

// Lives on the dialog while it is shown and places it again whenever its frame becomes known or
// changes, or its size does: a manager may frame a window only after it is mapped, or first with
// its borders and then with its title bar, and a dialog's layout may settle on its size after it
// is shown (seen: 20 pixels shorter). The dialogs have a fixed size, so only the program changes
// it; a move by the user changes neither, so it is never undone.
class FrameWatch : public QObject
{
public:
    FrameWatch(QWidget *dialog, QWidget *owner)
        : QObject(dialog)
        , Dialog(dialog)
        , Owner(owner)
        , Placed(frameOf(dialog))
    {
        dialog->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != Dialog)
            return false;
        switch (event->type()) {
        case QEvent::Hide:
            deleteLater();
            Dialog->removeEventFilter(this);
            break;
        // A manager that keeps the client where it was asked sends no move: the first paint,
        // which follows the map, is then the first moment the frame is known.
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Paint:
        case QEvent::WindowActivate: {
            const QMargins frame = frameOf(Dialog);
            const QSize size = Dialog->frameGeometry().size();
            if (!frame.isNull() && (frame != Placed || size != PlacedSize)) {
                Placed = frame;
                PlacedSize = size;
                placeOverOwner(Dialog, Owner);
            }
            break;
        }
        default:
            break;
        }
        return false;
    }

private:
    QWidget *Dialog;
    QPointer<QWidget> Owner;
    // The frame and the size the last placement knew.
    QMargins Placed;
    QSize PlacedSize;
};

void placeOverOwner(QWidget *dialog, QWidget *owner)
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

} // namespace

void centreOverOwner(QWidget *dialog, QWidget *owner)
{
    // The class has no meta-object of its own, so qobject_cast cannot find it.
    const QObjectList children = dialog->children();
    for (QObject *child : children) {
        if (auto *stale = dynamic_cast<FrameWatch *>(child)) {
            dialog->removeEventFilter(stale);
            delete stale;
        }
    }
    placeOverOwner(dialog, owner);
    new FrameWatch(dialog, owner);
}
