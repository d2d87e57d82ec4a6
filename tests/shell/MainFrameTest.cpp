#include "CMainFrame.h"
#include "CommandTable.h"
#include "OverlayText.h"
#include "ShellTestSupport.h"
#include "WaveformRenderer.h"

#include "PseudoTerminal.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

using namespace Qt::Literals::StringLiterals;

namespace {

// A frame created and shown like the program's, with COM1 mapped to a pseudo-terminal unless a
// test maps it elsewhere first.
class MainFrameTest : public testing::Test
{
protected:
    void create()
    {
        ASSERT_TRUE(Frame.OnCreate());
        Frame.show();
        Frame.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Frame));
    }

    // A key for the frame. The offscreen platform does not give the activation back to the frame
    // when a dialog closes, as a desktop would, so the test does.
    void pressSpace()
    {
        Frame.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Frame));
        QTest::keyClick(&Frame.view(), Qt::Key_Space);
    }

    // Writes a frame and a closing marker, and waits until the receiver has stored it.
    bool deliver(PseudoTerminal &pty, std::uint8_t seed)
    {
        const std::vector<std::uint8_t> data = frameData(seed);
        std::vector<std::uint8_t> line = lineFrame(data);
        line.push_back(0x7C);
        return pty.write(line)
            && QTest::qWaitFor([&] { return receiverHolds(Frame.receiver(), data); }, WaitBoundMs);
    }

    void runSettings(std::function<void(CSettingDlg &)> choose)
    {
        whenModal([this, choose = std::move(choose)](QWidget *modal) {
            ASSERT_EQ(modal, &Frame.settingDialog());
            choose(Frame.settingDialog());
        });
        Frame.commandAction(IdSettings)->trigger();
    }

    static void pressOk(CSettingDlg &dialog)
    {
        QMetaObject::invokeMethod(&dialog, &CSettingDlg::accept, Qt::QueuedConnection);
    }

    PseudoTerminal Com1;
    ScopedEnv Com1Path {"VANDREL_COM1", Com1.slavePath()};
    CMainFrame Frame;
};

TEST_F(MainFrameTest, StartsStoppedOnCom1AndSpaceStartsAndStopsKeepingThePortWhileStopped)
{
    create();
    SerialReceiver &receiver = Frame.receiver();
    EXPECT_EQ(receiver.currentPort(), 0);
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_TRUE(deviceIsHeld(Com1.slavePath()));
    EXPECT_EQ(Frame.statusText(), u"Ready"_s);
    EXPECT_EQ(Frame.windowTitle(), u"VandrelViewer"_s);

    pressSpace();
    EXPECT_TRUE(receiver.isRunning());
    EXPECT_TRUE(deliver(Com1, 1));

    pressSpace();
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_EQ(receiver.currentPort(), 0);
    EXPECT_TRUE(deviceIsHeld(Com1.slavePath()));

    // The next start opens the port afresh: with COM1 now naming another device, it reads there.
    PseudoTerminal other;
    ScopedEnv moved("VANDREL_COM1", other.slavePath());
    pressSpace();
    EXPECT_TRUE(receiver.isRunning());
    EXPECT_EQ(receiver.currentPort(), 0);
    EXPECT_TRUE(deviceIsHeld(other.slavePath()));
    EXPECT_FALSE(deviceIsHeld(Com1.slavePath()));
    EXPECT_TRUE(deliver(other, 2));
    EXPECT_EQ(Frame.statusText(), u"Ready"_s);
}

TEST_F(MainFrameTest, AChangedPortInTheSettingsStopsAndOpensItAndTheNextSpaceStartsThere)
{
    PseudoTerminal com3;
    ScopedEnv com3Path("VANDREL_COM3", com3.slavePath());
    create();
    pressSpace();
    ASSERT_TRUE(Frame.receiver().isRunning());

    runSettings([](CSettingDlg &dialog) {
        dialog.portCombo()->setCurrentIndex(2);
        pressOk(dialog);
    });
    EXPECT_EQ(Frame.settingDialog().SelectedPort, 2);
    EXPECT_FALSE(Frame.receiver().isRunning());
    EXPECT_EQ(Frame.receiver().currentPort(), 2);
    EXPECT_TRUE(deviceIsHeld(com3.slavePath()));
    EXPECT_FALSE(deviceIsHeld(Com1.slavePath()));

    pressSpace();
    EXPECT_TRUE(Frame.receiver().isRunning());
    EXPECT_EQ(Frame.receiver().currentPort(), 2);
    EXPECT_TRUE(deliver(com3, 3));
}

