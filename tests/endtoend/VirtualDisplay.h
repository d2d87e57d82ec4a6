#pragma once

#include <QByteArray>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

// Runs a helper program to its end within the bound; its standard output, or nothing when it
// failed, could not start or overran (it is killed then).
std::optional<QByteArray> runTool(const QString &program, const QStringList &arguments,
                                  const QProcessEnvironment &environment, int boundMs);

// The picture in a dump of the X window dump program (xwd) of a 24-bit screen; a null image when
// the dump is not one.
QImage imageFromXwd(const QByteArray &dump);

// Lets the child die with the test process, so a crashed test leaves no server or viewer behind.
void endWithParent(QProcess &process);

// A private X server (Xvfb) on a display number the server picks itself, so parallel tests never
// meet on one display. The server ends with the object whatever happened in between.
class VirtualDisplay
{
public:
    VirtualDisplay() = default;
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay &) = delete;
    VirtualDisplay &operator=(const VirtualDisplay &) = delete;

    // Starts the server and waits until it answers clients; false when it cannot.
    bool start(int width, int height, int boundMs);
    QString name() const { return Name; }
    // The test's environment pointed at this display, with every Qt scaling override removed
    // so that one logical pixel is one captured pixel.
    QProcessEnvironment environment() const;

    // The first visible top-level window whose name matches the pattern, waiting up to the bound.
    std::optional<QString> findWindow(const QString &namePattern, int boundMs) const;
    // How many windows of the process are mapped now (its main window, menus, dialogs).
    int visibleWindowsOf(qint64 pid) const;
    // Gives the window the keyboard focus and types the keys (xdotool names, e.g. "space").
    bool focusAndPress(const QString &window, const QString &keys) const;
    // Types the keys into whatever has the focus.
    bool press(const QString &keys) const;
    bool resizeWindow(const QString &window, int width, int height) const;
    // A left click at a point given relative to the window.
    bool click(const QString &window, int x, int y) const;
    // The window's current content as the X server holds it.
    QImage capture(const QString &window) const;

    // The tools the class drives; empty names when one of them is not installed.
    static QString missingTools();

private:
    QProcess Server;
    QString Name;
};
