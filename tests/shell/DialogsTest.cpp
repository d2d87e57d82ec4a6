#include "CAboutDlg.h"
#include "CSettingDlg.h"
#include "ShellTestSupport.h"

#include "PseudoTerminal.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace Qt::Literals::StringLiterals;

namespace {

QPushButton *button(QWidget *dialog, const QString &text)
{
    for (QPushButton *candidate : dialog->findChildren<QPushButton *>())
        if (candidate->text() == text)
            return candidate;
    return nullptr;
}

enum class Close { Ok, CancelButton, Escape };

// Shows the dialog modally with SelectedPort set to `initial`, picks `choice` (if any) and
// closes it the given way; answers SelectedPort afterwards and what the list showed on opening.
struct Outcome
{
    int SelectedPort;
    int ShownOnOpen;
};

Outcome runSettings(int initial, std::optional<int> choice, Close how)
{
    CSettingDlg dialog;
    dialog.SelectedPort = initial;
    int shown = -2;
    whenModal([&](QWidget *modal) {
        EXPECT_EQ(modal, &dialog);
        shown = dialog.portCombo()->currentIndex();
        if (choice)
            dialog.portCombo()->setCurrentIndex(*choice);
        switch (how) {
        case Close::Ok:
            button(&dialog, u"OK"_s)->click();
            break;
        case Close::CancelButton:
            button(&dialog, u"キャンセル"_s)->click();
            break;
        case Close::Escape:
            QTest::keyClick(&dialog, Qt::Key_Escape);
            break;
        }
    });
    dialog.exec();
    return {dialog.SelectedPort, shown};
}

} // namespace

TEST(SettingDialogTest, ListsExactlyCom1ToCom20WithItsTexts)
{
    CSettingDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), u"設定"_s);
    QComboBox *combo = dialog.portCombo();
    EXPECT_FALSE(combo->isEditable());
    ASSERT_EQ(combo->count(), 20);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(combo->itemText(i), u"COM%1"_s.arg(i + 1));
    EXPECT_NE(button(&dialog, u"OK"_s), nullptr);
    EXPECT_TRUE(button(&dialog, u"OK"_s)->isDefault());
    EXPECT_NE(button(&dialog, u"キャンセル"_s), nullptr);
    bool labelFound = false;
    for (QLabel *label : dialog.findChildren<QLabel *>())
        labelFound = labelFound || label->text() == u"接続ポート"_s;
    EXPECT_TRUE(labelFound);
}

TEST(SettingDialogTest, OnlyOkChangesTheSelectionAndAnIndexOutsideTheListBecomesNone)
{
    // Shown with COM3: COM3 is selected; OK without a change keeps it.
    EXPECT_EQ(runSettings(2, std::nullopt, Close::Ok).ShownOnOpen, 2);
    EXPECT_EQ(runSettings(2, std::nullopt, Close::Ok).SelectedPort, 2);
    // COM5 picked: OK takes it, Cancel and Escape do not.
    EXPECT_EQ(runSettings(2, 4, Close::Ok).SelectedPort, 4);
    EXPECT_EQ(runSettings(2, 4, Close::CancelButton).SelectedPort, 2);
    EXPECT_EQ(runSettings(2, 4, Close::Escape).SelectedPort, 2);
    EXPECT_EQ(runSettings(19, std::nullopt, Close::Ok).SelectedPort, 19);
    // Nothing to select: the choice becomes -1 even when the dialog is cancelled.
    const Outcome outside = runSettings(20, std::nullopt, Close::CancelButton);
    EXPECT_EQ(outside.ShownOnOpen, -1);
    EXPECT_EQ(outside.SelectedPort, -1);
    EXPECT_EQ(runSettings(-1, std::nullopt, Close::Ok).SelectedPort, -1);
    EXPECT_EQ(runSettings(-1, 6, Close::Ok).SelectedPort, 6);
}

