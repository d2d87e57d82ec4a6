#include "Application.h"
#include "CMainFrame.h"
#include "ShellTestSupport.h"

#include "PseudoTerminal.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>

using namespace Qt::Literals::StringLiterals;

namespace {

CMainFrame *visibleFrame()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *frame = qobject_cast<CMainFrame *>(widget); frame && frame->isVisible())
            return frame;
    return nullptr;
}

} // namespace

TEST(ExitCodeTest, ClosingTheWindowEndsTheProgramWithOne)
{
    PseudoTerminal com1;
    ScopedEnv path("VANDREL_COM1", com1.slavePath());
    bool closed = false;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(QTest::qWaitFor([] { return visibleFrame() != nullptr; }, WaitBoundMs));
        closed = visibleFrame()->close();
    });
    EXPECT_EQ(RunMainFrame(), 1);
    EXPECT_TRUE(closed);
}

TEST(ExitCodeTest, AReceiverThatCannotStartIsReportedAndEndsTheProgramWithTwo)
{
    PseudoTerminal com1;
    ScopedEnv path("VANDREL_COM1", com1.slavePath());
    SerialReceiver::failNextStartForTesting();
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool plain = false;
    bool frameShown = true;
    whenModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        plain = box->textFormat() == Qt::PlainText;
        frameShown = visibleFrame() != nullptr;
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(RunMainFrame(), 2);
    EXPECT_EQ(title, u"Error"_s);
    EXPECT_EQ(text, u"Cannot start a thread for receive."_s);
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_TRUE(plain) << "the receiver's message is shown as markup";
    EXPECT_FALSE(frameShown);
    EXPECT_EQ(visibleFrame(), nullptr);
}
