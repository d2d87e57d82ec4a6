#pragma once

#include <span>
#include <string>
#include <string_view>

// What the user sees of each command, for every front-end: ids, menu texts, keys, descriptions,
// the menus and the toolbar. No toolkit types, so that each front-end builds its own from the
// same entries and the two cannot disagree.

// The command ids name a menu item, its toolbar button, its keys and its texts alike.
enum CommandId : int {
    IdFileNew = 57600,
    IdFileOpen = 57601,
    IdFileSaveAs = 57603,
    IdAppExit = 57665,
    IdEditCopy = 57634,
    IdViewToolBar = 59392,
    IdViewStatusBar = 59393,
    IdConnect = 32772,
    IdSettings = 32773,
    IdAppAbout = 57664,
};

enum class CommandKeyName { N, O, S, C, Insert, Space };

struct CommandKey
{
    bool Control;
    CommandKeyName Key;
};

struct CommandDefinition
{
    int Id;
    std::u16string_view MenuText; // with its & mnemonic; empty: no menu item
    std::span<const CommandKey> Keys; // the menu shows the first as the item's shortcut label
    std::u16string_view Description; // "prompt\ntooltip"; empty: no description
    bool Checkable; // shows a check mark in its menu
};

struct MenuDefinition
{
    std::u16string_view Title;
    std::span<const int> Items; // command ids; CommandDefinitions::Separator draws a line
};

namespace CommandDefinitions {

constexpr int Separator = 0;
// The window title and the status bar's idle text.
constexpr std::u16string_view TitleText = u"VandrelViewer";
constexpr std::u16string_view ReadyText = u"Ready";
constexpr int ReadyTextId = 57345;

std::span<const CommandDefinition> commands();
const CommandDefinition *find(int id);
std::span<const MenuDefinition> menus();
// Toolbar slots from left to right; Separator between groups.
std::span<const int> toolBar();
// Position of the command's picture in the toolbar strip (its button among the buttons), or -1.
int toolBarImage(int id);

// The status-bar prompt: the description up to its first line feed.
std::u16string_view prompt(std::u16string_view description);
// The tooltip: the description after its first line feed, at most 79 characters.
std::u16string_view toolTip(std::u16string_view description);
// "Ctrl+N", "Ctrl+Insert", "Space".
std::u16string keyLabel(const CommandKey &key);

} // namespace CommandDefinitions
