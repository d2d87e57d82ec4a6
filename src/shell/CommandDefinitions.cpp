#include "CommandDefinitions.h"

#include <algorithm>
#include <array>

namespace {

using Key = CommandKeyName;

constexpr std::array<CommandKey, 1> NewKeys = {{{true, Key::N}}};
constexpr std::array<CommandKey, 1> OpenKeys = {{{true, Key::O}}};
constexpr std::array<CommandKey, 1> SaveKeys = {{{true, Key::S}}};
constexpr std::array<CommandKey, 2> CopyKeys = {{{true, Key::C}, {true, Key::Insert}}};
constexpr std::array<CommandKey, 1> ConnectKeys = {{{false, Key::Space}}};

constexpr std::array<CommandDefinition, 10> Commands = {{
    {IdFileNew, u"新規(&N)", NewKeys, u"波形をクリア\n波形をクリア", false},
    {IdFileOpen, u"開く(&O)...", OpenKeys, u"波形ファイルを開く\n波形を開く", false},
    {IdFileSaveAs, u"名前を付けて保存(&S)...", SaveKeys,
     u"波形データをファイルへ保存する\n波形を保存", false},
    {IdAppExit, u"終了(&X)", {}, u"終了\n終了", false},
    {IdEditCopy, u"コピー(&C)", CopyKeys,
     u"波形画像をクリップボードへコピー\n波形画像をクリップボードへコピー", false},
    {IdViewToolBar, u"ツールバー(&T)", {}, u"ツールバー表示/非表示\nツールバー表示/非表示", true},
    {IdViewStatusBar,
     u"ステータスバー(&S)",
     {},
     u"ステータスバー表示/非表示\nステータスバー表示/非表示",
     true},
    {IdConnect, u"接続(&C)", ConnectKeys, u"接続/切断\n接続/切断", false},
    {IdSettings, {}, {}, {}, false},
    {IdAppAbout,
     u"VandrelViewer のバージョン情報(&A)...",
     {},
     u"バージョンとコピーライトの表示\nバージョン情報",
     false},
}};

constexpr int Separator = CommandDefinitions::Separator;
constexpr std::array<int, 5> FileItems = {IdFileNew, IdFileOpen, IdFileSaveAs, Separator,
                                          IdAppExit};
constexpr std::array<int, 1> EditItems = {IdEditCopy};
constexpr std::array<int, 2> ViewItems = {IdViewToolBar, IdViewStatusBar};
constexpr std::array<int, 1> OperateItems = {IdConnect};
constexpr std::array<int, 1> HelpItems = {IdAppAbout};

constexpr std::array<MenuDefinition, 5> Menus = {{
    {u"ファイル(&F)", FileItems},
    {u"編集(&E)", EditItems},
    {u"表示(&V)", ViewItems},
    {u"操作(&O)", OperateItems},
    {u"ヘルプ(&H)", HelpItems},
}};

constexpr std::array<int, 11> ToolBar = {IdFileNew,  IdFileOpen, IdFileSaveAs, Separator,
                                         IdConnect,  Separator,  IdEditCopy,   Separator,
                                         IdSettings, Separator,  IdAppAbout};

} // namespace

namespace CommandDefinitions {

std::span<const CommandDefinition> commands()
{
    return Commands;
}

const CommandDefinition *find(int id)
{
    const auto found = std::find_if(Commands.begin(), Commands.end(),
                                    [id](const CommandDefinition &c) { return c.Id == id; });
    return found == Commands.end() ? nullptr : &*found;
}

std::span<const MenuDefinition> menus()
{
    return Menus;
}

std::span<const int> toolBar()
{
    return ToolBar;
}

int toolBarImage(int id)
{
    if (id == Separator)
        return -1;
    int image = 0;
    for (int slot : ToolBar) {
        if (slot == id)
            return image;
        if (slot != Separator)
            ++image;
    }
    return -1;
}

std::u16string_view prompt(std::u16string_view description)
{
    return description.substr(0, description.find(u'\n'));
}

std::u16string_view toolTip(std::u16string_view description)
{
    constexpr std::size_t MaxToolTip = 79;
    const std::size_t lineFeed = description.find(u'\n');
    if (lineFeed == std::u16string_view::npos)
        return {};
    return description.substr(lineFeed + 1, MaxToolTip);
}

std::u16string keyLabel(const CommandKey &key)
{
    std::u16string label = key.Control ? u"Ctrl+" : u"";
    switch (key.Key) {
    case CommandKeyName::N:
        return label + u"N";
    case CommandKeyName::O:
        return label + u"O";
    case CommandKeyName::S:
        return label + u"S";
    case CommandKeyName::C:
        return label + u"C";
    case CommandKeyName::Insert:
        return label + u"Insert";
    case CommandKeyName::Space:
        return label + u"Space";
    }
    return label;
}

} // namespace CommandDefinitions
