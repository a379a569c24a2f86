#ifndef BOXANSWERER_H
#define BOXANSWERER_H

#include <QMessageBox>
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

    explicit BoxAnswerer(const QString &buttonText = QStringLiteral("確定"), QObject *parent = nullptr);

    void setButtonText(const QString &text) { m_buttonText = text; }
    const QList<Box> &boxes() const { return m_boxes; }
    int count() const { return m_boxes.size(); }
    // Waits until at least n boxes were answered.
    bool waitFor(int n, int timeoutMs = 5000) const;
    // The answered boxes as "<icon> <buttons>: <text>", buttons joined by commas; what a test
    // compares, whole or against a pattern.
    QStringList seen() const;

private:
    void poll();

    QString m_buttonText;
    QList<Box> m_boxes;
    QTimer m_timer;
};

#endif
