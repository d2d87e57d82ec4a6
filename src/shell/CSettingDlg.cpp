#include "CSettingDlg.h"

#include "DialogPlacement.h"
#include "PortNames.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

using namespace Qt::Literals::StringLiterals;

CSettingDlg::CSettingDlg(QWidget *owner)
    : QDialog(owner)
    , PortCombo(new QComboBox(this))
    , DeviceLabel(new QLabel(this))
{
    setWindowTitle(u"設定"_s);

    auto *label = new QLabel(u"接続ポート"_s, this);
    label->setBuddy(PortCombo);
    for (int index = 0; index < PortCount; ++index)
        PortCombo->addItem(QString::fromStdString(portDisplayName(index)));
    PortCombo->setMaxVisibleItems(PortCount);
    PortCombo->setMinimumContentsLength(6);
    DeviceLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Wide enough for the usual device paths, so the dialog keeps its size as the choice changes.
    DeviceLabel->setMinimumWidth(DeviceLabel->fontMetrics().horizontalAdvance(
        u"デバイス: /dev/ttyUSB0（見つかりません）"_s));

    auto *ok = new QPushButton(u"OK"_s, this);
    ok->setDefault(true);
    auto *cancel = new QPushButton(u"キャンセル"_s, this);
    connect(ok, &QPushButton::clicked, this, &CSettingDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CSettingDlg::reject);

    auto *layout = new QGridLayout(this);
    layout->addWidget(label, 0, 0);
    layout->addWidget(PortCombo, 0, 1);
    layout->addWidget(ok, 0, 2);
    layout->addWidget(DeviceLabel, 1, 0, 1, 2);
    layout->addWidget(cancel, 1, 2, Qt::AlignTop);
    layout->setColumnStretch(1, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(PortCombo, &QComboBox::currentIndexChanged, this, &CSettingDlg::showDevice);
}

void CSettingDlg::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        OnInitDialog();
    QDialog::showEvent(event);
}

void CSettingDlg::OnInitDialog()
{
    // An index outside the list selects nothing, and the selection is what counts from here on.
    PortCombo->setCurrentIndex(SelectedPort >= 0 && SelectedPort < PortCount ? SelectedPort : -1);
    SelectedPort = PortCombo->currentIndex();
    showDevice(SelectedPort);
    PortCombo->setFocus();
    // Placed at the size that the texts just set give it.
    adjustSize();
    centreOverOwner(this, parentWidget());
}

void CSettingDlg::accept()
{
    SelectedPort = PortCombo->currentIndex();
    QDialog::accept();
}

void CSettingDlg::showDevice(int index)
{
    const QString path = QString::fromStdString(portDevicePath(index));
    if (path.isEmpty()) {
        DeviceLabel->setText(u"デバイス: なし"_s);
        return;
    }
    // Asked afresh on every change: adapters come and go while the dialog is open.
    const bool present = QFileInfo::exists(path);
    DeviceLabel->setText(
        u"デバイス: %1（%2）"_s.arg(path, present ? u"あり"_s : u"見つかりません"_s));
}
