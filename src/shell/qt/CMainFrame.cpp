#include "CMainFrame.h"

#include "CAboutDlg.h"
#include "CommandTable.h"
#include "DisplayText.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>

using namespace Qt::Literals::StringLiterals;

CMainFrame::CMainFrame()
    : View(this)
    , CommandBar(this)
    , SettingDlg(this)
{
    setWindowTitle(u"VandrelViewer"_s);
}

CMainFrame::~CMainFrame()
{
    // The view's thread reads the receiver: it has to end before the receiver member is closed.
    View.OnDestroy();
    // The two widgets held by value must not be deleted by the window's layout as well.
    layout()->setMenuBar(nullptr);
    if (centralWidget() == &View)
        takeCentralWidget();
}

bool CMainFrame::OnCreate()
{
    // The receive thread reports a vanished port; the report is shown from the window's thread.
    Rules.watchLostPort(
        [this] { QMetaObject::invokeMethod(this, &CMainFrame::OnPortLost, Qt::QueuedConnection); });
    try {
        Receiver.start();
    } catch (const ReceiverError &error) {
        return failCreation(QString::fromUtf8(error.what()));
    }

    SettingDlg.SelectedPort = 0;
    Rules.openPort(SettingDlg.SelectedPort);

    createCommands();
    createMenuBar();
    createToolBar();
    createStatusBar();

    View.SetReceiver(&Receiver);
    setCentralWidget(&View);
    try {
        View.OnCreate();
    } catch (const ReceiverError &error) {
        return failCreation(QString::fromUtf8(error.what()));
    }
    View.setFocus();
    resize(defaultSize());

    Actions.at(IdViewToolBar)->setChecked(true);
    Actions.at(IdViewStatusBar)->setChecked(true);
    return true;
}

bool CMainFrame::failCreation(const QString &text)
{
    QMessageBox box(QMessageBox::Warning, u"Error"_s, text, QMessageBox::Ok, this);
    // A system's message is shown as it is, whatever it looks like.
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return false;
}

QSize CMainFrame::defaultSize() const
{
    // A 4:3 picture of about 800 x 600 with room to its right for the longer overlay lines,
    // within most of the screen.
    QSize size(960,
               600 + menuBar()->sizeHint().height() + ToolBar->sizeHint().height()
                   + statusBar()->sizeHint().height());
    if (const QScreen *screen = this->screen())
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    return size;
}

void CMainFrame::createCommands()
{
    for (const CommandEntry &command : CommandTable::commands()) {
        auto *action = new QAction(command.MenuText, this);
        action->setData(command.Id);
        action->setShortcuts(command.Keys);
        action->setShortcutContext(Qt::WindowShortcut);
        action->setStatusTip(CommandTable::prompt(command.Description));
        // An empty text and tooltip: Qt would otherwise fall back to the item's text.
        action->setToolTip(CommandTable::toolTip(command.Description));
        if (!command.Icon.isEmpty())
            action->setIcon(QIcon(command.Icon));
        action->setCheckable(command.Checkable);
        const int id = command.Id;
        connect(action, &QAction::triggered, this, [this, id] { executeCommand(id); });
        // Keys act wherever the focus is inside the frame, but never inside a dialog.
        addAction(action);
        Actions.emplace(command.Id, action);
    }
}

void CMainFrame::createMenuBar()
{
    for (const MenuEntry &entry : CommandTable::menus()) {
        QMenu *menu = CommandBar.addMenu(entry.Title);
        for (int id : entry.Items) {
            if (id == CommandTable::Separator)
                menu->addSeparator();
            else
                menu->addAction(Actions.at(id));
        }
        // While any menu is open the status bar shows prompts instead of its idle text.
        connect(menu, &QMenu::aboutToShow, this, [this] {
            Rules.menuOpened();
            showStatus();
        });
        connect(menu, &QMenu::aboutToHide, this, [this] {
            Rules.menuClosed();
            showStatus();
        });
    }
    setMenuBar(&CommandBar);
}

