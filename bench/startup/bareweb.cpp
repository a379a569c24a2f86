// The reference of the start-up benchmark: the least program that shows a page in a QWebView
// window of the launcher's web area size.

#include <QApplication>
#include <QUrl>
#include <QWebView>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QWebView view;
    view.setWindowTitle(QStringLiteral("bareweb"));
    view.resize(711, 371);
    view.load(QUrl(QString::fromLocal8Bit(argv[1])));
    view.show();
    return app.exec();
}
