#include "NativeWindowWatch.h"

#include <QCoreApplication>
#include <QWidget>

#include <cstdint>

namespace {

// The X protocol's DestroyNotify event as xcb hands it over; the wire layout is fixed by the
// protocol, so the xcb headers are not needed for it.
struct DestroyNotifyEvent
{
    std::uint8_t ResponseType;
    std::uint8_t Pad;
    std::uint16_t Sequence;
    std::uint32_t Event;
    std::uint32_t Window;
};
constexpr std::uint8_t DestroyNotify = 17;
// The high bit marks an event sent by another client.
constexpr std::uint8_t EventCodeMask = 0x7F;

} // namespace

NativeWindowWatch::NativeWindowWatch(QWidget *window, std::function<void()> onDestroyed)
    : Window(window)
    , OnDestroyed(std::move(onDestroyed))
{
    QCoreApplication::instance()->installNativeEventFilter(this);
}

NativeWindowWatch::~NativeWindowWatch()
{
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool NativeWindowWatch::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (Reported || eventType != "xcb_generic_event_t" || message == nullptr)
        return false;
    const auto *event = static_cast<const DestroyNotifyEvent *>(message);
    if ((event->ResponseType & EventCodeMask) != DestroyNotify)
        return false;
    // Only a window that is meant to be on screen: Qt destroys its own native windows when it
    // recreates them or takes the widget down, and then a different id or a hidden widget answers.
    if (!Window->isVisible() || !Window->testAttribute(Qt::WA_WState_Created)
        || event->Window != static_cast<std::uint32_t>(Window->internalWinId()))
        return false;
    Reported = true;
    OnDestroyed();
    return false;
}
