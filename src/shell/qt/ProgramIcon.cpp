#include "ProgramIcon.h"

QIcon programIcon()
{
    return QIcon(QStringLiteral(":/icons/org.vandrel.VandrelViewer.svg"));
}
