#pragma once

#include "AppModule.h"
#include "CSettingDlg.h"
#include "CVandrelViewerView.h"
#include "FrameRules.h"
#include "SerialReceiver.h"
#include "resource.h"

#include <windows.h>

#include <string>
#include <vector>

// The program's only top-level window: menu bar, toolbar in a rebar, status bar and the waveform
// view, and the commands that drive the receiver and the dialogs.
class CMainFrame : public CMessageFilter, public CIdleHandler
{
public:
    CMainFrame() = default;
    virtual ~CMainFrame();
    CMainFrame(const CMainFrame &) = delete;
    CMainFrame &operator=(const CMainFrame &) = delete;

    // Creates the window with menu 128 and the default rectangle, then loads accelerator table
    // 128. Null when no window was created (among others when OnCreate answered -1).
    HWND CreateEx();
    HWND window() const { return Window; }

    BOOL PreTranslateMessage(MSG *message) override;
    BOOL OnIdle() override;

private:
    // The toolbar's band in the rebar, by which the View menu shows and hides it.
    static constexpr UINT ToolBarBandId = ATL_IDW_BAND_FIRST + 1;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool ProcessCommand(int id);

    LRESULT OnCreate();
    void OnExit();
    void OnClear();
    void OnToggleToolBar();
    void OnToggleStatusBar();
    void OnAbout();
    void OnConnect();
    void OnSettings();

    void OnMenuSelect(WPARAM wParam, LPARAM lParam);
    LRESULT OnNotify(NMHDR *header);
    void OnInitMenuPopup(HMENU menu);
    void OnPortLost();

    void failCreation(const std::u16string &text);
    void createToolBar();
    void createMenuPictures();
    void createStatusBar();
    void UpdateLayout();
    void showStatus();
    void showState();
    std::wstring descriptionOf(int id) const;

    // Declaration order is destruction order in reverse: the receiver outlives nothing that
    // reads from it except the view, whose thread stops when its window is destroyed.
    CVandrelViewerView View;
    SerialReceiver Receiver;
    CSettingDlg SettingDlg;
    // Destroyed before the receiver stops its thread, so where a lost port is reported lives
    // with that thread, not here: a port lost while the program closes reaches nothing freed.
    FrameRules Rules {Receiver};

    HWND Window = nullptr;
    HWND ReBar = nullptr;
    HWND ToolBar = nullptr;
    HWND StatusBar = nullptr;
    HWND ClientWindow = nullptr;
    HACCEL Accelerators = nullptr;
    std::vector<HBITMAP> MenuPictures;
    bool ToolBarChecked = true;
    bool StatusBarChecked = true;
};

// One process-wide flag, flipped by every toolbar toggle.
extern int ToolBarVisible;
