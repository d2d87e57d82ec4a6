#include "AppModule.h"
#include "CSettingDlg.h"
#include "CommandDefinitions.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

// The program next to this test, loaded for its resources only: what is checked is what ships.
class ProgramResources : public testing::Test
{
protected:
    void SetUp() override
    {
        std::wstring path(MAX_PATH, L'\0');
        path.resize(::GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
        path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"VandrelViewer.exe";
        Program = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(Program, nullptr) << "cannot load VandrelViewer.exe next to the test";
    }
    void TearDown() override
    {
        if (Program != nullptr)
            ::FreeLibrary(Program);
    }

    std::vector<std::uint8_t> resource(int id, LPCWSTR type) const
    {
        HRSRC found = ::FindResourceExW(Program, type, MAKEINTRESOURCEW(id),
                                        MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
        HGLOBAL loaded = found != nullptr ? ::LoadResource(Program, found) : nullptr;
        const auto *bytes = static_cast<const std::uint8_t *>(::LockResource(loaded));
        if (bytes == nullptr)
            return {};
        return {bytes, bytes + ::SizeofResource(Program, found)};
    }

    HMODULE Program = nullptr;
};

// Little-endian reads from a resource; out of range reads as 0, which no check accepts.
struct Reader
{
    const std::vector<std::uint8_t> &Bytes;
    std::size_t At = 0;

    unsigned word()
    {
        const unsigned value =
            At + 2 <= Bytes.size() ? unsigned(Bytes[At]) | unsigned(Bytes[At + 1]) << 8 : 0;
        At += 2;
        return value;
    }
    std::uint32_t dword() { return word() | std::uint32_t(word()) << 16; }
    // A name or an ordinal field of a dialog template: empty, 0xFFFF and an ordinal, or a text.
    std::optional<unsigned> nameOrOrdinal(std::wstring *text = nullptr)
    {
        const unsigned first = word();
        if (first == 0xFFFF)
            return word();
        for (unsigned c = first; c != 0 && At < Bytes.size(); c = word())
            if (text != nullptr)
                text->push_back(static_cast<wchar_t>(c));
        return std::nullopt;
    }
    void alignTo4() { At = (At + 3) & ~std::size_t(3); }
};

struct DialogControl
{
    std::uint32_t Style = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
    std::optional<unsigned> ClassOrdinal;
    std::wstring ClassName;
    std::optional<unsigned> TitleOrdinal;
};

// The controls of an extended dialog template, as the resource compiler wrote them.
std::vector<DialogControl> controlsOf(const std::vector<std::uint8_t> &bytes)
{
    Reader in {bytes};
    if (in.word() != 1 || in.word() != 0xFFFF)
        return {};
    in.dword(); // help id
    in.dword(); // extended style
    const std::uint32_t style = in.dword();
    const unsigned count = in.word();
    in.At += 8; // position and size
    in.nameOrOrdinal(); // menu
    in.nameOrOrdinal(); // class
    in.nameOrOrdinal(); // caption
    if (style & (DS_SETFONT | DS_SHELLFONT)) {
        in.At += 6; // point size, weight, italic, character set
        in.nameOrOrdinal();
    }
    std::vector<DialogControl> controls;
    for (unsigned i = 0; i < count && in.At < bytes.size(); ++i) {
        in.alignTo4();
        DialogControl control;
        in.dword(); // help id
        in.dword(); // extended style
        control.Style = in.dword();
        control.X = static_cast<std::int16_t>(in.word());
        control.Y = static_cast<std::int16_t>(in.word());
        control.Width = static_cast<std::int16_t>(in.word());
        control.Height = static_cast<std::int16_t>(in.word());
        in.dword(); // id
        control.ClassOrdinal = in.nameOrOrdinal(&control.ClassName);
        control.TitleOrdinal = in.nameOrOrdinal();
        in.At += in.word();
        controls.push_back(control);
    }
    return controls;
}

} // namespace

// Both pictures of icon 128 let the screen through where the drawing has its background: the
// corners away from the diagonal pen are masked, a good share of each picture is, and every
// masked pixel is black, so that nothing is inverted there.
TEST_F(ProgramResources, IconPicturesAreMaskedAroundTheDrawing)
{
    const std::vector<std::uint8_t> group = resource(IDR_MAINFRAME, RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u + 2 * 14u) << "no icon group 128";
    Reader directory {group, 4};
    const unsigned count = directory.word();
    std::vector<unsigned> sizes;
    for (unsigned i = 0; i < count; ++i) {
        Reader entry {group, 6 + 14 * i};
        const unsigned size = entry.word() & 0xFF;
        entry.At = 6 + 14 * i + 12;
        const unsigned id = entry.word();
        sizes.push_back(size);
        SCOPED_TRACE(testing::Message() << size << " x " << size);

        const std::vector<std::uint8_t> picture = resource(static_cast<int>(id), RT_ICON);
        ASSERT_GE(picture.size(), sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER header {};
        std::memcpy(&header, picture.data(), sizeof header);
        ASSERT_EQ(header.biWidth, static_cast<LONG>(size));
        ASSERT_EQ(header.biHeight, static_cast<LONG>(2 * size)) << "colours and mask, bottom up";
        ASSERT_EQ(header.biBitCount, 4) << "16 colours";
        const std::size_t colours = header.biClrUsed != 0 ? header.biClrUsed : 16;
        const std::size_t palette = header.biSize;
        const std::size_t pixels = palette + 4 * colours;
        const std::size_t colourRow = (size * 4 + 31) / 32 * 4;
        const std::size_t maskRow = (size + 31) / 32 * 4;
        const std::size_t mask = pixels + colourRow * size;
        ASSERT_EQ(picture.size(), mask + maskRow * size);

        // Rows are stored bottom up; x, y count from the top-left corner.
        const auto masked = [&](unsigned x, unsigned y) {
            const std::uint8_t bits = picture[mask + maskRow * (size - 1 - y) + x / 8];
            return ((bits >> (7 - x % 8)) & 1) != 0;
        };
        const auto colour = [&](unsigned x, unsigned y) {
            const std::uint8_t pair = picture[pixels + colourRow * (size - 1 - y) + x / 2];
            const unsigned index = x % 2 == 0 ? pair >> 4 : pair & 0x0F;
            const std::uint8_t *rgb = &picture[palette + 4 * index];
            return RGB(rgb[2], rgb[1], rgb[0]);
        };
        EXPECT_TRUE(masked(0, 0)) << "top-left corner";
        EXPECT_TRUE(masked(size - 1, size - 1)) << "bottom-right corner";
        unsigned through = 0;
        unsigned notBlack = 0;
        for (unsigned y = 0; y < size; ++y)
            for (unsigned x = 0; x < size; ++x)
                if (masked(x, y)) {
                    ++through;
                    notBlack += colour(x, y) != RGB(0, 0, 0);
                }
        EXPECT_GT(through, size * size / 3) << "too little of the picture is transparent";
        EXPECT_LT(through, size * size * 9 / 10) << "the drawing itself is masked";
        EXPECT_EQ(notBlack, 0u) << "masked pixels that are not black would invert the screen";
    }
    EXPECT_EQ(sizes, (std::vector<unsigned> {32, 16}));
}

// Toolbar 128 lists the eleven slots in the layout toolbar loaders read: version 1, the 16 x 15
// pictures, then the command ids with 0 for the separators.
TEST_F(ProgramResources, ToolbarResourceListsTheSlots)
{
    const std::vector<std::uint8_t> bytes = resource(IDR_MAINFRAME, MAKEINTRESOURCEW(241));
    ASSERT_FALSE(bytes.empty()) << "no toolbar resource 128";
    Reader in {bytes};
    EXPECT_EQ(in.word(), 1u);
    EXPECT_EQ(in.word(), 16u);
    EXPECT_EQ(in.word(), 15u);
    std::vector<int> slots(in.word());
    for (int &slot : slots)
        slot = static_cast<int>(in.word());
    EXPECT_EQ(in.At, bytes.size());
    EXPECT_EQ(slots,
              (std::vector<int> {57600, 57601, 57603, 0, 32772, 0, 57634, 0, 32773, 0, 57664}));
    const auto table = CommandDefinitions::toolBar();
    EXPECT_EQ(slots, std::vector<int>(table.begin(), table.end()));
}

// The About box's icon control is 20 x 20 dialog units at (55, 26), showing icon 128.
TEST_F(ProgramResources, AboutIconControlKeepsItsSize)
{
    const std::vector<DialogControl> controls = controlsOf(resource(IDD_ABOUTBOX, RT_DIALOG));
    ASSERT_EQ(controls.size(), 4u) << "About template not read";
    const DialogControl *icon = nullptr;
    for (const DialogControl &control : controls)
        // The static class by its ordinal or, as the resource compiler writes it, by its name.
        if ((control.ClassOrdinal == 0x0082u
             || ::lstrcmpiW(control.ClassName.c_str(), L"Static") == 0)
            && (control.Style & SS_TYPEMASK) == SS_ICON)
            icon = &control;
    ASSERT_NE(icon, nullptr) << "no static icon control";
    EXPECT_EQ(icon->X, 55);
    EXPECT_EQ(icon->Y, 26);
    EXPECT_EQ(icon->Width, 20);
    EXPECT_EQ(icon->Height, 20);
    EXPECT_EQ(icon->TitleOrdinal, unsigned(IDR_MAINFRAME));
}

// The version block and the manifest carry the project's one version: numbers and texts alike,
// in the Japanese block with the Unicode code page.
TEST_F(ProgramResources, VersionBlockAndManifestCarryTheProjectVersion)
{
    const std::vector<std::uint8_t> block = resource(1, RT_VERSION);
    ASSERT_FALSE(block.empty()) << "no version block";
    const VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\",
                                 reinterpret_cast<void **>(const_cast<VS_FIXEDFILEINFO **>(&fixed)),
                                 &length));
    const auto dotted = [](DWORD high, DWORD low) {
        return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "."
            + std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
    };
    EXPECT_EQ(dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS), VANDREL_VERSION);
    EXPECT_EQ(dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS), VANDREL_VERSION);
    for (const wchar_t *name : {L"FileVersion", L"ProductVersion"}) {
        wchar_t *text = nullptr;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\041104b0\\") + name;
        ASSERT_TRUE(
            ::VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void **>(&text), &length));
        const std::string expected = VANDREL_VERSION;
        EXPECT_EQ(std::wstring(text), std::wstring(expected.begin(), expected.end()));
    }

    const std::vector<std::uint8_t> manifest = resource(1, RT_MANIFEST);
    const std::string text(manifest.begin(), manifest.end());
    EXPECT_NE(text.find("<assemblyIdentity version=\"" VANDREL_VERSION "\""), std::string::npos)
        << text;
    // The program's identity and the common controls it asks for are of its own architecture.