TEST(SettingDialogTest, ShowsTheDeviceTheEntryNamesAndWhetherItIsThereNow)
{
    PseudoTerminal pty;
    ScopedEnv present("VANDREL_COM5", pty.slavePath());
    ScopedEnv missing("VANDREL_COM6", "/nonexistent/vandrel-port");
    ScopedEnv unset("VANDREL_COM13", std::nullopt);

    CSettingDlg dialog;
    dialog.SelectedPort = 4;
    QStringList seen;
    whenModal([&](QWidget *) {
        seen << dialog.deviceLabel()->text();
        dialog.portCombo()->setCurrentIndex(5);
        seen << dialog.deviceLabel()->text();
        dialog.portCombo()->setCurrentIndex(12);
        seen << dialog.deviceLabel()->text();
        dialog.reject();
    });
    dialog.exec();

    ASSERT_EQ(seen.size(), 3);
    EXPECT_EQ(seen[0], u"デバイス: %1（あり）"_s.arg(QString::fromStdString(pty.slavePath())));
    EXPECT_EQ(seen[1], u"デバイス: /nonexistent/vandrel-port（見つかりません）"_s);
    EXPECT_TRUE(seen[2].startsWith(u"デバイス: /dev/ttyACM0"_s)) << seen[2].toStdString();
}

// あり promises a terminal that can be opened: not for a file or /dev/null. While the dialog is
// open the line follows the device as it appears and goes.
TEST(SettingDialogTest, TellsWhetherTheDeviceIsATerminalAndFollowsItWhileOpen)
{
    PseudoTerminal pty;
    // Short enough to be shown whole.
    QTemporaryDir directory(QDir::tempPath() + u"/vd-XXXXXX"_s);
    ASSERT_TRUE(directory.isValid());
    const QString file = directory.filePath(u"plain-file"_s);
    QFile(file).open(QIODevice::WriteOnly);
    const QString later = directory.filePath(u"ttyLATER"_s);
    ScopedEnv com1("VANDREL_COM1", file.toStdString());
    ScopedEnv com2("VANDREL_COM2", "/dev/null");
    ScopedEnv com3("VANDREL_COM3", later.toStdString());

    CSettingDlg dialog;
    dialog.SelectedPort = 0;
    QStringList seen;
    bool appeared = false;
    bool went = false;
    whenModal([&](QWidget *) {
        seen << dialog.deviceLabel()->text();
        dialog.portCombo()->setCurrentIndex(1);
        seen << dialog.deviceLabel()->text();
        dialog.portCombo()->setCurrentIndex(2);
        seen << dialog.deviceLabel()->text();
        const auto shows = [&](const QString &note) {
            return dialog.deviceLabel()->text().endsWith(note);
        };
        // The adapter is plugged in: its node appears (here a link to a real terminal).
        QFile::link(QString::fromStdString(pty.slavePath()), later);
        appeared = QTest::qWaitFor([&] { return shows(u"（あり）"_s); }, WaitBoundMs);
        QFile::remove(later);
        went = QTest::qWaitFor([&] { return shows(u"（見つかりません）"_s); }, WaitBoundMs);
        dialog.reject();
    });
    dialog.exec();

    ASSERT_EQ(seen.size(), 3);
    EXPECT_EQ(seen[0], u"デバイス: %1（端末ではありません）"_s.arg(file));
    EXPECT_EQ(seen[1], u"デバイス: /dev/null（端末ではありません）"_s);
    EXPECT_EQ(seen[2], u"デバイス: %1（見つかりません）"_s.arg(later));
    EXPECT_TRUE(appeared) << "the line did not notice the device appear";
    EXPECT_TRUE(went) << "the line did not notice the device go";
}