TEST_F(MainFrameTest, OkOnTheSamePortCancelAndEscapeLeaveRunningAcquisitionAlone)
{
    create();
    pressSpace();
    ASSERT_TRUE(deliver(Com1, 4));

    // Were the port reopened, it would now open this other device.
    PseudoTerminal other;
    ScopedEnv moved("VANDREL_COM1", other.slavePath());
    const std::vector<std::function<void(CSettingDlg &)>> closings = {
        [](CSettingDlg &dialog) { pressOk(dialog); },
        [](CSettingDlg &dialog) {
            dialog.portCombo()->setCurrentIndex(5);
            QMetaObject::invokeMethod(&dialog, &CSettingDlg::reject, Qt::QueuedConnection);
        },
        [](CSettingDlg &dialog) {
            dialog.portCombo()->setCurrentIndex(7);
            QTest::keyClick(&dialog, Qt::Key_Escape);
        },
    };
    std::uint8_t seed = 5;
    for (const auto &close : closings) {
        runSettings(close);
        EXPECT_EQ(Frame.settingDialog().SelectedPort, 0);
        EXPECT_TRUE(Frame.receiver().isRunning());
        EXPECT_EQ(Frame.receiver().currentPort(), 0);
        EXPECT_FALSE(deviceIsHeld(other.slavePath()));
        EXPECT_TRUE(deliver(Com1, seed++));
    }
}

TEST_F(MainFrameTest, AMissingPortIsReportedAndTheOverlayClaimsNoConnection)
{
    ScopedEnv missing("VANDREL_COM1", "/nonexistent/vandrel-com1");
    create();
    const QString expected = u"COM1 (/nonexistent/vandrel-com1) を開けません"_s;
    EXPECT_TRUE(Frame.statusText().startsWith(expected)) << Frame.statusText().toStdString();
    EXPECT_TRUE(Frame.statusText().contains(u"デバイスが接続されていません"_s));

    pressSpace();
    SerialReceiver &receiver = Frame.receiver();
    EXPECT_TRUE(receiver.isRunning());
    EXPECT_EQ(receiver.currentPort(), -1);
    EXPECT_TRUE(Frame.statusText().startsWith(expected));
    ScopeFrame shown;
    receiver.copyFrame(shown);
    EXPECT_EQ(overlayTexts(shown, receiver.isRunning(), receiver.currentPort())[0],
              u"Connect: 未接続"_s);

    // Once the device is there, the next start opens it and the report goes.
    ScopedEnv back("VANDREL_COM1", Com1.slavePath());
    pressSpace();
    pressSpace();
    EXPECT_EQ(receiver.currentPort(), 0);
    EXPECT_EQ(Frame.statusText(), u"Ready"_s);
}

// A path may hold markup and line breaks; the bar shows it literally, on one line, cut to the
// bar, with the whole text in the tooltip, and the window keeps its size.
TEST_F(MainFrameTest, TheStatusBarShowsAPortMessageAsOneLineOfPlainTextCutToItsWidth)
{
    ScopedEnv odd("VANDREL_COM1",
                  "/nonexistent/<b>bold</b>\nline<img src=x>/" + std::string(120, 'd'));
    create();
    const int width = Frame.width();
    auto *label = Frame.statusBar()->findChild<QLabel *>(u"StatusText"_s);
    ASSERT_NE(label, nullptr);

    const QString whole = Frame.statusText();
    EXPECT_TRUE(whole.startsWith(u"COM1 (/nonexistent/<b>bold</b>\\nline<img src=x>/ddd"_s))
        << whole.toStdString();
    EXPECT_TRUE(whole.contains(u"デバイスが接続されていません"_s));
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_FALSE(label->text().contains(u'\n'));
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    EXPECT_TRUE(label->text().endsWith(u'…')) << label->text().toStdString();
    EXPECT_TRUE(
        Frame.statusBar()->toolTip().contains(u"&lt;b&gt;bold&lt;/b&gt;\\nline&lt;img src=x&gt;"_s))
        << Frame.statusBar()->toolTip().toStdString();
    EXPECT_EQ(Frame.width(), width);

    // Wider, the bar shows more of it.
    const int shownBefore = label->text().size();
    Frame.resize(width + 400, Frame.height());
    EXPECT_TRUE(QTest::qWaitFor([&] { return label->text().size() > shownBefore; }, WaitBoundMs));
}

