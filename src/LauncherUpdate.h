#ifndef LAUNCHERUPDATE_H
#define LAUNCHERUPDATE_H

#include <QWidget>

class LauncherUpdate : public QWidget
{
    Q_OBJECT

public:
    explicit LauncherUpdate(QWidget *parent = nullptr);
    ~LauncherUpdate() override;
};

#endif
