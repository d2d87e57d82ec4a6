#pragma once

#include "CSettingDlg.h"
#include "CVandrelViewerView.h"
#include "FrameRules.h"
#include "SerialReceiver.h"

#include <QMainWindow>
#include <QMenuBar>

#include <map>

class QAction;
class QLabel;
class QToolBar;

// The program's only top-level window: menu bar, toolbar, status bar and the waveform view, and
// the commands that drive the receiver and the dialogs.
class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    CMainFrame();
    ~CMainFrame() override;

    // Starts the receiver, opens COM1 and builds the window's parts. Answers false, after telling
    // the user, when the receiver or the view could not be started; the window must not be shown.
    bool OnCreate();

    void OnConnect();
    void OnSettings();
    void OnToggleToolBar();
    void OnToggleStatusBar();
    void OnAbout();
    void OnExit();
    void OnClear();

    // Runs the command with this id as if its menu item, button or key had been used.
    void executeCommand(int id);

    QAction *commandAction(int id) const;
    QToolBar *toolBar() const { return ToolBar; }
    // The status bar's whole text, as one line; the bar shows it cut to its width.
    QString statusText() const;
    SerialReceiver &receiver() { return Receiver; }
    CSettingDlg &settingDialog() { return SettingDlg; }
    CVandrelViewerView &view() { return View; }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    QMenu *createPopupMenu() override;

private:
    void createCommands();
    void createMenuBar();
    void createToolBar();
    void createStatusBar();
    bool failCreation(const QString &text);
    QSize defaultSize() const;
    void OnPortLost();
    void showStatus();
    void showState();

    // Destroyed in reverse order, so the receiver goes before the view. The destructor stops the
    // view's thread first; one that overruns that stop is cut off from the receiver as well, so
    // the view never needs the receiver to outlive it.
    CVandrelViewerView View;
    QMenuBar CommandBar;
    SerialReceiver Receiver;
    CSettingDlg SettingDlg;
    // After the receiver, so it goes first: from then on a lost port wakes nobody.
    FrameRules Rules {Receiver};

    std::map<int, QAction *> Actions;
    QToolBar *ToolBar = nullptr;
    QLabel *StatusText = nullptr;
    bool ToolBarVisible = true;
};
