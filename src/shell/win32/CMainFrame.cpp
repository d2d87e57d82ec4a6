#include "CMainFrame.h"

#include "CAboutDlg.h"
#include "CommandDefinitions.h"
#include "resource.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

int ToolBarVisible = 1;

namespace {

constexpr wchar_t FrameClassName[] = L"VandrelViewerFrame";
constexpr DWORD FrameStyle = 0x06CF0000;
constexpr DWORD FrameExStyle = 0x00040100;
constexpr UINT WM_PORTLOST = WM_APP + 1;

static_assert(ID_FILE_NEW == IdFileNew && ID_FILE_OPEN == IdFileOpen
              && ID_FILE_SAVE_AS == IdFileSaveAs && ID_APP_EXIT == IdAppExit
              && ID_EDIT_COPY == IdEditCopy && ID_VIEW_TOOLBAR == IdViewToolBar
              && ID_VIEW_STATUS_BAR == IdViewStatusBar && ID_CONNECT == IdConnect
              && ID_SETTINGS == IdSettings && ID_APP_ABOUT == IdAppAbout);

std::wstring toWide(std::u16string_view text)
{
    return {text.begin(), text.end()};
}

} // namespace

CMainFrame::~CMainFrame()
{
    for (HBITMAP picture : MenuPictures)
        ::DeleteObject(picture);
}

HWND CMainFrame::CreateEx()
{
    const HINSTANCE instance = _Module.GetModuleInstance();
    static const ATOM registered = [instance] {
        WNDCLASSEXW windowClass {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &CMainFrame::WindowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.hIcon = static_cast<HICON>(::LoadImageW(
            instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
        windowClass.hIconSm = static_cast<HICON>(::LoadImageW(
            instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
        windowClass.lpszClassName = FrameClassName;
        return ::RegisterClassExW(&windowClass);
    }();
    if (registered == 0)
        return nullptr;

    std::array<wchar_t, 256> title {};
    ::LoadStringW(instance, IDR_MAINFRAME, title.data(), static_cast<int>(title.size()));
    HMENU menu = ::LoadMenuW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));
    HWND window = ::CreateWindowExW(FrameExStyle, FrameClassName, title.data(), FrameStyle,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                    nullptr, menu, instance, this);
    if (window == nullptr) {
        if (menu != nullptr && !::IsMenu(menu))
            menu = nullptr;
        if (menu != nullptr)
            ::DestroyMenu(menu);
        return nullptr;
    }
    Accelerators = ::LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));
    return window;
}

LRESULT CALLBACK CMainFrame::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto *created = reinterpret_cast<CREATESTRUCTW *>(lParam);
        auto *frame = static_cast<CMainFrame *>(created->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(frame));
        frame->Window = window;
    }
    auto *frame = reinterpret_cast<CMainFrame *>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (frame == nullptr)
        return ::DefWindowProcW(window, message, wParam, lParam);
    const LRESULT result = frame->ProcessWindowMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        frame->Rules.stopWatching();
        frame->Window = nullptr;
    }
    return result;
}

bool CMainFrame::ProcessCommand(int id)
{
    switch (id) {
    case ID_APP_EXIT:
        OnExit();
        return true;
    case ID_FILE_NEW:
        OnClear();
        return true;
    case ID_VIEW_TOOLBAR:
        OnToggleToolBar();
        return true;
    case ID_VIEW_STATUS_BAR:
        OnToggleStatusBar();
        return true;
    case ID_APP_ABOUT:
        OnAbout();
        return true;
    case ID_CONNECT:
        OnConnect();
        return true;
    case ID_SETTINGS:
        OnSettings();
        return true;
    default:
        return false;
    }
}

LRESULT CMainFrame::ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate();
    case WM_COMMAND:
        if (ProcessCommand(LOWORD(wParam)))
            return 0;
        break;
    case WM_INITMENUPOPUP:
        OnInitMenuPopup(reinterpret_cast<HMENU>(wParam));
        break;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED)
            UpdateLayout();
        return 0;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR *>(lParam));
    case WM_MENUSELECT:
        OnMenuSelect(wParam, lParam);
        return 0;
    case WM_ERASEBKGND:
        if (ClientWindow != nullptr)
            return 1;
        break;
    case WM_SETFOCUS:
        if (ClientWindow != nullptr && ::IsWindow(ClientWindow)) {
            ::SetFocus(ClientWindow);
            return 0;
        }
        break;
    case WM_PORTLOST:
        OnPortLost();
        return 0;
    case WM_DESTROY:
        if ((::GetWindowLongW(Window, GWL_STYLE) & (WS_CHILD | WS_POPUP)) == 0)
            ::PostQuitMessage(1);
        break;
    default:
        break;
    }
    return ::DefWindowProcW(Window, message, wParam, lParam);
}

