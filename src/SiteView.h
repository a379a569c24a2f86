#ifndef SITEVIEW_H
#define SITEVIEW_H

#include <QUrl>

// The studio's page in the launcher window, without scroll bars. A QWebView where the build
// has QtWebKit; otherwise a QTextBrowser showing the page's HTML as Qt's rich text (no
// scripts, part of CSS). Links never navigate inside the view: a click hands the link to
// openLink.
#ifdef LAUNCHER_SITE_VIEW_WEBKIT
#include <QWebView>
using SiteViewBase = QWebView;
#else
#include <QHash>
#include <QImage>
#include <QNetworkAccessManager>
#include <QTextBrowser>
using SiteViewBase = QTextBrowser;
#endif

class SiteView : public SiteViewBase
{
    Q_OBJECT

public:
    explicit SiteView(QWidget *parent = nullptr);

    void showPage(const QUrl &url);

    // The page comes over plain HTTP into a program that may run elevated: a file: or custom
    // scheme link handed to the desktop could start a local program. Only http, https and
    // mailto links leave for the desktop; every click is logged.
    static void openLink(const QUrl &url);

#ifndef LAUNCHER_SITE_VIEW_WEBKIT
protected:
    QVariant loadResource(int type, const QUrl &name) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void showHtml(const QByteArray &html);
    void fetchImage(const QUrl &url);

    QNetworkAccessManager m_network;
    QUrl m_page; // where the page came from, after redirects: its relative links resolve against it
    QHash<QUrl, QImage> m_images; // pictures from the network, null while one is on its way
#endif
};

#endif
