#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

#include <span>

class CMainFrame;

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

// Everything the user sees of one command, so that the menu item, the button, the keys and the
// texts are made from one entry and cannot disagree.
struct CommandEntry
{
    int Id;
    QString MenuText; // with its & mnemonic; empty: the command has no menu item
    QList<QKeySequence> Keys; // the menu shows the first as the item's shortcut label
    QString Description; // "prompt\ntooltip"; empty: the command has no description
    QString Icon; // toolbar picture; empty: the command has no toolbar button
    bool Checkable; // shows a check mark in its menu
    void (CMainFrame::*Handler)(); // null: the command arrives and changes nothing
};

struct MenuEntry
{
    QString Title;
    QList<int> Items; // command ids; CommandTable::Separator draws a line
};

class CommandTable
{
public:
    static constexpr int Separator = 0;

    static std::span<const CommandEntry> commands();
    static const CommandEntry *find(int id);
    static std::span<const MenuEntry> menus();
    // Toolbar slots from left to right.
    static std::span<const int> toolBar();

    // The status-bar prompt: the description up to its first line feed.
    static QString prompt(const QString &description);
    // The tooltip: the description after its first line feed, at most 79 characters.
    static QString toolTip(const QString &description);
};