LRESULT CMainFrame::OnCreate()
{
    // Reports from the receive thread reach the window as a posted message.
    Rules.watchLostPort([window = Window] { ::PostMessageW(window, WM_PORTLOST, 0, 0); });
    try {
        Receiver.start();
    } catch (const ReceiverError &error) {
        const std::string text = error.what();
        failCreation(std::u16string(text.begin(), text.end()));
        return -1;
    }

    SettingDlg.SelectedPort = 0;
    Rules.openPort(SettingDlg.SelectedPort);

    // A plain menu stands in for the command bar: the window was created with menu 128, which
    // stays the window's own.
    createToolBar();
    createMenuPictures();
    createStatusBar();

    View.SetReceiver(&Receiver);
    try {
        ClientWindow = View.Create(Window, RECT {0, 0, 0, 0},
                                   WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                   WS_EX_CLIENTEDGE);
    } catch (const ReceiverError &error) {
        const std::string text = error.what();
        failCreation(std::u16string(text.begin(), text.end()));
        return -1;
    }
    if (ClientWindow == nullptr)
        return -1;
    UpdateLayout();

    ToolBarChecked = true;
    StatusBarChecked = true;
    if (CMessageLoop *loop = _Module.GetMessageLoop()) {
        loop->AddMessageFilter(this);
        loop->AddIdleHandler(this);
    }
    return 0;
}

void CMainFrame::failCreation(const std::u16string &text)
{
    ::MessageBoxW(Window, toWide(text).c_str(), L"Error", MB_ICONEXCLAMATION | MB_OK);
}

void CMainFrame::createStatusBar()
{
    StatusBar = ::CreateWindowExW(
        0, STATUSCLASSNAMEW, toWide(Rules.statusLine()).c_str(),
        WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | SBARS_SIZEGRIP, 0, 0, 0, 0,
        Window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ATL_IDW_STATUS_BAR)),
        _Module.GetModuleInstance(), nullptr);
    showStatus();
}

