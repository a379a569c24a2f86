#ifndef SYSTEMINFODIALOG_H
#define SYSTEMINFODIALOG_H

#include <QDialog>
#include <QString>

class QTimer;

namespace Ui {
class SystemInfoDialog;
}

// The hardware report: shown 100 ms after the dialog opens, so its waiting text is painted
// before the blocking collection, and saved to system_info.txt in the given folder.
class SystemInfoDialog : public QDialog
{
    Q_OBJECT

public:
    SystemInfoDialog(QWidget *parent, const QString &directory);
    ~SystemInfoDialog() override;

public slots:
    void readFinished();

private:
    Ui::SystemInfoDialog *ui;
    QTimer *timer;
};

#endif
