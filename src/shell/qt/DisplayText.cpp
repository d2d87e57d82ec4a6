#include "DisplayText.h"

using namespace Qt::Literals::StringLiterals;

QString oneLine(const QString &text)
{
    QString line;
    line.reserve(text.size());
    for (const QChar character : text) {
        const char16_t code = character.unicode();
        switch (code) {
        case u'\n':
            line += u"\\n"_s;
            continue;
        case u'\r':
            line += u"\\r"_s;
            continue;
        case u'\t':
            line += u"\\t"_s;
            continue;
        default:
            break;
        }
        const QChar::Category category = character.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph)
            line += (code <= 0xFF ? u"\\x"_s : u"\\u"_s)
                + QString::number(code, 16).rightJustified(code <= 0xFF ? 2 : 4, u'0');
        else
            line += character;
    }
    return line;
}

QString plainToolTip(const QString &text)
{
    return text.isEmpty() ? QString() : u"<qt>%1</qt>"_s.arg(oneLine(text).toHtmlEscaped());
}
