#ifndef BOXANSWERER_H
#define BOXANSWERER_H

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QMetaEnum>
#include <QTest>
#include <QTimer>

// Answers modal message boxes in process, as a player would: while it lives, every box that
// becomes the active modal widget is recorded and its button with the given text is clicked.
class BoxAnswerer : public QObject
{
public:
    struct Box
    {
        QMessageBox::Icon icon;
        Qt::WindowFlags flags;
        QString text;
        QStringList buttons;
    };

    explicit BoxAnswerer(const QString &buttonText = QStringLiteral("確定"))
        : m_buttonText(buttonText)
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::poll);
        m_timer.start(20);
    }
    void setButtonText(const QString &text) { m_buttonText = text; }
    const QList<Box> &boxes() const { return m_boxes; }
    int count() const { return m_boxes.size(); }
    // Waits until at least n boxes were answered.
    bool waitFor(int n, int timeoutMs = 5000) const
    {
        return QTest::qWaitFor([&] { return m_boxes.size() >= n; }, timeoutMs);
    }
    // The answered boxes as "<icon> <buttons>: <text>", buttons joined by commas.
    QStringList seen() const
    {
        QStringList seen;
        for (const Box &box : m_boxes)
            seen << QLatin1String(QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(box.icon))
                    + QLatin1Char(' ') + box.buttons.join(QLatin1Char(',')) + QLatin1String(": ") + box.text;
        return seen;
    }

private:
    void poll()
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

    QString m_buttonText;
    QList<Box> m_boxes;
    QTimer m_timer;
};

#endif
