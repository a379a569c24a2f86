#include "SiteView.h"

#include <QWebFrame>
#include <QWebPage>

SiteView::SiteView(QWidget *parent)
    : QWebView(parent)
{
    page()->setLinkDelegationPolicy(QWebPage::DelegateAllLinks);
    connect(this, &QWebView::linkClicked, this, &SiteView::openLink);
}

void SiteView::showPage(const QUrl &url)
{
    // The only load: the form gives the view no start URL. A start URL would be fetched and
    // then aborted here, and a failure already queued for it (no network, host not found) would
    // reach the aborted reply and make Qt log an internal problem on every start.
    load(url);
    QWebFrame *frame = page()->mainFrame();
    frame->setScrollBarPolicy(Qt::Horizontal, Qt::ScrollBarAlwaysOff);
    frame->setScrollBarPolicy(Qt::Vertical, Qt::ScrollBarAlwaysOff);
}