#ifdef _WIN64
    const std::string architecture = "processorArchitecture=\"amd64\"";
#else
    const std::string architecture = "processorArchitecture=\"x86\"";
#endif
    int named = 0;
    for (std::size_t at = text.find("processorArchitecture="); at != std::string::npos;
         at = text.find("processorArchitecture=", at + 1), ++named)
        EXPECT_EQ(text.compare(at, architecture.size(), architecture), 0) << text.substr(at, 32);
    EXPECT_EQ(named, 2) << text;
}

namespace {
int FocusedControl = 0;
bool DialogSeen = false;

BOOL CALLBACK closeSettingDialog(HWND window, LPARAM)
{
    wchar_t className[16] {};
    ::GetClassNameW(window, className, 16);
    if (std::wstring(className) != L"#32770" || !::IsWindowVisible(window))
        return TRUE;
    DialogSeen = true;
    HWND focus = ::GetFocus();
    FocusedControl = focus != nullptr && ::GetParent(focus) == window ? ::GetDlgCtrlID(focus) : 0;
    ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    return FALSE;
}

void CALLBACK lookForSettingDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    ::EnumThreadWindows(::GetCurrentThreadId(), closeSettingDialog, 0);
    if (DialogSeen)
        ::KillTimer(nullptr, timer);
}
} // namespace

// Opened, the settings dialog has the focus on its first control, the OK button, where the
// system puts it when the dialog's initialisation answers true.
TEST_F(ProgramResources, SettingDialogOpensWithTheFocusOnOk)
{
    _Module.Init(Program);
    CSettingDlg dialog;
    dialog.SelectedPort = 2;
    FocusedControl = 0;
    DialogSeen = false;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 200, lookForSettingDialog);
    ASSERT_NE(timer, 0u);
    const INT_PTR result = dialog.DoModal(nullptr);
    _Module.Term();
    ASSERT_TRUE(DialogSeen) << "the dialog did not open (" << result << ")";
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(FocusedControl, IDOK);
    EXPECT_EQ(dialog.SelectedPort, 2);
}