void CMainFrame::UpdateLayout()
{
    RECT client {};
    ::GetClientRect(Window, &client);
    int top = client.top;
    int bottom = client.bottom;
    if (ReBar != nullptr && ::IsWindowVisible(ReBar)) {
        ::SendMessageW(ReBar, WM_SIZE, 0, 0);
        RECT bar {};
        ::GetWindowRect(ReBar, &bar);
        top += bar.bottom - bar.top;
    }
    if (StatusBar != nullptr && ::IsWindowVisible(StatusBar)) {
        ::SendMessageW(StatusBar, WM_SIZE, 0, 0);
        RECT bar {};
        ::GetWindowRect(StatusBar, &bar);
        bottom -= bar.bottom - bar.top;
    }
    if (ClientWindow != nullptr)
        ::SetWindowPos(ClientWindow, nullptr, client.left, top, client.right - client.left,
                       std::max(0, bottom - top), SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CMainFrame::PreTranslateMessage(MSG *message)
{
    if (Accelerators != nullptr && Window != nullptr
        && ::TranslateAcceleratorW(Window, Accelerators, message))
        return TRUE;
    return View.PreTranslateMessage(message);
}

BOOL CMainFrame::OnIdle()
{
    // No toolbar button is ever disabled or checked: there is nothing to bring up to date.
    return FALSE;
}

void CMainFrame::OnInitMenuPopup(HMENU menu)
{
    ::CheckMenuItem(menu, ID_VIEW_TOOLBAR,
                    MF_BYCOMMAND | (ToolBarChecked ? MF_CHECKED : MF_UNCHECKED));
    ::CheckMenuItem(menu, ID_VIEW_STATUS_BAR,
                    MF_BYCOMMAND | (StatusBarChecked ? MF_CHECKED : MF_UNCHECKED));
}

std::wstring CMainFrame::descriptionOf(int id) const
{
    const wchar_t *text = nullptr;
    const int length = ::LoadStringW(_Module.GetResourceInstance(), static_cast<UINT>(id),
                                     reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text != nullptr ? std::wstring(text, static_cast<std::size_t>(length))
                                         : std::wstring();
}

void CMainFrame::OnMenuSelect(WPARAM wParam, LPARAM lParam)
{
    if (StatusBar == nullptr)
        return;
    const UINT flags = HIWORD(wParam);
    if (flags == 0xFFFF && lParam == 0) {
        Rules.menuClosed();
        ::SendMessageW(StatusBar, SB_SIMPLE, FALSE, 0);
        showStatus();
        return;
    }
    // The system tells no opening, only the first highlight, and one close for the whole menu.
    if (!Rules.menuOpen())
        Rules.menuOpened();
    std::u16string prompt;
    if ((flags & (MF_POPUP | MF_SEPARATOR)) == 0) {
        const std::wstring description = descriptionOf(LOWORD(wParam));
        prompt = CommandDefinitions::prompt(std::u16string(description.begin(), description.end()));
    }
    Rules.menuPrompt(prompt);
    ::SendMessageW(StatusBar, SB_SIMPLE, TRUE, 0);
    ::SendMessageW(StatusBar, SB_SETTEXTW, SB_SIMPLEID | SBT_NOBORDERS,
                   reinterpret_cast<LPARAM>(toWide(Rules.statusLine()).c_str()));
}

LRESULT CMainFrame::OnNotify(NMHDR *header)
{
    if (header->code == TTN_GETDISPINFOW) {
        auto *info = reinterpret_cast<NMTTDISPINFOW *>(header);
        const std::wstring description = descriptionOf(static_cast<int>(header->idFrom));
        const std::u16string text(description.begin(), description.end());
        const std::wstring tip = toWide(CommandDefinitions::toolTip(text));
        const std::size_t length = std::min(tip.size(), std::size(info->szText) - 1);
        tip.copy(info->szText, length);
        info->szText[length] = L'\0';
        info->lpszText = info->szText;
        info->hinst = nullptr;
        return 0;
    }
    if (header->code == RBN_HEIGHTCHANGE && header->hwndFrom == ReBar) {
        UpdateLayout();
        return 0;
    }
    return ::DefWindowProcW(Window, WM_NOTIFY, header->idFrom, reinterpret_cast<LPARAM>(header));
}

// The idle text; a menu's prompts are shown in the bar's simple mode, over it.
void CMainFrame::showStatus()
{
    if (StatusBar != nullptr && !Rules.menuOpen())
        ::SendMessageW(StatusBar, SB_SETTEXTW, 0,
                       reinterpret_cast<LPARAM>(toWide(Rules.statusLine()).c_str()));
}

// After a command or a lost port: the status line, and at once the overlay's first line, which
// would otherwise wait for a frame that a stopped receiver does not send.
void CMainFrame::showState()
{
    showStatus();
    View.RenderFrame();
}

void CMainFrame::OnPortLost()
{
    Rules.portLost();
    showState();
}

void CMainFrame::OnSettings()
{
    const int previous = SettingDlg.SelectedPort;
    SettingDlg.DoModal(Window);
    if (Rules.settingsClosed(previous, SettingDlg.SelectedPort))
        showState();
}

void CMainFrame::OnConnect()
{
    Rules.connect(SettingDlg.SelectedPort);
    showState();
}

void CMainFrame::OnToggleToolBar()
{
    ToolBarVisible = !ToolBarVisible;
    if (ReBar != nullptr) {
        const auto index = static_cast<int>(::SendMessageW(ReBar, RB_IDTOINDEX, ToolBarBandId, 0));
        if (index >= 0)
            ::SendMessageW(ReBar, RB_SHOWBAND, static_cast<WPARAM>(index), ToolBarVisible);
        // The menu is not a band here: a rebar without its one band takes no room at all.
        ::ShowWindow(ReBar, ToolBarVisible ? SW_SHOWNOACTIVATE : SW_HIDE);
    }
    ToolBarChecked = ToolBarVisible != 0;
    UpdateLayout();
}

void CMainFrame::OnToggleStatusBar()
{
    const bool visible = StatusBar != nullptr && !::IsWindowVisible(StatusBar);
    if (StatusBar != nullptr)
        ::ShowWindow(StatusBar, visible ? SW_SHOWNOACTIVATE : SW_HIDE);
    StatusBarChecked = visible;
    UpdateLayout();
}

void CMainFrame::OnAbout()
{
    CAboutDlg about;
    about.DoModal(::GetActiveWindow());
}

void CMainFrame::OnExit()
{
    ::PostMessageW(Window, WM_CLOSE, 0, 0);
}

void CMainFrame::OnClear() { }
