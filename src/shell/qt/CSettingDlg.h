#pragma once

#include <QDialog>
#include <QFileSystemWatcher>

class QComboBox;
class QLabel;

// Lets the user pick the serial port among COM1 to COM20. The choice lives in SelectedPort for
// the owner's whole life; only OK changes it.
class CSettingDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CSettingDlg(QWidget *owner = nullptr);

    // Zero-based port index (0 is COM1); -1 when no entry was selected.
    int SelectedPort = 0;

    QComboBox *portCombo() const { return PortCombo; }
    QLabel *deviceLabel() const { return DeviceLabel; }

    // OK: takes the selected entry.
    void accept() override;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void OnInitDialog();
    void showDevice(int index);
    void watchDevice(const QString &path);

    QComboBox *PortCombo;
    QLabel *DeviceLabel;
    // Devices come and go while the dialog is open: the line follows them.
    QFileSystemWatcher DeviceWatcher;
};
