#pragma once

#include <QAbstractNativeEventFilter>

#include <functional>

class QWidget;

// Reports when another X client destroys the window's native window (XDestroyWindow, as a
// "close window" tool does): Qt does not notice, and the process would live on without a window,
// still holding the port. Watches while it exists; other platforms never report.
class NativeWindowWatch : public QAbstractNativeEventFilter
{
public:
    NativeWindowWatch(QWidget *window, std::function<void()> onDestroyed);
    ~NativeWindowWatch() override;
    NativeWindowWatch(const NativeWindowWatch &) = delete;
    NativeWindowWatch &operator=(const NativeWindowWatch &) = delete;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    QWidget *Window;
    std::function<void()> OnDestroyed;
    bool Reported = false;
};
