#pragma once

#include "CommandDefinitions.h"

#include <QKeySequence>
#include <QList>
#include <QString>

#include <span>

class CMainFrame;

// One command as the Qt window uses it, made from its CommandDefinitions entry.
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
    static constexpr int Separator = CommandDefinitions::Separator;

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
