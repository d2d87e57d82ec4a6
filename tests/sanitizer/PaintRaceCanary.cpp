// A planted race that the thread sanitizer must report: a worker thread writes a plain int and
// the window's thread reads it in one of its event handlers. ctest passes only when the report
// appears, so no suppression can grow to hide races on the window's side unnoticed.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

int Shared = 0; // deliberately unguarded
// Relaxed on purpose: it tells the window's thread that the write happened without ordering it.
std::atomic<bool> Written {false};

int readShared()
{
    return Shared;
}

class RacyWidget : public QWidget
{
public:
    explicit RacyWidget(const char *handler)
        : Handler(handler)
    { }

    // Set once the write has happened; before that, a handler reads nothing.
    bool Armed = false;
    int Seen = -1;

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (Armed && std::strcmp(Handler, "paint") == 0)
            Seen = readShared();
    }
    void resizeEvent(QResizeEvent *) override
    {
        if (Armed && std::strcmp(Handler, "resize") == 0)
            Seen = readShared();
    }

private:
    const char *Handler;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const char *handler = argc > 1 ? argv[1] : "paint";
    if (std::strcmp(handler, "paint") != 0 && std::strcmp(handler, "resize") != 0
        && std::strcmp(handler, "slot") != 0) {
        std::fprintf(stderr, "usage: %s paint|resize|slot\n", argv[0]);
        return 2;
    }

    RacyWidget widget(handler);
    widget.resize(200, 150);
    widget.show();

    std::thread writer([] {
        Shared = 42;
        Written.store(true, std::memory_order_relaxed);
    });
    // Once the write is done, the chosen handler reads; the program ends when it has.
    bool asked = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &widget, [&] {
        if (widget.Seen != -1) {
            app.quit();
        } else if (!asked && Written.load(std::memory_order_relaxed)) {
            asked = true;
            widget.Armed = true;
            if (std::strcmp(handler, "slot") == 0)
                widget.Seen = readShared();
            else if (std::strcmp(handler, "resize") == 0)
                widget.resize(widget.width() + 10, widget.height());
            else
                widget.update();
        }
    });
    poll.start(1);
    // Bounded, so a broken canary fails by its missing report rather than by hanging.
    QTimer::singleShot(20000, &app, &QCoreApplication::quit);
    app.exec();
    writer.join();
    std::printf("read %d in the %s handler\n", widget.Seen, handler);
    return 0;
}
