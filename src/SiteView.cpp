#include "SiteView.h"

#include "Logging.h"

#include <QDesktopServices>
#include <QStringList>

void SiteView::openLink(const QUrl &url)
{
    static const QStringList allowed {
        QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("mailto")};
    qCDebug(lcStartup) << url.toString();
    if (!url.isValid() || !allowed.contains(url.scheme().toLower())) {
        qCDebug(lcStartup) << "Link not opened, scheme not allowed:" << url.scheme();
        return;
    }
    QDesktopServices::openUrl(url);
}
