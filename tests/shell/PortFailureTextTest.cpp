#include "PortFailureText.h"
#include "SerialReceiver.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

#include <cerrno>

namespace {

PortFailure failure(int index, const char *path, int error, const char *reason, bool lost = false)
{
    PortFailure f;
    f.Index = index;
    f.DevicePath = path;
    f.ErrorNumber = error;
    f.Reason = reason;
    f.Lost = lost;
    return f;
}

} // namespace

TEST(PortFailureTextTest, NamesThePortTheDeviceAndTheReasonWithAHintForTheUsualCauses)
{
    struct Case
    {
        PortFailure Failure;
        QString Expected;
    };
    const Case cases[] = {
        {failure(0, "/dev/ttyS0", EACCES, "Permission denied"),
         u"COM1 (/dev/ttyS0) を開けません: Permission denied。dialout グループに属していない"
         u"ユーザーはシリアルポートを開けません（sudo usermod -aG dialout $USER の後、ログインし直"
         u"してください）。"_s},
        {failure(4, "/dev/ttyUSB0", EBUSY, "Device or resource busy"),
         u"COM5 (/dev/ttyUSB0) を開けません: Device or resource busy。別のプログラムがこのポー"
         u"トを使用中です。"_s},
        {failure(19, "/dev/ttyACM7", ENOENT, "No such file or directory"),
         u"COM20 (/dev/ttyACM7) を開けません: No such file or directory。デバイスが接続されてい"
         u"ません。"_s},
        {failure(2, "/dev/pts/9", EIO, "Input/output error", true),
         u"COM3 (/dev/pts/9) が切断されました: Input/output error。デバイスが取り外されたか、応"
         u"答しません。"_s},
        // No hint for a cause without a usual remedy, and no reason when the system gave none.
        {failure(1, "/dev/ttyS1", EINVAL, "Invalid argument"),
         u"COM2 (/dev/ttyS1) を開けません: Invalid argument。"_s},
        {failure(1, "/dev/ttyS1", 0, ""), u"COM2 (/dev/ttyS1) を開けません。"_s},
        {failure(-1, "", ENOENT, "No such file or directory"),
         u"接続ポートが選択されていません。"_s},
        {failure(20, "", ENOENT, "No such file or directory"),
         u"接続ポートが選択されていません。"_s},
    };
    for (const Case &c : cases)
        EXPECT_EQ(portFailureText(c.Failure), c.Expected) << c.Failure.Index;

    // The lock of another program answers EWOULDBLOCK, which is busy too.
    EXPECT_TRUE(
        portFailureText(failure(0, "/dev/ttyS0", EWOULDBLOCK, "Resource temporarily unavailable"))
            .contains(u"別のプログラム"_s));
    EXPECT_TRUE(portFailureText(failure(0, "/dev/ttyS0", EPERM, "Operation not permitted"))
                    .contains(u"dialout"_s));

    // The program's own terminal is refused as busy, but no other program is to blame.
    PortFailure own = failure(2, "/dev/pts/4", EBUSY, "Device or resource busy");
    own.OwnTerminal = true;
    EXPECT_EQ(portFailureText(own),
              u"COM3 (/dev/pts/4) を開けません: このプログラムを起動した端末のため使用できません。"
              u"別のポートを選んでください。"_s);
}
