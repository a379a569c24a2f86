#ifndef LINKCATCHER_H
#define LINKCATCHER_H

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

// Receives the links the program hands to the desktop, for the given schemes while it lives.
class LinkCatcher : public QObject
{
    Q_OBJECT

public:
    explicit LinkCatcher(const QStringList &schemes)
        : m_schemes(schemes)
    {
        for (const QString &scheme : m_schemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~LinkCatcher() override
    {
        for (const QString &scheme : m_schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }

    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }

private:
    QStringList m_schemes;
};

#endif
