#include "SiteView.h"

#include "Logging.h"

#include <QFile>
#include <QNetworkReply>
#include <QPaintEvent>
#include <QPainter>
#include <QTextCodec>
#include <QTextFrame>

namespace {

// A page or picture whose transfer stalls this long is given up; the view stays as it is.
constexpr int TransferTimeoutMs = 30000;

bool isWebAddress(const QUrl &url)
{
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

} // namespace

SiteView::SiteView(QWidget *parent)
    : QTextBrowser(parent)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setOpenLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this,
        [this](const QUrl &link) { openLink(m_page.resolved(link)); });
    m_network.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    m_network.setTransferTimeout(TransferTimeoutMs);
}

void SiteView::showPage(const QUrl &url)
{
    m_page = url;
    if (url.isLocalFile()) {
        QFile file(url.toLocalFile());
        if (file.open(QIODevice::ReadOnly))
            showHtml(file.readAll());
        return;
    }
    if (!isWebAddress(url))
        return; // about:blank, and what only a browser could show
    QNetworkReply *reply = m_network.get(QNetworkRequest(url));
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError) {
            qCDebug(lcNetwork) << "Site page not shown:" << reply->errorString();
            return;
        }
        m_page = reply->url();
        showHtml(reply->readAll());
    });
}

void SiteView::showHtml(const QByteArray &html)
{
    document()->setBaseUrl(m_page);
    setHtml(QTextCodec::codecForHtml(html, QTextCodec::codecForName("UTF-8"))->toUnicode(html));
}

// Qt fills the page's background only where a repaint meets the laid-out page: below its end,
// the repaint of a button over the view (disabled during an update) would show white.
void SiteView::paintEvent(QPaintEvent *event)
{
    const QBrush background = document()->rootFrame()->frameFormat().background();
    if (background.style() != Qt::NoBrush)
        QPainter(viewport()).fillRect(event->rect(), background);
    QTextBrowser::paintEvent(event);
}

// The document asks for each picture while it lays the page out, with its address resolved
// against the page's. One from the network is fetched once; the page is laid out again when
// it arrives.
QVariant SiteView::loadResource(int type, const QUrl &name)
{
    if (type != QTextDocument::ImageResource || !isWebAddress(name))
        return QTextBrowser::loadResource(type, name);
    const auto known = m_images.constFind(name);
    if (known == m_images.cend())
        fetchImage(name);
    else if (!known->isNull())
        return *known;
    return QVariant();
}

void SiteView::fetchImage(const QUrl &url)
{
    m_images.insert(url, QImage());
    QNetworkReply *reply = m_network.get(QNetworkRequest(url));
    connect(reply, &QNetworkReply::finished, this, [this, reply, url] {
        reply->deleteLater();
        if (m_images[url].loadFromData(reply->readAll()))
            document()->markContentsDirty(0, document()->characterCount());
    });
}
