// Stand-in for the game ZARK.exe, the least that serves the launcher and its tests:
// - holds the named mutex ZARK_Game for as long as it runs, as the real game does;
// - appends its arguments, one per line and then "--", to <its own path>.args;
// - shows a window listing them until it is closed.
// With "-single-instance" a second copy records its arguments and leaves at once.

#include "Util.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QStringList>

namespace {

bool recordArguments(const QStringList &arguments)
{
    QFile record(QCoreApplication::applicationFilePath() + QStringLiteral(".args"));
    if (!record.open(QIODevice::Append))
        return false;
    for (const QString &argument : arguments)
        record.write(argument.toUtf8() + '\n');
    record.write("--\n");
    return record.flush();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);

    const NamedMutex::Handle mutex = LTools::claimMutex(MutexName::Game).handle;
    if (!recordArguments(arguments))
        return 1;
    if (!mutex && arguments.contains(QStringLiteral("-single-instance")))
        return 0;

    QLabel window;
    window.setWindowTitle(QStringLiteral("ZARK"));
    window.setAlignment(Qt::AlignCenter);
    window.setMargin(24);
    window.setText(QStringLiteral("ZARK\n\n") + arguments.join(QLatin1Char(' ')));
    window.resize(480, 200);
    window.show();

    const int result = app.exec();
    LTools::releaseMutex(mutex);
    return result;
}