TEST_F(MainFrameTest, APortThatVanishesWhileConnectedIsReported)
{
    create();
    pressSpace();
    ASSERT_TRUE(deliver(Com1, 9));

    Com1.closeMaster();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Frame.statusText().contains(u"が切断されました"_s); },
                                WaitBoundMs))
        << Frame.statusText().toStdString();
    EXPECT_TRUE(Frame.statusText().startsWith(
        u"COM1 (%1) が切断されました"_s.arg(QString::fromStdString(Com1.slavePath()))));
    EXPECT_EQ(Frame.receiver().currentPort(), -1);
    EXPECT_FALSE(Frame.receiver().isRunning()) << "acquisition ends with its port";

    // One Space reconnects to a device that is there again and clears the report.
    PseudoTerminal replacement;
    ScopedEnv moved("VANDREL_COM1", replacement.slavePath());
    pressSpace();
    EXPECT_TRUE(Frame.receiver().isRunning());
    EXPECT_EQ(Frame.statusText(), u"Ready"_s);
    EXPECT_TRUE(deliver(replacement, 10));
}

// On a silent line no frame comes to redraw the picture, yet its first line must follow every
// change of the acquisition state at once.
TEST_F(MainFrameTest, TheOverlayFollowsTheAcquisitionStateWithoutAFrame)
{
    PseudoTerminal com3;
    ScopedEnv com3Path("VANDREL_COM3", com3.slavePath());
    create();
    const auto shows = [&](bool running, int port) {
        const QImage shown = Frame.view().backBufferImage();
        QImage expected(shown.size(), shown.format());
        expected.setDevicePixelRatio(shown.devicePixelRatio());
        WaveformRenderer::renderDirect(expected, WaveformRenderer::StandardTools().tools(), {},
                                       overlayTexts({}, running, port));
        return !shown.isNull() && shown == expected;
    };
    ASSERT_TRUE(shows(false, 0));

    pressSpace();
    EXPECT_TRUE(shows(true, 0)) << "connected";
    pressSpace();
    EXPECT_TRUE(shows(false, 0)) << "disconnected";

    pressSpace();
    runSettings([](CSettingDlg &dialog) {
        dialog.portCombo()->setCurrentIndex(2);
        pressOk(dialog);
    });
    EXPECT_TRUE(shows(false, 2)) << "after choosing another port";

    pressSpace();
    ASSERT_TRUE(shows(true, 2));
    com3.closeMaster();
    EXPECT_TRUE(QTest::qWaitFor([&] { return shows(false, -1); }, WaitBoundMs))
        << "after the port was lost";
}

TEST_F(MainFrameTest, BarTogglesHideOnlyTheirBarAndTheCheckMarksFollow)
{
    create();
    QAction *toolBarItem = Frame.commandAction(IdViewToolBar);
    QAction *statusBarItem = Frame.commandAction(IdViewStatusBar);
    EXPECT_TRUE(toolBarItem->isChecked());
    EXPECT_TRUE(statusBarItem->isChecked());

    toolBarItem->trigger();
    EXPECT_TRUE(Frame.toolBar()->isHidden());
    EXPECT_FALSE(Frame.menuBar()->isHidden());
    EXPECT_FALSE(toolBarItem->isChecked());
    toolBarItem->trigger();
    EXPECT_FALSE(Frame.toolBar()->isHidden());
    EXPECT_TRUE(toolBarItem->isChecked());
    // The toolbar row stands below the menu bar.
    EXPECT_GE(Frame.toolBar()->geometry().top(), Frame.menuBar()->geometry().bottom());

    // Measured once the layout has given the toolbar its row back.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Frame.view().geometry().top() > Frame.toolBar()->geometry().bottom(); },
        WaitBoundMs));
    const int tall = Frame.view().height();
    statusBarItem->trigger();
    EXPECT_TRUE(Frame.statusBar()->isHidden());
    EXPECT_FALSE(statusBarItem->isChecked());
    EXPECT_TRUE(QTest::qWaitFor([&] { return Frame.view().height() > tall; }, WaitBoundMs));
    statusBarItem->trigger();
    EXPECT_FALSE(Frame.statusBar()->isHidden());
    EXPECT_TRUE(statusBarItem->isChecked());
    EXPECT_TRUE(QTest::qWaitFor([&] { return Frame.view().height() == tall; }, WaitBoundMs));
}

