#include "CSettingDlg.h"

#include "DeviceCheck.h"
#include "DialogPlacement.h"
#include "DisplayText.h"
#include "PortNames.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHideEvent>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QShowEvent>

#include <algorithm>

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
    // A path is shown as it is: a name that looks like markup must not be rendered as markup.
    DeviceLabel->setTextFormat(Qt::PlainText);
    DeviceLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Fixed, so the dialog keeps its size and place whatever path is chosen; longer paths are
    // cut in the middle and shown whole in the tooltip.
    DeviceLabel->setFixedWidth(DeviceLabel->fontMetrics().horizontalAdvance(
        u"デバイス: /dev/serial/by-id/usb-FTDI_FT232R-if00（アクセス権がありません）"_s));

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
    const auto refresh = [this] {
        if (isVisible())
            showDevice(PortCombo->currentIndex());
    };
    connect(&DeviceWatcher, &QFileSystemWatcher::directoryChanged, this, refresh);
    connect(&DeviceWatcher, &QFileSystemWatcher::fileChanged, this, refresh);
}

void CSettingDlg::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        OnInitDialog();
    QDialog::showEvent(event);
}

void CSettingDlg::hideEvent(QHideEvent *event)
{
    if (!event->spontaneous())
        watchDevice({});
    QDialog::hideEvent(event);
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
        watchDevice({});
        DeviceLabel->setText(u"デバイス: なし"_s);
        DeviceLabel->setToolTip({});
        return;
    }
    watchDevice(path);
    QString note;
    switch (deviceState(path.toStdString())) {
    case DeviceState::Terminal:
        note = u"あり"_s;
        break;
    case DeviceState::NotTerminal:
        note = u"端末ではありません"_s;
        break;
    case DeviceState::NoPermission:
        note = u"アクセス権がありません"_s;
        break;
    case DeviceState::Absent:
        note = u"見つかりません"_s;
        break;
    }
    const QString prefix = u"デバイス: "_s;
    const QString suffix = u"（%1）"_s.arg(note);
    const QFontMetrics metrics = DeviceLabel->fontMetrics();
    const int room = DeviceLabel->maximumWidth() - metrics.horizontalAdvance(prefix + suffix);
    const QString shown = oneLine(path);
    DeviceLabel->setText(prefix + metrics.elidedText(shown, Qt::ElideMiddle, std::max(room, 0))
                         + suffix);
    DeviceLabel->setToolTip(plainToolTip(path));
}

void CSettingDlg::watchDevice(const QString &path)
{
    QStringList wanted;
    if (!path.isEmpty()) {
        // The nearest directory that exists tells when the device appears; the device itself
        // when its permissions change.
        QDir directory = QFileInfo(path).absoluteDir();
        while (!directory.exists() && directory.cdUp()) { }
        wanted << directory.absolutePath();
        if (QFileInfo::exists(path))
            wanted << path;
    }
    const QStringList watched = DeviceWatcher.files() + DeviceWatcher.directories();
    if (QSet(wanted.begin(), wanted.end()) == QSet(watched.begin(), watched.end()))
        return;
    if (!watched.isEmpty())
        DeviceWatcher.removePaths(watched);
    if (!wanted.isEmpty())
        DeviceWatcher.addPaths(wanted);
}
