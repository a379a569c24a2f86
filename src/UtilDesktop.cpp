#include "Util.h"

#include "Boxes.h"
#include "Logging.h"

#include <QFileInfo>
#include <QProcess>

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

NamedMutex::Claim LTools::claimMutex(const QString &name)
{
    return NamedMutex::claim(name.toStdU16String());
}

void LTools::releaseMutex(NamedMutex::Handle handle)
{
    NamedMutex::release(handle);
}

void LTools::showWarning(const QString &text)
{
    Boxes::show(QMessageBox::Warning, QObject::tr("警告訊息"), text, QObject::tr("確定"), QString(),
        Boxes::OnTop::Yes);
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
        qCDebug(lcStartup) << QString(QLatin1String(errorText) + QString::number(-2) + QLatin1Char(')'));
        return false;
    }
    if (!tool.waitForFinished(g_toolTimeLimitMs)) {
        qCDebug(lcStartup) << "Hardware detection tool did not finish in" << g_toolTimeLimitMs
                           << "ms; ending it";
        tool.kill();
        tool.waitForFinished(-1);
    }
    return true;
}
