#include "CommandTable.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

#include <QSet>

TEST(CommandTableTest, MenusAndToolbarNameOnlyKnownCommandsAndEveryButtonHasAPlace)
{
    QSet<int> ids;
    for (const CommandEntry &command : CommandTable::commands()) {
        EXPECT_FALSE(ids.contains(command.Id)) << command.Id;
        ids.insert(command.Id);
    }

    QSet<int> inMenus;
    for (const MenuEntry &menu : CommandTable::menus()) {
        for (int id : menu.Items) {
            if (id == CommandTable::Separator)
                continue;
            const CommandEntry *command = CommandTable::find(id);
            ASSERT_NE(command, nullptr) << id;
            EXPECT_FALSE(command->MenuText.isEmpty()) << id;
            EXPECT_FALSE(inMenus.contains(id)) << id << " is in two menus";
            inMenus.insert(id);
        }
    }
    // A command with a menu text that no menu shows would be a dead entry, and the reverse.
    for (const CommandEntry &command : CommandTable::commands())
        EXPECT_EQ(inMenus.contains(command.Id), !command.MenuText.isEmpty()) << command.Id;

    QList<int> buttons;
    int separators = 0;
    for (int id : CommandTable::toolBar()) {
        if (id == CommandTable::Separator) {
            ++separators;
            continue;
        }
        const CommandEntry *command = CommandTable::find(id);
        ASSERT_NE(command, nullptr) << id;
        EXPECT_FALSE(command->Icon.isEmpty()) << id;
        buttons.append(id);
    }
    EXPECT_EQ(buttons, (QList<int> {57600, 57601, 57603, 32772, 57634, 32773, 57664}));
    EXPECT_EQ(separators, 4);
    for (const CommandEntry &command : CommandTable::commands())
        EXPECT_EQ(buttons.contains(command.Id), !command.Icon.isEmpty()) << command.Id;
}

TEST(CommandTableTest, NoKeyIsBoundToTwoCommands)
{
    QSet<QKeySequence> keys;
    for (const CommandEntry &command : CommandTable::commands()) {
        for (const QKeySequence &key : command.Keys) {
            EXPECT_FALSE(keys.contains(key)) << key.toString().toStdString();
            keys.insert(key);
        }
    }
    EXPECT_EQ(keys.size(), 6);
}

TEST(CommandTableTest, PromptIsBeforeTheFirstLineFeedAndTooltipAfterItCutTo79)
{
    EXPECT_EQ(CommandTable::prompt(u"終了\n終了"_s), u"終了"_s);
    EXPECT_EQ(CommandTable::toolTip(u"波形ファイルを開く\n波形を開く"_s), u"波形を開く"_s);
    // Only the first line feed separates; a later one belongs to the tooltip.
    EXPECT_EQ(CommandTable::prompt(u"a\nb\nc"_s), u"a"_s);
    EXPECT_EQ(CommandTable::toolTip(u"a\nb\nc"_s), u"b\nc"_s);
    // No line feed: all prompt, no tooltip. No text at all: neither.
    EXPECT_EQ(CommandTable::prompt(u"only"_s), u"only"_s);
    EXPECT_TRUE(CommandTable::toolTip(u"only"_s).isEmpty());
    EXPECT_TRUE(CommandTable::prompt(QString()).isEmpty());
    EXPECT_TRUE(CommandTable::toolTip(QString()).isEmpty());

    const QString longTip(100, u'x');
    EXPECT_EQ(CommandTable::toolTip(u"p\n"_s + longTip), QString(79, u'x'));
    EXPECT_EQ(CommandTable::toolTip(u"p\n"_s + QString(79, u'y')), QString(79, u'y'));
}
