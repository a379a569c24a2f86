#include "Launcher.h"

Launcher::Launcher(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("雲隼紀年-啟動器"));
    resize(1024, 710);
}

Launcher::~Launcher() = default;
