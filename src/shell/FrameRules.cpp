#include "FrameRules.h"

#include "PortFailureMessage.h"
#include "SerialReceiver.h"

#include <mutex>
#include <optional>

namespace {

void appendHex(std::u16string &out, char16_t code, int digits)
{
    constexpr char16_t Digits[] = u"0123456789abcdef";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out.push_back(Digits[(code >> shift) & 0xF]);
}

} // namespace

std::u16string oneLine(std::u16string_view text)
{
    std::u16string line;
    line.reserve(text.size());
    for (const char16_t code : text) {
        switch (code) {
        case u'\n':
            line += u"\\n";
            continue;
        case u'\r':
            line += u"\\r";
            continue;
        case u'\t':
            line += u"\\t";
            continue;
        default:
            break;
        }
        // The control characters (C0, DEL, C1) and the line and paragraph separators.
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
            line += u"\\x";
            appendHex(line, code, 2);
        } else if (code == 0x2028 || code == 0x2029) {
            line += u"\\u";
            appendHex(line, code, 4);
        } else {
            line.push_back(code);
        }
    }
    return line;
}

// Where the receive thread leaves a lost port's report for the window's thread.
struct FrameRules::LostPortMailbox
{
    std::mutex Lock;
    std::optional<PortFailure> Failure;
    // Cleared by the rules' destructor; called under Lock, so it never runs after that.
    std::function<void()> WakeWindow;

    void post(const PortFailure &failure)
    {
        std::scoped_lock lock(Lock);
        Failure = failure;
        if (WakeWindow)
            WakeWindow();
    }
};

FrameRules::FrameRules(SerialReceiver &receiver)
    : Receiver(receiver)
    , Mailbox(std::make_shared<LostPortMailbox>())
{ }

FrameRules::~FrameRules()
{
    stopWatching();
}

void FrameRules::stopWatching()
{
    std::scoped_lock lock(Mailbox->Lock);
    Mailbox->WakeWindow = nullptr;
}

void FrameRules::watchLostPort(std::function<void()> wakeWindow)
{
    {
        std::scoped_lock lock(Mailbox->Lock);
        Mailbox->WakeWindow = std::move(wakeWindow);
    }
    Receiver.setPortLostHandler(
        [mailbox = Mailbox](const PortFailure &failure) { mailbox->post(failure); });
}

void FrameRules::reportLostPort(const PortFailure &failure)
{
    Mailbox->post(failure);
}

void FrameRules::openPort(int index)
{
    if (Receiver.openPort(index))
        IdleText = CommandDefinitions::ReadyText;
    else
        IdleText = portFailureMessage(Receiver.lastFailure());
}

void FrameRules::connect(int selectedPort)
{
    if (Receiver.isRunning()) {
        Receiver.pause();
        return;
    }
    openPort(selectedPort);
    Receiver.run();
}

bool FrameRules::settingsClosed(int previousPort, int selectedPort)
{
    if (selectedPort == previousPort)
        return false;
    Receiver.pause();
    openPort(selectedPort);
    return true;
}

bool FrameRules::portLost()
{
    std::optional<PortFailure> failure;
    {
        std::scoped_lock lock(Mailbox->Lock);
        failure.swap(Mailbox->Failure);
    }
    // The report may arrive after an open that followed the loss; the receiver records every
    // open, so a port open now or a failure that is no loss means the report is overtaken.
    const PortFailure latest = Receiver.lastFailure();
    if (!failure || Receiver.currentPort() >= 0 || (!latest.Lost && latest.ErrorNumber != 0))
        return false;
    IdleText = portFailureMessage(*failure);
    return true;
}

void FrameRules::menuOpened()
{
    ++OpenMenus;
    MenuPrompt.clear();
}

void FrameRules::menuClosed()
{
    if (OpenMenus > 0)
        --OpenMenus;
    MenuPrompt.clear();
}

void FrameRules::menuPrompt(std::u16string_view prompt)
{
    if (OpenMenus > 0)
        MenuPrompt = prompt;
}

std::u16string FrameRules::statusLine() const
{
    return oneLine(OpenMenus > 0 ? MenuPrompt : IdleText);
}
