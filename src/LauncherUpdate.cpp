#include "LauncherUpdate.h"

LauncherUpdate::LauncherUpdate(QWidget *parent)
    : QWidget(parent)
{
    setWindowTitle(tr("雲隼紀年-啟動器"));
    resize(520, 120);
}

LauncherUpdate::~LauncherUpdate() = default;
