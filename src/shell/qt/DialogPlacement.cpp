#include "DialogPlacement.h"

#include "DialogPlacementRule.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

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

xcb_connection_t *x11Connection()
{
    const auto *x11 = qGuiApp != nullptr
        ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
        : nullptr;
    return x11 != nullptr ? x11->connection() : nullptr;
}

// A process has one connection to its X server, so the atom is asked for once.
xcb_atom_t frameExtentsAtom(xcb_connection_t *connection)
{
    static const xcb_atom_t atom = [connection] {
        constexpr std::string_view name = "_NET_FRAME_EXTENTS";
        const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(connection,
                                  xcb_intern_atom(connection, 0,
                                                  static_cast<std::uint16_t>(name.size()),
                                                  name.data()),
                                  nullptr),
            &std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }();
    return atom;
}

// The frame the window manager put about a window; nothing while it is not known. On X11 it is
// what the manager published on the window itself: the toolkit works its margins out from its
// own idea of the window's geometry, which lags behind the server's under load and then gives
// plainly wrong margins for a while (seen: 129 pixels on the right of a 1-pixel border).
std::optional<QMargins> frameOf(const QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    if (handle == nullptr || !window->testAttribute(Qt::WA_WState_Created))
        return std::nullopt;
    if (xcb_connection_t *connection = x11Connection()) {
        const xcb_atom_t atom = frameExtentsAtom(connection);
        const auto id = static_cast<xcb_window_t>(window->internalWinId());
        if (atom != XCB_ATOM_NONE && id != XCB_WINDOW_NONE) {
            const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
                xcb_get_property_reply(
                    connection, xcb_get_property(connection, 0, id, atom, XCB_ATOM_CARDINAL, 0, 4),
                    nullptr),
                &std::free);
            if (reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) == 16) {
                // Left, right, top, bottom, in the server's pixels.
                std::array<std::uint32_t, 4> extents {};
                std::memcpy(extents.data(), xcb_get_property_value(reply.get()), 16);
                const qreal ratio = handle->devicePixelRatio();
                const auto scaled = [ratio](std::uint32_t pixels) {
                    return qRound(static_cast<qreal>(pixels) / ratio);
                };
                return QMargins(scaled(extents[0]), scaled(extents[2]), scaled(extents[1]),
                                scaled(extents[3]));
            }
        }
    }
    // A manager that publishes no extents, or another platform.
    const QMargins margins = handle->frameMargins();
    return margins.isNull() ? std::nullopt : std::optional(margins);
}

// Lives on the dialog while it is shown and places it again whenever its frame becomes known or
// changes, or its size does: a manager may frame a window only after it is mapped, or first with
// its borders and then with its title bar, and a dialog's layout may settle on its size after it
// is shown (seen: 20 pixels shorter). The dialogs have a fixed size, so only the program changes
// it; a move by the user changes neither, so it is never undone.
class FrameWatch : public QObject, public QAbstractNativeEventFilter
{
public:
    FrameWatch(QWidget *dialog, QWidget *owner)
        : QObject(dialog)
        , Dialog(dialog)
        , Owner(owner)
        , Placed(frameOf(dialog))
    {
        dialog->installEventFilter(this);
        if (x11Connection() != nullptr)
            QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~FrameWatch() override
    {
        if (QCoreApplication::instance() != nullptr)
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }
    FrameWatch(const FrameWatch &) = delete;
    FrameWatch &operator=(const FrameWatch &) = delete;

    // A manager may publish the frame with no event that reaches the widget: the client stays
    // where it is and only the frame grows about it.
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t" || message == nullptr)
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY)
            return false;
        const auto *property = static_cast<const xcb_property_notify_event_t *>(message);
        xcb_connection_t *connection = x11Connection();
        if (connection == nullptr || property->atom != frameExtentsAtom(connection)
            || property->window != static_cast<xcb_window_t>(Dialog->internalWinId()))
            return false;
        // Not in the middle of the toolkit's own handling of the event.
        QMetaObject::invokeMethod(
            this, [this] { placeIfFrameChanged(); }, Qt::QueuedConnection);
        return false;
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
            placeIfFrameChanged();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void placeIfFrameChanged()
    {
        if (!Dialog->isVisible())
            return;
        const std::optional<QMargins> frame = frameOf(Dialog);
        const QSize size = Dialog->size();
        if (frame && (frame != Placed || size != PlacedSize)) {
            Placed = frame;
            PlacedSize = size;
            placeOverOwner(Dialog, Owner);
        }
    }

    QWidget *Dialog;
    QPointer<QWidget> Owner;
    // The frame and the size the last placement knew.
    std::optional<QMargins> Placed;
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
        ownerRect = owner->geometry().marginsAdded(frameOf(owner).value_or(QMargins()));
    const QMargins frame = frameOf(dialog).value_or(QMargins());
    const QPoint framePlace = centredDialogPosition(dialog->size().grownBy(frame), ownerRect,
                                                    screen->availableGeometry());
    // The client's own rectangle, worked out here from the frame above: a move of the frame would
    // be turned into one of the client with the toolkit's lagging margins.
    dialog->setGeometry(QRect(framePlace + QPoint(frame.left(), frame.top()), dialog->size()));
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
