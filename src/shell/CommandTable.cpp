#include "CommandTable.h"

#include "CMainFrame.h"

#include <algorithm>
#include <array>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

const std::vector<CommandEntry> &table()
{
    static const std::vector<CommandEntry> commands = {
        {IdFileNew,
         u"新規(&N)"_s,
         {QKeySequence(Qt::CTRL | Qt::Key_N)},
         u"波形をクリア\n波形をクリア"_s,
         u":/toolbar/new.svg"_s,
         false,
         &CMainFrame::OnClear},
        {IdFileOpen,
         u"開く(&O)..."_s,
         {QKeySequence(Qt::CTRL | Qt::Key_O)},
         u"波形ファイルを開く\n波形を開く"_s,
         u":/toolbar/open.svg"_s,
         false,
         nullptr},
        {IdFileSaveAs,
         u"名前を付けて保存(&S)..."_s,
         {QKeySequence(Qt::CTRL | Qt::Key_S)},
         u"波形データをファイルへ保存する\n波形を保存"_s,
         u":/toolbar/save.svg"_s,
         false,
         nullptr},
        {IdAppExit, u"終了(&X)"_s, {}, u"終了\n終了"_s, QString(), false, &CMainFrame::OnExit},
        {IdEditCopy,
         u"コピー(&C)"_s,
         {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)},
         u"波形画像をクリップボードへコピー\n波形画像をクリップボードへコピー"_s,
         u":/toolbar/copy.svg"_s,
         false,
         nullptr},
        {IdViewToolBar,
         u"ツールバー(&T)"_s,
         {},
         u"ツールバー表示/非表示\nツールバー表示/非表示"_s,
         QString(),
         true,
         &CMainFrame::OnToggleToolBar},
        {IdViewStatusBar,
         u"ステータスバー(&S)"_s,
         {},
         u"ステータスバー表示/非表示\nステータスバー表示/非表示"_s,
         QString(),
         true,
         &CMainFrame::OnToggleStatusBar},
        {IdConnect,
         u"接続(&C)"_s,
         {QKeySequence(Qt::Key_Space)},
         u"接続/切断\n接続/切断"_s,
         u":/toolbar/connect.svg"_s,
         false,
         &CMainFrame::OnConnect},
        {IdSettings,
         QString(),
         {},
         QString(),
         u":/toolbar/settings.svg"_s,
         false,
         &CMainFrame::OnSettings},
        {IdAppAbout,
         u"VandrelViewer のバージョン情報(&A)..."_s,
         {},
         u"バージョンとコピーライトの表示\nバージョン情報"_s,
         u":/toolbar/about.svg"_s,
         false,
         &CMainFrame::OnAbout},
    };
    return commands;
}

} // namespace

std::span<const CommandEntry> CommandTable::commands()
{
    return table();
}

const CommandEntry *CommandTable::find(int id)
{
    const auto &commands = table();
    const auto found = std::find_if(commands.begin(), commands.end(),
                                    [id](const CommandEntry &command) { return command.Id == id; });
    return found == commands.end() ? nullptr : &*found;
}

std::span<const MenuEntry> CommandTable::menus()
{
    static const std::vector<MenuEntry> menus = {
        {u"ファイル(&F)"_s, {IdFileNew, IdFileOpen, IdFileSaveAs, Separator, IdAppExit}},
        {u"編集(&E)"_s, {IdEditCopy}},
        {u"表示(&V)"_s, {IdViewToolBar, IdViewStatusBar}},
        {u"操作(&O)"_s, {IdConnect}},
        {u"ヘルプ(&H)"_s, {IdAppAbout}},
    };
    return menus;
}

std::span<const int> CommandTable::toolBar()
{
    static constexpr std::array<int, 11> buttons = {IdFileNew,  IdFileOpen, IdFileSaveAs, Separator,
                                                    IdConnect,  Separator,  IdEditCopy,   Separator,
                                                    IdSettings, Separator,  IdAppAbout};
    return buttons;
}

QString CommandTable::prompt(const QString &description)
{
    const qsizetype lineFeed = description.indexOf(u'\n');
    return lineFeed < 0 ? description : description.left(lineFeed);
}

QString CommandTable::toolTip(const QString &description)
{
    constexpr qsizetype MaxToolTip = 79;
    const qsizetype lineFeed = description.indexOf(u'\n');
    if (lineFeed < 0)
        return QString();
    return description.mid(lineFeed + 1).left(MaxToolTip);
}
