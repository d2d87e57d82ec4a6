#include "DisplayText.h"

#include "FrameRules.h"

using namespace Qt::Literals::StringLiterals;

QString oneLine(const QString &text)
{
    return QString::fromStdU16String(::oneLine(text.toStdU16String()));
}

QString plainToolTip(const QString &text)
{
    return text.isEmpty() ? QString() : u"<qt>%1</qt>"_s.arg(oneLine(text).toHtmlEscaped());
}