TEST_F(MainFrameTest, MenusShowTheirItemsInOrderWithMnemonicsShortcutsAndChecks)
{
    create();
    QStringList layout;
    for (QAction *title : Frame.menuBar()->actions()) {
        layout << title->text();
        for (QAction *item : title->menu()->actions()) {
            if (item->isSeparator()) {
                layout << u"-"_s;
                continue;
            }
            QString line = u"  "_s + item->text();
            if (!item->shortcut().isEmpty())
                line += u"\t"_s + item->shortcut().toString(QKeySequence::NativeText);
            if (item->isCheckable())
                line += u" [check]"_s;
            if (!item->icon().isNull())
                line += u" [icon]"_s;
            layout << line;
        }
    }
    const QStringList expected = {
        u"ファイル(&F)"_s,
        u"  新規(&N)\tCtrl+N [icon]"_s,
        u"  開く(&O)...\tCtrl+O [icon]"_s,
        u"  名前を付けて保存(&S)...\tCtrl+S [icon]"_s,
        u"-"_s,
        u"  終了(&X)"_s,
        u"編集(&E)"_s,
        u"  コピー(&C)\tCtrl+C [icon]"_s,
        u"表示(&V)"_s,
        u"  ツールバー(&T) [check]"_s,
        u"  ステータスバー(&S) [check]"_s,
        u"操作(&O)"_s,
        u"  接続(&C)\tSpace [icon]"_s,
        u"ヘルプ(&H)"_s,
        u"  VandrelViewer のバージョン情報(&A)... [icon]"_s,
    };
    EXPECT_EQ(layout, expected) << layout.join(u'\n').toStdString();
}

TEST_F(MainFrameTest, OpenMenusShowPromptsAndClosingThemBringsBackReady)
{
    create();
    QMenu *file = Frame.menuBar()->actions().at(0)->menu();
    file->popup(Frame.mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(file));
    // Open, nothing highlighted yet: an empty text, not "Ready".
    EXPECT_EQ(Frame.statusText(), QString());

    file->setActiveAction(Frame.commandAction(IdAppExit));
    EXPECT_EQ(Frame.statusText(), u"終了"_s);
    file->setActiveAction(Frame.commandAction(IdFileSaveAs));
    EXPECT_EQ(Frame.statusText(), u"波形データをファイルへ保存する"_s);

    file->hide();
    EXPECT_EQ(Frame.statusText(), u"Ready"_s);

    // Hovering a toolbar button is not a menu: the status bar stays as it is.
    QWidget *button = Frame.toolBar()->widgetForAction(Frame.commandAction(IdConnect));
    QStatusTipEvent tip(u"接続/切断"_s);
    QApplication::sendEvent(button, &tip);
    EXPECT_EQ(Frame.statusText(), u"Ready"_s);
}

TEST_F(MainFrameTest, ToolbarButtonsCarryTheirTooltipsAndTheSettingsButtonNone)
{
    create();
    const std::pair<int, QString> expected[] = {
        {IdFileNew, u"波形をクリア"_s},
        {IdFileOpen, u"波形を開く"_s},
        {IdFileSaveAs, u"波形を保存"_s},
        {IdConnect, u"接続/切断"_s},
        {IdEditCopy, u"波形画像をクリップボードへコピー"_s},
        {IdSettings, QString()},
        {IdAppAbout, u"バージョン情報"_s},
    };
    QList<int> order;
    for (QAction *action : Frame.toolBar()->actions())
        order << (action->isSeparator() ? 0 : action->data().toInt());
    EXPECT_EQ(order, (QList<int> {57600, 57601, 57603, 0, 32772, 0, 57634, 0, 32773, 0, 57664}));

    for (const auto &[id, tip] : expected) {
        auto *button =
            qobject_cast<QToolButton *>(Frame.toolBar()->widgetForAction(Frame.commandAction(id)));
        ASSERT_NE(button, nullptr) << id;
        EXPECT_EQ(button->toolTip(), tip) << id;
        EXPECT_TRUE(button->isEnabled()) << id;
        EXPECT_FALSE(button->icon().isNull()) << id;
    }
}

