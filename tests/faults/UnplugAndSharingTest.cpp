#include "FaultTestSupport.h"

#include "CommandTable.h"
#include "PortFailureText.h"
#include "PseudoTerminal.h"

#include <QAction>
#include <QTemporaryDir>

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace Faults;
using namespace std::chrono_literals;

namespace {

// A device path that stays the same while the device behind it comes and goes, as a udev
// symlink does for a USB adapter that is unplugged and plugged in again.
class StablePath
{
public:
    explicit StablePath(const std::string &target)
    {
        EXPECT_TRUE(Dir.isValid());
        Path = Dir.filePath(u"ttyInstrument"_s).toStdString();
        pointAt(target);
    }
    void pointAt(const std::string &target)
    {
        const std::string next = Path + ".next";
        std::filesystem::remove(next);
        std::filesystem::create_symlink(target, next);
        std::filesystem::rename(next, Path);
    }
    const std::string &path() const { return Path; }

private:
    QTemporaryDir Dir;
    std::string Path;
};

// Writes a frame and a marker that ends its block, and waits until the receiver has stored it.
bool deliver(PseudoTerminal &pty, const SerialReceiver &receiver, unsigned seed)
{
    const std::vector<std::uint8_t> data = frameData(seed);
    std::vector<std::uint8_t> line = lineFrame(data);
    line.push_back(0x7D);
    return pty.write(line)
        && QTest::qWaitFor([&] { return receiverHolds(receiver, data); }, WaitBoundMs);
}

std::string linkTarget(const std::string &link)
{
    char buffer[PATH_MAX] = {};
    const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// The open-file flags of every descriptor of this process that refers to the device.
std::vector<int> openFlagsOf(const std::string &device)
{
    std::vector<int> flags;
    DIR *fds = ::opendir("/proc/self/fd");
    if (fds == nullptr)
        return flags;
    while (const dirent *entry = ::readdir(fds)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || linkTarget("/proc/self/fd/" + name) != device)
            continue;
        std::ifstream info("/proc/self/fdinfo/" + name);
        std::string key;
        while (info >> key) {
            if (key == "flags:") {
                std::string octal;
                info >> octal;
                flags.push_back(static_cast<int>(std::stol(octal, nullptr, 8)));
                break;
            }
            info.ignore(1 << 12, '\n');
        }
    }
    ::closedir(fds);
    return flags;
}

TEST(UnplugTest, LosingTheDeviceStopsTheClaimWithoutSpinningAndTheSamePathConnectsAgain)
{
    auto first = std::make_unique<PseudoTerminal>();
    StablePath device(first->slavePath());
    ScopedEnv com1("VANDREL_COM1", device.path());
    CMainFrame frame;
    showFrame(frame);
    SerialReceiver &receiver = frame.receiver();
    CVandrelViewerView &view = frame.view();

    pressSpace(frame);
    ASSERT_TRUE(receiver.isRunning());
    ASSERT_TRUE(deliver(*first, receiver, 1));
    ASSERT_TRUE(viewShows(view, receiver, true, 0)) << "connected on COM1 before the unplug";
    EXPECT_EQ(frame.statusText(), u"Ready"_s);

    // Mid-stream: half a frame is on the line when the device goes.
    const std::vector<std::uint8_t> data = frameData(2);
    std::vector<std::uint8_t> half = lineFrame(data);
    half.resize(70);
    ASSERT_TRUE(first->write(half));
    first.reset();

    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.lastFailure().Lost; }, WaitBoundMs));
    const PortFailure lost = receiver.lastFailure();
    EXPECT_EQ(lost.DevicePath, device.path());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return frame.statusText() == portFailureText(receiver.lastFailure()); }, WaitBoundMs))
        << frame.statusText().toStdString();
    EXPECT_TRUE(frame.statusText().startsWith(u"COM1"_s));
    EXPECT_EQ(receiver.currentPort(), -1);
    EXPECT_FALSE(receiver.isRunning()) << "acquisition ends with its port";
    EXPECT_TRUE(viewShows(view, receiver, false, -1)) << "the picture must stop naming COM1";

    const double share = cpuShareWhileWaiting(1200);
    std::cout << "CPU after the unplug: " << share * 100.0 << " % of one core\n";
    EXPECT_LT(share, 0.2) << "the program must not spin once the device is gone";
    EXPECT_TRUE(frame.isVisible());

    // The device comes back under the same path: one Space connects again, and frames flow.
    PseudoTerminal second;
    device.pointAt(second.slavePath());
    pressSpace(frame);
    ASSERT_TRUE(receiver.isRunning());
    EXPECT_EQ(receiver.currentPort(), 0);
    EXPECT_EQ(frame.statusText(), u"Ready"_s);
    const std::uint64_t passes = view.renderPassCount();
    for (unsigned seed = 3; seed < 6; ++seed)
        ASSERT_TRUE(deliver(second, receiver, seed)) << "frame " << seed;
    // The receiver holding a frame does not mean the render thread has drawn it yet.
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.renderPassCount() > passes; }, WaitBoundMs));
    EXPECT_TRUE(viewShows(view, receiver, true, 0));
}

