#include "CAboutDlg.h"
#include "CSettingDlg.h"
#include "CommandTable.h"
#include "OverlayText.h"
#include "PortFailureText.h"
#include "SerialReceiver.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QRawFont>

#include <cerrno>

using namespace Qt::Literals::StringLiterals;

namespace {

void collectWidgetTexts(QWidget &window, QString &texts)
{
    texts += window.windowTitle();
    for (const QLabel *label : window.findChildren<QLabel *>())
        texts += label->text();
    for (const QAbstractButton *button : window.findChildren<QAbstractButton *>())
        texts += button->text();
    for (const QComboBox *combo : window.findChildren<QComboBox *>())
        for (int i = 0; i < combo->count(); ++i)
            texts += combo->itemText(i);
}

// Everything the program shows in Japanese: menus, prompts, tooltips, dialogs, the status bar's
// port failures and the overlay's connection line.
QString shownTexts()
{
    QString texts;
    for (const CommandEntry &entry : CommandTable::commands())
        texts += entry.MenuText + entry.Description;
    for (const MenuEntry &menu : CommandTable::menus())
        texts += menu.Title;
    CSettingDlg settings;
    collectWidgetTexts(settings, texts);
    CAboutDlg about;
    collectWidgetTexts(about, texts);
    for (int error : {EACCES, EBUSY, ENOENT, EIO, 0}) {
        for (bool lost : {false, true}) {
            PortFailure failure;
            failure.Index = 0;
            failure.ErrorNumber = error;
            failure.Lost = lost;
            texts += portFailureText(failure);
        }
    }
    texts += portFailureText(PortFailure {});
    for (const QString &line : overlayTexts({}, false, -1))
        texts += line;
    return texts;
}

QList<char32_t> japaneseCharacters(const QString &texts)
{
    QList<char32_t> characters;
    for (char32_t c : texts.toUcs4())
        if (c >= 0x3000 && !characters.contains(c))
            characters.append(c);
    return characters;
}

} // namespace

// The package accepts any of these fonts for the Japanese texts; each must hold every character
// of them, or that choice would show boxes.
TEST(JapaneseFonts, EachFontThePackageAcceptsHoldsEveryJapaneseText)
{
    const QList<char32_t> characters = japaneseCharacters(shownTexts());
    // Kana, kanji and full-width punctuation all occur; fewer means the texts were not found.
    ASSERT_GT(characters.size(), 40);

    struct Choice
    {
        const char *Package;
        QString Family;
    };
    const Choice choices[] = {{"fonts-noto-cjk", u"Noto Sans CJK JP"_s},
                              {"fonts-ipafont-gothic", u"IPAGothic"_s},
                              {"fonts-vlgothic", u"VL Gothic"_s}};
    const QStringList installed = QFontDatabase::families(QFontDatabase::Japanese);
    int checked = 0;
    for (const Choice &choice : choices) {
        if (!installed.contains(choice.Family)) {
            std::printf("note: %s (%s) is not installed; not checked\n", choice.Package,
                        qPrintable(choice.Family));
            continue;
        }
        const QRawFont font = QRawFont::fromFont(QFont(choice.Family, 12), QFontDatabase::Japanese);
        ASSERT_EQ(font.familyName(), choice.Family) << choice.Package;
        QString missing;
        for (char32_t c : characters)
            if (!font.supportsCharacter(c))
                missing += QString::fromUcs4(&c, 1);
        EXPECT_TRUE(missing.isEmpty()) << choice.Package << " lacks: " << missing.toStdString();
        ++checked;
    }
    if (checked == 0)
        GTEST_SKIP() << "none of the Japanese fonts the package accepts is installed";
}
