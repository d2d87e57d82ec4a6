#include "DialogPlacement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
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

namespace {

void placeOverOwner(QWidget *dialog, QWidget *owner);

// Lives on the dialog while it waits for its frame; gone after the one correction or when the
// dialog is hidden, so a later move by the user is never undone.
class FrameWatch : public QObject
{
public:
    FrameWatch(QWidget *dialog, QWidget *owner)
        : QObject(dialog)
        , Dialog(dialog)
        , Owner(owner)
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
        case QEvent::WindowActivate:
            if (Dialog->frameGeometry() != Dialog->geometry()) {
                Dialog->removeEventFilter(this);
                deleteLater();
                placeOverOwner(Dialog, Owner);
            }
            break;
        default:
            break;
        }
        return false;
    }

private:
    QWidget *Dialog;
    QPointer<QWidget> Owner;
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
    if (dialog->frameGeometry() == dialog->geometry())
        new FrameWatch(dialog, owner);
}