TEST(SharingTest, ASecondViewerIsTurnedAwayAsBusyWhileTheFirstKeepsReading)
{
    PseudoTerminal pty;
    ScopedEnv com1("VANDREL_COM1", pty.slavePath());
    CMainFrame first;
    showFrame(first);
    pressSpace(first);
    ASSERT_TRUE(deliver(pty, first.receiver(), 1));

    CMainFrame second;
    ASSERT_TRUE(second.OnCreate());
    second.show();
    const PortFailure refused = second.receiver().lastFailure();
    EXPECT_TRUE(refused.ErrorNumber == EBUSY || refused.ErrorNumber == EWOULDBLOCK)
        << refused.ErrorNumber << " " << refused.Reason;
    EXPECT_EQ(second.statusText(), portFailureText(refused));
    EXPECT_TRUE(second.statusText().contains(u"使用中"_s)) << second.statusText().toStdString();

    // Connecting the second one tries again and is turned away again.
    second.commandAction(IdConnect)->trigger();
    EXPECT_TRUE(second.receiver().isRunning());
    EXPECT_EQ(second.receiver().currentPort(), -1);
    EXPECT_EQ(second.statusText(), portFailureText(second.receiver().lastFailure()));

    for (unsigned seed = 2; seed < 6; ++seed) {
        ASSERT_TRUE(deliver(pty, first.receiver(), seed)) << "frame " << seed;
        EXPECT_FALSE(receiverHolds(second.receiver(), frameData(seed)));
    }
    EXPECT_EQ(first.receiver().currentPort(), 0);
    EXPECT_EQ(first.statusText(), u"Ready"_s);
}

TEST(ReadOnlyTest, TheDeviceIsOpenForReadingOnlyAndNothingIsEverWrittenToIt)
{
    PseudoTerminal pty;
    ScopedEnv com1("VANDREL_COM1", pty.slavePath());
    CMainFrame frame;
    showFrame(frame);

    const std::vector<int> flags = openFlagsOf(pty.slavePath());
    ASSERT_EQ(flags.size(), 1u) << "the frame holds the device once, from its start";
    EXPECT_EQ(flags[0] & O_ACCMODE, O_RDONLY);

    // A whole session: connect, frames, disconnect, reconnect (a reopen), resize, disconnect.
    pressSpace(frame);
    for (unsigned seed = 1; seed < 4; ++seed)
        ASSERT_TRUE(deliver(pty, frame.receiver(), seed));
    pressSpace(frame);
    pressSpace(frame);
    for (const std::vector<int> &reopened = openFlagsOf(pty.slavePath()); int f : reopened)
        EXPECT_EQ(f & O_ACCMODE, O_RDONLY);
    for (unsigned seed = 4; seed < 7; ++seed)
        ASSERT_TRUE(deliver(pty, frame.receiver(), seed));
    const QSize viewBefore = frame.view().size();
    frame.resize(700, 500);
    // The view's picture has followed the resize.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const QImage picture = frame.view().backBufferImage();
            return frame.view().size() != viewBefore
                && picture.deviceIndependentSize().toSize() == frame.view().size();
        },
        WaitBoundMs));
    pressSpace(frame);

    std::vector<std::uint8_t> written = pty.readAvailable(500ms);
    EXPECT_TRUE(written.empty()) << written.size() << " bytes arrived on the instrument's side";
}

} // namespace
