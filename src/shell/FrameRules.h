#pragma once

#include "CommandDefinitions.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class SerialReceiver;
struct PortFailure;

// A path or a system message as one line of plain text: control characters and line separators
// are shown escaped ("\n", "\x1b", "\u2028"), so a name cannot break or restyle the line.
std::u16string oneLine(std::u16string_view text);

// What the main frame's commands do to the receiver, and what its status line says, for every
// front-end. Each frame keeps its toolkit's glue and calls these from its handlers, all on the
// window's thread except where said.
class FrameRules
{
public:
    explicit FrameRules(SerialReceiver &receiver);
    // Cuts the receive thread off from the window: a port lost from here on wakes nobody.
    ~FrameRules();
    FrameRules(const FrameRules &) = delete;
    FrameRules &operator=(const FrameRules &) = delete;

    // Before the receiver's start. Each time the receiver loses its open port, wakeWindow is
    // called on the receive thread; it must only ask the window's thread to call portLost().
    // Lives with the receiver's thread, not with this object, so no order of destruction lets
    // a late report reach a destroyed frame.
    void watchLostPort(std::function<void()> wakeWindow);
    // From now on a lost port wakes nobody; for a window that is going away.
    void stopWatching();
    // What the receiver's report of a lost port does, on the receive thread: keeps the failure
    // for portLost() and wakes the window.
    void reportLostPort(const PortFailure &failure);

    // Opens the port and makes the idle text "Ready" or why it did not open.
    void openPort(int index);
    // Connect: stops running acquisition; otherwise reopens the selected port and runs, also when
    // the port did not open.
    void connect(int selectedPort);
    // After the settings dialog: a changed port stops acquisition and reopens. Answers whether
    // anything changed.
    bool settingsClosed(int previousPort, int selectedPort);
    // On the window's thread after wakeWindow: shows why the port was lost, unless an open after
    // the loss, successful or not, has set the status line since. Answers whether it changed.
    bool portLost();

    // While a menu is open the status line shows the prompt of the highlighted item instead of
    // the idle text. Menus may nest; each opening has its closing.
    void menuOpened();
    void menuClosed();
    void menuPrompt(std::u16string_view prompt);
    bool menuOpen() const { return OpenMenus > 0; }

    // The idle text, or the prompt while a menu is open, as one line.
    std::u16string statusLine() const;

private:
    struct LostPortMailbox;

    SerialReceiver &Receiver;
    std::shared_ptr<LostPortMailbox> Mailbox;
    // "Ready", or why the port is not usable until the next successful open.
    std::u16string IdleText {CommandDefinitions::ReadyText};
    std::u16string MenuPrompt;
    int OpenMenus = 0;
};