void CMainFrame::createToolBar()
{
    ToolBar = new QToolBar(this);
    ToolBar->setObjectName(u"ToolBar"_s);
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->setIconSize(QSize(16, 15));
    ToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (int id : CommandTable::toolBar()) {
        if (id == CommandTable::Separator)
            ToolBar->addSeparator();
        else
            ToolBar->addAction(Actions.at(id));
    }
    addToolBar(Qt::TopToolBarArea, ToolBar);
}

void CMainFrame::createStatusBar()
{
    StatusText = new QLabel(this);
    StatusText->setObjectName(u"StatusText"_s);
    StatusText->setTextFormat(Qt::PlainText);
    // The text is cut to the bar, never the bar (or the window) widened to the text.
    StatusText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusText->setMinimumWidth(1);
    StatusText->installEventFilter(this);
    statusBar()->addWidget(StatusText, 1);
    statusBar()->setSizeGripEnabled(true);
    showStatus();
}

void CMainFrame::executeCommand(int id)
{
    const CommandEntry *command = CommandTable::find(id);
    if (command != nullptr && command->Handler != nullptr)
        (this->*command->Handler)();
}

QAction *CMainFrame::commandAction(int id) const
{
    const auto found = Actions.find(id);
    return found == Actions.end() ? nullptr : found->second;
}

QString CMainFrame::statusText() const
{
    return QString::fromStdU16String(Rules.statusLine());
}

void CMainFrame::showStatus()
{
    if (StatusText == nullptr)
        return;
    const QString line = statusText();
    const QString shown =
        StatusText->fontMetrics().elidedText(line, Qt::ElideRight, StatusText->width());
    StatusText->setText(shown);
    statusBar()->setToolTip(shown == line ? QString() : plainToolTip(line));
}

void CMainFrame::OnConnect()
{
    Rules.connect(SettingDlg.SelectedPort);
    showState();
}

void CMainFrame::OnSettings()
{
    const int previous = SettingDlg.SelectedPort;
    SettingDlg.exec();
    if (Rules.settingsClosed(previous, SettingDlg.SelectedPort))
        showState();
}

void CMainFrame::OnToggleToolBar()
{
    ToolBarVisible = !ToolBarVisible;
    ToolBar->setVisible(ToolBarVisible);
    Actions.at(IdViewToolBar)->setChecked(ToolBarVisible);
}

void CMainFrame::OnToggleStatusBar()
{
    const bool visible = statusBar()->isHidden();
    statusBar()->setVisible(visible);
    Actions.at(IdViewStatusBar)->setChecked(visible);
}

void CMainFrame::OnAbout()
{
    CAboutDlg about(QApplication::activeWindow());
    about.exec();
}

void CMainFrame::OnExit()
{
    close();
}

void CMainFrame::OnClear() { }

// A lost port stopped acquisition, which the overlay shows even where a reopen overtook the report
// and the status line keeps its text.
void CMainFrame::OnPortLost()
{
    Rules.portLost();
    showState();
}

// The first overlay line tells the receiver's state at once, not only with the next frame.
void CMainFrame::showState()
{
    showStatus();
    View.OnAcquisitionChanged();
}

bool CMainFrame::event(QEvent *event)
{
    // Prompts belong to open menus only; hovering a toolbar button leaves the status bar alone.
    if (event->type() == QEvent::StatusTip) {
        if (Rules.menuOpen()) {
            Rules.menuPrompt(static_cast<QStatusTipEvent *>(event)->tip().toStdU16String());
            showStatus();
        }
        return true;
    }
    return QMainWindow::event(event);
}

bool CMainFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == StatusText && event->type() == QEvent::Resize)
        showStatus();
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::closeEvent(QCloseEvent *event)
{
    // The view and its render thread go first; the receiver is closed when the object is
    // destroyed, after the event loop has ended.
    View.OnDestroy();
    event->accept();
    QCoreApplication::exit(1);
}

QMenu *CMainFrame::createPopupMenu()
{
    // The View menu is the one place that shows and hides the bars, so its check marks hold.
    return nullptr;
}
