#include "Util.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>

#include <exception>

namespace {
int g_toolTimeLimitMs = 2 * 60 * 1000;
}

bool LTools::mutexExists(const QString &name)
{
    return NamedMutex::exists(name.toStdU16String());
}

bool LTools::waitForMutex(const QString &name, int seconds)
{
    return NamedMutex::waitUntilFree(name.toStdU16String(), seconds * 1000);
}

NamedMutex::Handle LTools::createOwnedMutex(const QString &name)
{
    return NamedMutex::createOwned(name.toStdU16String());
}

void LTools::releaseMutex(NamedMutex::Handle handle)
{
    NamedMutex::release(handle);
}

QString LTools::sizeText(qint64 bytes)
{
    struct Unit
    {
        qint64 bound;
        const char *pattern;
    };
    static const Unit units[] = {
        {Q_INT64_C(1073741824), "%.2lf GB"},
        {Q_INT64_C(1048576), "%.2lf MB"},
        {Q_INT64_C(1024), "%.2lf KB"},
    };
    for (const Unit &unit : units) {
        if (bytes >= unit.bound)
            return QString::asprintf(unit.pattern, double(bytes) / double(unit.bound));
    }
    return QString::asprintf("%.2lf Bytes", double(bytes));
}

void LTools::showWarning(const QString &text)
{
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setText(text);
    box.setWindowTitle(QObject::tr("警告訊息"));
    box.addButton(QObject::tr("確定"), QMessageBox::YesRole);
    box.setWindowFlags(box.windowFlags() | Qt::WindowStaysOnTopHint);
    box.exec();
}

bool LTools::deleteFile(const QString &path)
{
    try {
        if (!QFileInfo::exists(path))
            return true;
        return QFile::remove(path);
    } catch (const std::exception &e) {
        qDebug() << e.what();
        return false;
    }
}

bool LTools::initSettings(QString toolPath)
{
    return runTool(toolPath, {QStringLiteral("generateIni")}, "Generate Game Settings Error(");
}

bool LTools::initResolution(QString toolPath)
{
    return runTool(toolPath, {QStringLiteral("resolution")}, "Generate Resolution Error(");
}

bool LTools::initAllSettings(QString toolPath)
{
    return runTool(toolPath, {QStringLiteral("generateIni"), QStringLiteral("resolution")},
        "Generate All Settings Error(");
}

void LTools::setToolTimeLimit(int milliseconds)
{
    g_toolTimeLimitMs = milliseconds;
}

int LTools::toolTimeLimit()
{
    return g_toolTimeLimitMs;
}

bool LTools::runTool(const QString &toolPath, const QStringList &arguments, const char *errorText)
{
    if (!QFileInfo::exists(toolPath))
        return false;
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.setInputChannelMode(QProcess::ForwardedInputChannel);
    tool.start(toolPath, arguments);
    if (!tool.waitForStarted(-1)) {
        qDebug() << QString(QLatin1String(errorText) + QString::number(-2) + QLatin1Char(')'));
        return false;
    }
    if (!tool.waitForFinished(g_toolTimeLimitMs)) {
        qDebug() << "Hardware detection tool did not finish in" << g_toolTimeLimitMs << "ms; ending it";
        tool.kill();
        tool.waitForFinished(-1);
    }
    return true;
}
