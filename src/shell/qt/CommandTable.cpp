#include "CommandTable.h"

#include "CMainFrame.h"

#include <algorithm>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

QString toQString(std::u16string_view text)
{
    return QString(reinterpret_cast<const QChar *>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

QKeySequence keySequence(const CommandKey &key)
{
    Qt::Key name = Qt::Key_Space;
    switch (key.Key) {
    case CommandKeyName::N:
        name = Qt::Key_N;
        break;
    case CommandKeyName::O:
        name = Qt::Key_O;
        break;
    case CommandKeyName::S:
        name = Qt::Key_S;
        break;
    case CommandKeyName::C:
        name = Qt::Key_C;
        break;
    case CommandKeyName::Insert:
        name = Qt::Key_Insert;
        break;
    case CommandKeyName::Space:
        name = Qt::Key_Space;
        break;
    }
    return key.Control ? QKeySequence(Qt::CTRL | name) : QKeySequence(name);
}

QString iconOf(int id)
{
    switch (id) {
    case IdFileNew:
        return u":/toolbar/new.svg"_s;
    case IdFileOpen:
        return u":/toolbar/open.svg"_s;
    case IdFileSaveAs:
        return u":/toolbar/save.svg"_s;
    case IdConnect:
        return u":/toolbar/connect.svg"_s;
    case IdEditCopy:
        return u":/toolbar/copy.svg"_s;
    case IdSettings:
        return u":/toolbar/settings.svg"_s;
    case IdAppAbout:
        return u":/toolbar/about.svg"_s;
    default:
        return {};
    }
}

void (CMainFrame::*handlerOf(int id))()
{
    switch (id) {
    case IdFileNew:
        return &CMainFrame::OnClear;
    case IdAppExit:
        return &CMainFrame::OnExit;
    case IdViewToolBar:
        return &CMainFrame::OnToggleToolBar;
    case IdViewStatusBar:
        return &CMainFrame::OnToggleStatusBar;
    case IdConnect:
        return &CMainFrame::OnConnect;
    case IdSettings:
        return &CMainFrame::OnSettings;
    case IdAppAbout:
        return &CMainFrame::OnAbout;
    default:
        return nullptr;
    }
}

const std::vector<CommandEntry> &table()
{
    static const std::vector<CommandEntry> commands = [] {
        std::vector<CommandEntry> entries;
        for (const CommandDefinition &definition : CommandDefinitions::commands()) {
            QList<QKeySequence> keys;
            for (const CommandKey &key : definition.Keys)
                keys.append(keySequence(key));
            // A button's picture is the only part of a command the Qt window keeps on its own.
            const QString icon = CommandDefinitions::toolBarImage(definition.Id) >= 0
                ? iconOf(definition.Id)
                : QString();
            entries.push_back({definition.Id, toQString(definition.MenuText), keys,
                               toQString(definition.Description), icon, definition.Checkable,
                               handlerOf(definition.Id)});
        }
        return entries;
    }();
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
    static const std::vector<MenuEntry> menus = [] {
        std::vector<MenuEntry> entries;
        for (const MenuDefinition &menu : CommandDefinitions::menus())
            entries.push_back(
                {toQString(menu.Title), QList<int>(menu.Items.begin(), menu.Items.end())});
        return entries;
    }();
    return menus;
}

std::span<const int> CommandTable::toolBar()
{
    return CommandDefinitions::toolBar();
}

QString CommandTable::prompt(const QString &description)
{
    const std::u16string text = description.toStdU16String();
    return toQString(CommandDefinitions::prompt(text));
}

QString CommandTable::toolTip(const QString &description)
{
    const std::u16string text = description.toStdU16String();
    return toQString(CommandDefinitions::toolTip(text));
}
