#include "CMainFrame.h"

#include "CommandDefinitions.h"
#include "resource.h"

#include <commctrl.h>

#include <cstdint>
#include <vector>

// The frame's toolbar in its rebar band, and the menu items' pictures cut from the same strip.

namespace {

constexpr int ToolBarImageCount = 7;

} // namespace

void CMainFrame::createToolBar()
{
    const HINSTANCE instance = _Module.GetResourceInstance();
    ToolBar = ::CreateWindowExW(
        0, TOOLBARCLASSNAMEW, nullptr,
        WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | CCS_NODIVIDER | CCS_NORESIZE
            | CCS_NOPARENTALIGN | TBSTYLE_TOOLTIPS | TBSTYLE_FLAT,
        0, 0, 100, 100, Window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ATL_IDW_TOOLBAR)),
        instance, nullptr);
    if (ToolBar == nullptr)
        return;
    ::SendMessageW(ToolBar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    ::SendMessageW(ToolBar, TB_SETBITMAPSIZE, 0, MAKELPARAM(16, 15));
    // The toolbar maps the strip's light grey to the button face colour.
    TBADDBITMAP strip {instance, IDR_MAINFRAME};
    ::SendMessageW(ToolBar, TB_ADDBITMAP, ToolBarImageCount, reinterpret_cast<LPARAM>(&strip));

    std::vector<TBBUTTON> buttons;
    for (int id : CommandDefinitions::toolBar()) {
        TBBUTTON button {};
        if (id == CommandDefinitions::Separator) {
            button.iBitmap = 8;
            button.fsStyle = BTNS_SEP;
        } else {
            button.iBitmap = CommandDefinitions::toolBarImage(id);
            button.idCommand = id;
            button.fsState = TBSTATE_ENABLED;
            button.fsStyle = BTNS_BUTTON;
        }
        buttons.push_back(button);
    }
    ::SendMessageW(ToolBar, TB_ADDBUTTONSW, buttons.size(),
                   reinterpret_cast<LPARAM>(buttons.data()));
    ::SendMessageW(ToolBar, TB_AUTOSIZE, 0, 0);

    ReBar = ::CreateWindowExW(WS_EX_TOOLWINDOW, REBARCLASSNAMEW, nullptr,
                              WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS
                                  | RBS_VARHEIGHT | RBS_BANDBORDERS | RBS_AUTOSIZE | CCS_NODIVIDER,
                              0, 0, 100, 100, Window,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(ATL_IDW_TOOLBAR)),
                              instance, nullptr);
    if (ReBar == nullptr)
        return;
    REBARINFO info {};
    info.cbSize = sizeof info;
    ::SendMessageW(ReBar, RB_SETBARINFO, 0, reinterpret_cast<LPARAM>(&info));

    const DWORD buttonSize = static_cast<DWORD>(::SendMessageW(ToolBar, TB_GETBUTTONSIZE, 0, 0));
    SIZE toolBarSize {};
    ::SendMessageW(ToolBar, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&toolBarSize));
    REBARBANDINFOW band {};
    band.cbSize = sizeof band;
    band.fMask = RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_STYLE | RBBIM_ID | RBBIM_SIZE;
    band.fStyle = RBBS_CHILDEDGE | RBBS_BREAK;
    band.hwndChild = ToolBar;
    band.cxMinChild = static_cast<UINT>(toolBarSize.cx);
    band.cyMinChild = HIWORD(buttonSize);
    band.cx = static_cast<UINT>(toolBarSize.cx);
    band.wID = ToolBarBandId;
    ::SendMessageW(ReBar, RB_INSERTBANDW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&band));
}

// Each menu item whose command has a toolbar button shows the button's picture, its light grey
// background in the menu's colour.
void CMainFrame::createMenuPictures()
{
    HMENU menu = ::GetMenu(Window);
    auto strip = static_cast<HBITMAP>(::LoadImageW(_Module.GetResourceInstance(),
                                                   MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_BITMAP, 0,
                                                   0, LR_CREATEDIBSECTION));
    if (menu == nullptr || strip == nullptr) {
        if (strip != nullptr)
            ::DeleteObject(strip);
        return;
    }
    constexpr int Width = 16;
    constexpr int Height = 15;
    BITMAPINFO format {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = Width * ToolBarImageCount;
    format.bmiHeader.biHeight = -Height;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(Width * ToolBarImageCount * Height));
    HDC screen = ::GetDC(nullptr);
    const bool read =
        ::GetDIBits(screen, strip, 0, Height, pixels.data(), &format, DIB_RGB_COLORS) == Height;
    ::DeleteObject(strip);

    // Painted on the menu's own colour: not every system blends a menu picture's alpha.
    const COLORREF menu3d = ::GetSysColor(COLOR_MENU);
    const std::uint32_t menuColour = (static_cast<std::uint32_t>(GetRValue(menu3d)) << 16)
        | (static_cast<std::uint32_t>(GetGValue(menu3d)) << 8) | GetBValue(menu3d);
    for (const CommandDefinition &command : CommandDefinitions::commands()) {
        const int image = CommandDefinitions::toolBarImage(command.Id);
        if (!read || image < 0 || command.MenuText.empty())
            continue;
        BITMAPINFO pictureFormat = format;
        pictureFormat.bmiHeader.biWidth = Width;
        void *bits = nullptr;
        HBITMAP picture =
            ::CreateDIBSection(screen, &pictureFormat, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (picture == nullptr)
            continue;
        auto *out = static_cast<std::uint32_t *>(bits);
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x) {
                const std::uint32_t rgb = pixels[static_cast<std::size_t>(
                                              y * Width * ToolBarImageCount + image * Width + x)]
                    & 0x00FFFFFF;
                out[y * Width + x] = 0xFF000000 | (rgb == 0x00C0C0C0 ? menuColour : rgb);
            }
        MENUITEMINFOW item {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_BITMAP;
        item.hbmpItem = picture;
        if (::SetMenuItemInfoW(menu, static_cast<UINT>(command.Id), FALSE, &item))
            MenuPictures.push_back(picture);
        else
            ::DeleteObject(picture);
    }
    ::ReleaseDC(nullptr, screen);
}
