#ifndef LAUNCHER_H
#define LAUNCHER_H

#include <QDialog>

class Launcher : public QDialog
{
    Q_OBJECT

public:
    explicit Launcher(QWidget *parent = nullptr);
    ~Launcher() override;
};

#endif
