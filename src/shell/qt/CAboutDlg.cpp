#include "CAboutDlg.h"

#include "DialogPlacement.h"
#include "ProgramIcon.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QVersionNumber>

using namespace Qt::Literals::StringLiterals;

CAboutDlg::CAboutDlg(QWidget *owner)
    : QDialog(owner)
{
    setWindowTitle(u"About"_s);

    auto *frame = new QGroupBox(this);
    auto *icon = new QLabel(frame);
    icon->setPixmap(programIcon().pixmap(32, 32));
    icon->setAlignment(Qt::AlignCenter);
    auto *text = new QLabel(aboutText(), frame);
    text->setAlignment(Qt::AlignCenter);
    text->setWordWrap(true);
    auto *inside = new QVBoxLayout(frame);
    inside->addWidget(icon);
    inside->addWidget(text);

    auto *ok = new QPushButton(u"OK"_s, this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CAboutDlg::accept);

    auto *layout = new QHBoxLayout(this);
    layout->addWidget(frame, 1);
    layout->addWidget(ok, 0, Qt::AlignBottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString CAboutDlg::aboutText()
{
    const QVersionNumber version = QVersionNumber::fromString(QStringLiteral(VANDREL_VERSION));
    return u"VandrelViewer Application v%1.%2"_s.arg(version.majorVersion())
        .arg(version.minorVersion());
}

void CAboutDlg::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        adjustSize();
        centreOverOwner(this, parentWidget());
    }
    QDialog::showEvent(event);
}