// A path is shown as text, not markup, and however long it is the dialog keeps one width that
// fits the screen: the middle of the path gives way, the tooltip has all of it.
TEST(SettingDialogTest, APathIsPlainTextCutInTheMiddleAndTheDialogKeepsItsWidth)
{
    const QString longPath =
        u"/dev/<b><font size=7 color=red>big</font></b><img src=\"/tmp/x.png\">/"_s
        + QString(3000, u'p') + u"/end"_s;
    ScopedEnv com1("VANDREL_COM1", "/dev/ttyS0");
    ScopedEnv com2("VANDREL_COM2", longPath.toStdString());
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();

    CSettingDlg dialog;
    dialog.SelectedPort = 0;
    int shortWidth = 0;
    QRect longPlace;
    QString text;
    QString tip;
    whenModal([&](QWidget *) {
        shortWidth = dialog.frameGeometry().width();
        dialog.portCombo()->setCurrentIndex(1);
        QCoreApplication::sendPostedEvents();
        longPlace = dialog.frameGeometry();
        text = dialog.deviceLabel()->text();
        tip = dialog.deviceLabel()->toolTip();
        dialog.reject();
    });
    dialog.exec();

    EXPECT_EQ(dialog.deviceLabel()->textFormat(), Qt::PlainText);
    EXPECT_TRUE(text.startsWith(u"デバイス: /dev/<b>"_s)) << text.toStdString();
    EXPECT_TRUE(text.contains(u'…'));
    EXPECT_TRUE(text.endsWith(u"/end（見つかりません）"_s)) << text.toStdString();
    EXPECT_TRUE(tip.contains(longPath.toHtmlEscaped())) << "the whole path, as text";
    EXPECT_EQ(longPlace.width(), shortWidth);
    EXPECT_TRUE(area.contains(longPlace));
}

TEST(AboutDialogTest, ShowsNameVersionIconAndOk)
{
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), u"About"_s);
    QStringList texts;
    bool iconShown = false;
    for (QLabel *label : about.findChildren<QLabel *>()) {
        texts << label->text();
        iconShown = iconShown || !label->pixmap().isNull();
    }
    EXPECT_TRUE(texts.contains(u"VandrelViewer Application v1.0"_s));
    EXPECT_TRUE(iconShown);
    ASSERT_NE(button(&about, u"OK"_s), nullptr);

    whenModal([&](QWidget *) { QTest::keyClick(&about, Qt::Key_Return); });
    about.exec();
    EXPECT_FALSE(about.isVisible());
}

TEST(DialogOnScreenTest, BothDialogsStayInsideTheWorkAreaOverAnOwnerPartlyOffScreen)
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QMainWindow owner;
    owner.resize(400, 300);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));

    for (const QPoint &corner : {QPoint(area.right() - 60, area.bottom() - 40),
                                 QPoint(area.left() - 350, area.top() - 250)}) {
        owner.move(corner);
        QRect settingPlace;
        QRect aboutPlace;
        {
            CSettingDlg dialog(&owner);
            whenModal([&](QWidget *) {
                settingPlace = dialog.frameGeometry();
                dialog.reject();
            });
            dialog.exec();
        }
        {
            CAboutDlg about(&owner);
            whenModal([&](QWidget *) {
                aboutPlace = about.frameGeometry();
                about.reject();
            });
            about.exec();
        }
        EXPECT_TRUE(area.contains(settingPlace)) << settingPlace.x() << "," << settingPlace.y();
        EXPECT_TRUE(area.contains(aboutPlace)) << aboutPlace.x() << "," << aboutPlace.y();
    }

    // Over an owner well inside the screen, the dialog's centre is the owner's.
    owner.move(area.center() - QPoint(200, 150));
    CSettingDlg dialog(&owner);
    QRect placed;
    whenModal([&](QWidget *) {
        placed = dialog.frameGeometry();
        dialog.reject();
    });
    dialog.exec();
    const QRect ownerRect = owner.frameGeometry();
    EXPECT_LE(std::abs(placed.center().x() - ownerRect.center().x()), 1);
    EXPECT_LE(std::abs(placed.center().y() - ownerRect.center().y()), 1);
}

TEST(ResourcesTest, ToolbarPicturesAndProgramIconAreValidDrawingsOfTheirSizes)
{
    for (const char *name : {"new", "open", "save", "connect", "copy", "settings", "about"}) {
        QSvgRenderer picture(u":/toolbar/%1.svg"_s.arg(QLatin1StringView(name)));
        EXPECT_TRUE(picture.isValid()) << name;
        EXPECT_EQ(picture.defaultSize(), QSize(16, 15)) << name;
    }
    QSvgRenderer icon(u":/icons/org.vandrel.VandrelViewer.svg"_s);
    EXPECT_TRUE(icon.isValid());
    EXPECT_EQ(icon.defaultSize(), QSize(32, 32));
}
