#ifndef BOXES_H
#define BOXES_H

#include <QMessageBox>
#include <QString>

namespace Boxes {

enum class OnTop { No, Yes };

// A modal message box without a parent, the texts already translated by the caller. True
// when the yes-role button was pressed; noText adds a no-role button.
bool show(QMessageBox::Icon icon, const QString &title, const QString &text, const QString &yesText,
    const QString &noText = QString(), OnTop onTop = OnTop::No);

} // namespace Boxes

#endif
