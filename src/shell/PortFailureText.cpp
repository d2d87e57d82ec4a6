#include "PortFailureText.h"

#include "PortNames.h"
#include "SerialReceiver.h"

#include <cerrno>

using namespace Qt::Literals::StringLiterals;

namespace {

QString hintFor(int errorNumber)
{
    switch (errorNumber) {
    case EACCES:
    case EPERM:
        return u"dialout グループに属していないユーザーはシリアルポートを開けません"
               u"（sudo usermod -aG dialout $USER の後、ログインし直してください）。"_s;
    case EBUSY:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EAGAIN:
        return u"別のプログラムがこのポートを使用中です。"_s;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return u"デバイスが接続されていません。"_s;
    case EIO:
        return u"デバイスが取り外されたか、応答しません。"_s;
    default:
        return QString();
    }
}

} // namespace

QString portFailureText(const PortFailure &failure)
{
    if (failure.Index < 0 || failure.Index >= PortCount)
        return u"接続ポートが選択されていません。"_s;

    const QString name = QString::fromStdString(portDisplayName(failure.Index));
    const QString device = QString::fromStdString(failure.DevicePath);
    const QString port = device.isEmpty() ? name : u"%1 (%2)"_s.arg(name, device);
    const QString what =
        failure.Lost ? u"%1 が切断されました"_s.arg(port) : u"%1 を開けません"_s.arg(port);
    // The system's reason for this one ("busy") would send the user looking for another program.
    if (failure.OwnTerminal)
        return u"%1: このプログラムを起動した端末のため使用できません。"
               u"別のポートを選んでください。"_s.arg(what);
    const QString reason = QString::fromStdString(failure.Reason);
    QString text = reason.isEmpty() ? what + u"。"_s : u"%1: %2。"_s.arg(what, reason);
    const QString hint = hintFor(failure.ErrorNumber);
    if (!hint.isEmpty())
        text += hint;
    return text;
}
