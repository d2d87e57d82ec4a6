#pragma once

#include <QDialog>

// The program's name and version, over the window that was active when it was asked for.
class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget *owner = nullptr);

    // "VandrelViewer Application v<major>.<minor>" of the program's version.
    static QString aboutText();

protected:
    void showEvent(QShowEvent *event) override;
};
