#include "BoxAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

BoxAnswerer::BoxAnswerer(const QString &buttonText, QObject *parent)
    : QObject(parent)
    , m_buttonText(buttonText)
{
    connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::poll);
    m_timer.start(20);
}

bool BoxAnswerer::waitFor(int n, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return m_boxes.size() >= n; }, timeoutMs);
}

void BoxAnswerer::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || box->property("answeredByTest").toBool())
        return;
    Box seen {box->windowTitle(), box->text(), box->icon(), box->windowFlags(), {}};
    QAbstractButton *target = nullptr;
    for (QAbstractButton *button : box->buttons()) {
        seen.buttons.append(button->text());
        if (button->text() == m_buttonText)
            target = button;
    }
    if (!target)
        return;
    box->setProperty("answeredByTest", true);
    m_boxes.append(seen);
    target->click();
}
