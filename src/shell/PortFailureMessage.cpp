#include "PortFailureMessage.h"

#include "PortNames.h"
#include "SerialReceiver.h"

#include <cerrno>

namespace {

enum class Cause { Other, NoPermission, Busy, Absent, Removed };

// ErrorNumber is an errno value on every platform; the Windows port translates its error codes.
Cause causeOf(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
#ifdef _WIN32
        // A COM port is opened exclusively: Windows refuses a second opener with access denied.
        return Cause::Busy;
#else
        return Cause::NoPermission;
#endif
    case EBUSY:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EAGAIN:
        return Cause::Busy;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return Cause::Absent;
    case EIO:
        return Cause::Removed;
    default:
        return Cause::Other;
    }
}

std::u16string_view hintFor(Cause cause)
{
    switch (cause) {
    case Cause::NoPermission:
        return u"dialout グループに属していないユーザーはシリアルポートを開けません"
               u"（sudo usermod -aG dialout $USER の後、ログインし直してください）。";
    case Cause::Busy:
        return u"別のプログラムがこのポートを使用中です。";
    case Cause::Absent:
        return u"デバイスが接続されていません。";
    case Cause::Removed:
        return u"デバイスが取り外されたか、応答しません。";
    case Cause::Other:
        break;
    }
    return {};
}

// Device paths and the system's texts arrive as UTF-8; a malformed sequence becomes U+FFFD
// rather than being passed on.
std::u16string fromUtf8(const std::string &text)
{
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int length = 0;
        char32_t code = 0;
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07;
        }
        bool valid = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        constexpr char32_t Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (valid)
            valid =
                code >= Smallest[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += static_cast<std::size_t>(length);
    }
    return out;
}

} // namespace

std::u16string portFailureMessage(const PortFailure &failure)
{
    if (failure.Index < 0 || failure.Index >= PortCount)
        return u"接続ポートが選択されていません。";

    const std::u16string name = fromUtf8(portDisplayName(failure.Index));
    const std::u16string device = fromUtf8(failure.DevicePath);
    const std::u16string port = device.empty() ? name : name + u" (" + device + u")";
    const std::u16string what = port + (failure.Lost ? u" が切断されました" : u" を開けません");
    // The system's reason for this one ("busy") would send the user looking for another program.
    if (failure.OwnTerminal)
        return what
            + u": このプログラムを起動した端末のため使用できません。別のポートを選んでください。";
    const std::u16string reason = fromUtf8(failure.Reason);
    std::u16string text = reason.empty() ? what + u"。" : what + u": " + reason + u"。";
    text += hintFor(causeOf(failure.ErrorNumber));
    return text;
}
