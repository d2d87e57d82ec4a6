#include "CommandTable.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

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
