#include "BoxAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMetaEnum>
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

QStringList BoxAnswerer::seen() const
{
    const QMetaEnum icons = QMetaEnum::fromType<QMessageBox::Icon>();
    QStringList seen;
    for (const Box &box : m_boxes)
        seen << QLatin1String(icons.valueToKey(box.icon)) + QLatin1Char(' ')
                + box.buttons.join(QLatin1Char(',')) + QStringLiteral(": ") + box.text;
    return seen;
}

void BoxAnswerer::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || box->property("answeredByTest").toBool())
        return;
    Box seen {box->icon(), box->windowFlags(), box->text(), {}};
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
