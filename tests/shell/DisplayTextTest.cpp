#include "DisplayText.h"

#include <gtest/gtest.h>

#include <QTextDocument>

using namespace Qt::Literals::StringLiterals;

namespace {

TEST(DisplayText, ControlCharactersAndLineSeparatorsAreShownEscapedOnOneLine)
{
    EXPECT_EQ(oneLine(u"/dev/ttyUSB0"_s), u"/dev/ttyUSB0"_s);
    EXPECT_EQ(oneLine(u"a\nb\rc\td"_s), u"a\\nb\\rc\\td"_s);
    EXPECT_EQ(oneLine(u"\x1b[31mred\x7f"_s), u"\\x1b[31mred\\x7f"_s);
    EXPECT_EQ(oneLine(u"one\u2028two\u2029three\u0085"_s), u"one\\u2028two\\u2029three\\x85"_s);
    // Text of any script passes as it is.
    EXPECT_EQ(oneLine(u"デバイス <b>"_s), u"デバイス <b>"_s);
}

TEST(DisplayText, ATooltipShowsMarkupAsText)
{
    const QString tip = plainToolTip(u"<img src=\"x\">\n&amp;"_s);
    EXPECT_TRUE(Qt::mightBeRichText(tip));
    EXPECT_EQ(tip, u"<qt>&lt;img src=&quot;x&quot;&gt;\\n&amp;amp;</qt>"_s);
    EXPECT_TRUE(plainToolTip({}).isEmpty());
}

} // namespace
