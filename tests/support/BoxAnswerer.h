#ifndef BOXANSWERER_H
#define BOXANSWERER_H

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QMetaEnum>
#include <QTimer>

// Answers modal message boxes in process, as a player would: while it lives, every box that
// becomes the active modal widget is recorded and its button with the given text is clicked.
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(const QString &buttonText = QStringLiteral("確定"))
        : m_buttonText(buttonText)
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::poll);
        m_timer.start(20);
    }
    void setButtonText(const QString &text) { m_buttonText = text; }
    // The answered boxes as "<icon> <buttons>[ on top]: <text>", buttons joined by commas.
    const QStringList &seen() const { return m_seen; }
    int count() const { return m_seen.size(); }

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box->property("answeredByTest").toBool())
            return;
        QStringList buttons;
        QAbstractButton *target = nullptr;
        for (QAbstractButton *button : box->buttons()) {
            buttons << button->text();
            if (button->text() == m_buttonText)
                target = button;
        }
        if (!target)
            return;
        box->setProperty("answeredByTest", true);
        const bool onTop = box->windowFlags() & Qt::WindowStaysOnTopHint;
        m_seen << QLatin1String(QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(box->icon()))
                + QLatin1Char(' ') + buttons.join(QLatin1Char(','))
                + QLatin1String(onTop ? " on top: " : ": ") + box->text();
        target->click();
    }

    QString m_buttonText;
    QStringList m_seen;
    QTimer m_timer;
};

#endif