TEST_F(MainFrameTest, ClearOpenSaveAndCopyAreEnabledAndChangeNothingByMenuButtonOrKey)
{
    create();
    pressSpace();
    ASSERT_TRUE(deliver(Com1, 11));

    const auto unchanged = [&](const char *how) {
        EXPECT_TRUE(Frame.receiver().isRunning()) << how;
        EXPECT_EQ(Frame.receiver().currentPort(), 0) << how;
        EXPECT_EQ(Frame.statusText(), u"Ready"_s) << how;
        EXPECT_FALSE(Frame.toolBar()->isHidden()) << how;
        EXPECT_FALSE(Frame.statusBar()->isHidden()) << how;
        EXPECT_TRUE(Frame.isVisible()) << how;
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << how;
    };
    for (int id : {IdFileNew, IdFileOpen, IdFileSaveAs, IdEditCopy}) {
        QAction *action = Frame.commandAction(id);
        EXPECT_TRUE(action->isEnabled()) << id;
        action->trigger();
        unchanged("menu item");
        qobject_cast<QToolButton *>(Frame.toolBar()->widgetForAction(action))->click();
        unchanged("button");
    }
    for (const QKeySequence &key :
         {QKeySequence(Qt::CTRL | Qt::Key_N), QKeySequence(Qt::CTRL | Qt::Key_O),
          QKeySequence(Qt::CTRL | Qt::Key_S), QKeySequence(Qt::CTRL | Qt::Key_C),
          QKeySequence(Qt::CTRL | Qt::Key_Insert)}) {
        QTest::keySequence(&Frame.view(), key);
        unchanged(key.toString().toUtf8().constData());
    }
    EXPECT_TRUE(deliver(Com1, 12));
}

TEST_F(MainFrameTest, KeysGoToAnOpenDialogNotToTheFrame)
{
    create();
    // The settings dialog takes Space for itself; acquisition stays stopped.
    runSettings([](CSettingDlg &dialog) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &dialog,
                        Qt::Key_Space);
        QTest::keyClick(&dialog, Qt::Key_N, Qt::ControlModifier);
        QMetaObject::invokeMethod(&dialog, &CSettingDlg::reject, Qt::QueuedConnection);
    });
    EXPECT_FALSE(Frame.receiver().isRunning());

    // In the About box Space presses its focused OK button and closes it.
    bool closedBySpace = false;
    whenModal([&](QWidget *about) {
        EXPECT_EQ(about->windowTitle(), u"About"_s);
        // The offscreen platform activates the box some time after showing it.
        EXPECT_TRUE(QTest::qWaitFor(
            [about] {
                const QWidget *focus = QApplication::focusWidget();
                return focus != nullptr && focus->window() == about;
            },
            WaitBoundMs));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        closedBySpace = QTest::qWaitFor([about] { return !about->isVisible(); }, WaitBoundMs);
        if (!closedBySpace)
            QMetaObject::invokeMethod(about, "reject", Qt::QueuedConnection);
    });
    Frame.commandAction(IdAppAbout)->trigger();
    EXPECT_TRUE(closedBySpace);
    EXPECT_FALSE(Frame.receiver().isRunning());

    // Back at the frame, Space connects again.
    pressSpace();
    EXPECT_TRUE(Frame.receiver().isRunning());
}

TEST_F(MainFrameTest, ExitClosesTheWindowAndStopsTheView)
{
    create();
    pressSpace();
    ASSERT_TRUE(deliver(Com1, 13));
    Frame.commandAction(IdAppExit)->trigger();
    EXPECT_FALSE(Frame.isVisible());
    // The view's thread has ended: a further frame makes no further pass.
    const std::uint64_t passes = Frame.view().renderPassCount();
    ASSERT_TRUE(deliver(Com1, 14));
    QTest::qWait(200);
    EXPECT_EQ(Frame.view().renderPassCount(), passes);
}

} // namespace
