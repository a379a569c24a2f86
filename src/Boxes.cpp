#include "Boxes.h"

#include <QPushButton>

namespace Boxes {

bool show(QMessageBox::Icon icon, const QString &title, const QString &text, const QString &yesText,
    const QString &noText, OnTop onTop)
{
    QMessageBox box;
    box.setIcon(icon);
    box.setWindowTitle(title);
    box.setText(text);
    QAbstractButton *yes = box.addButton(yesText, QMessageBox::YesRole);
    if (!noText.isEmpty())
        box.addButton(noText, QMessageBox::NoRole);
    if (onTop == OnTop::Yes)
        box.setWindowFlags(box.windowFlags() | Qt::WindowStaysOnTopHint);
    box.exec();
    return box.clickedButton() == yes;
}

} // namespace Boxes
