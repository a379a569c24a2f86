#include "UpdateFixtures.h"

#include "Patcher.h"
#include "TestFiles.h"

#include <QFile>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace UpdateTest {

namespace {

QByteArray attribute(const char *name, const QString &value)
{
    return QByteArray(" ") + name + "=\"" + value.toHtmlEscaped().toUtf8() + "\"";
}

const QByteArray XmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

} // namespace

QByteArray versionList(const QList<Range> &ranges)
{
    QByteArray xml = XmlDeclaration + "<VersionList>\n";
    for (const Range &range : ranges)
        xml += "  <Version" + attribute("MinVer", range.min) + attribute("MaxVer", range.max)
            + attribute("Dir", range.dir) + "/>\n";
    return xml + "</VersionList>\n";
}

QByteArray fileElement(const QString &name, const QString &relativeDir, const QString &md5,
    const QString &dir, const QString &size)
{
    QByteArray element = "  <File";
    const QList<QPair<const char *, QString>> attributes
        = {{"Name", name}, {"RelativeDir", relativeDir}, {"MD5", md5}, {"Dir", dir}, {"Size", size}};
    for (const auto &named : attributes) {
        if (!named.second.isNull())
            element += attribute(named.first, named.second);
    }
    return element + "/>\n";
}

QByteArray updateList(const QByteArray &elements)
{
    return XmlDeclaration + "<UpdateList>\n" + elements + "</UpdateList>\n";
}

QString GameFile::localPath() const
{
    return relativeDir.isEmpty() ? name : relativeDir + QLatin1Char('/') + name;
}

QByteArray updateList(const QList<GameFile> &files, ServedFrom served)
{
    QByteArray elements;
    for (const GameFile &file : files) {
        QString dir = QStringLiteral("files");
        if (served == ServedFrom::MirroredFolders && !file.relativeDir.isEmpty())
            dir += QLatin1Char('/') + file.relativeDir;
        elements += fileElement(file.name, file.relativeDir, QString::fromLatin1(md5Hex(file.content)), dir,
            QString::number(file.content.size()));
    }
    return updateList(elements);
}

PatcherSignals::PatcherSignals(Patcher *patcher)
    : checkFailed(patcher, &Patcher::updateCheckFailed)
    , checkFinished(patcher, &Patcher::updateCheckFinished)
    , fileFinished(patcher, &Patcher::updateFileFinished)
    , copyFailed(patcher, &Patcher::copyFileFailed)
    , copyFinished(patcher, &Patcher::copyFileFinished)
    , copyState(patcher, &Patcher::updateCopyFileState)
    , downloadFailed(patcher, &Patcher::downloadFileFailed)
    , fileState(patcher, &Patcher::updateDownloadFileState)
    , totalState(patcher, &Patcher::updateTotalDownloadState)
    , oneFinished(patcher, &Patcher::downloadOneFileFinished)
    , listFinished(patcher, &Patcher::downloadListFileFinished)
{
    const auto log = [this](const QString &event) { events.append(event); };
    const auto logAs = [&](auto signal, const char *name) {
        QObject::connect(patcher, signal, &context, [log, name] { log(QLatin1String(name)); });
    };
    logAs(&Patcher::updateCheckFailed, "updateCheckFailed");
    logAs(&Patcher::updateCheckFinished, "updateCheckFinished");
    logAs(&Patcher::updateFileFinished, "updateFileFinished");
    logAs(&Patcher::copyFileFailed, "copyFileFailed");
    logAs(&Patcher::copyFileFinished, "copyFileFinished");
    logAs(&Patcher::downloadFileFailed, "downloadFileFailed");
    logAs(&Patcher::downloadOneFileFinished, "oneFinished");
    logAs(&Patcher::downloadListFileFinished, "listFinished");
    QObject::connect(patcher, &Patcher::updateCopyFileState, &context,
        [log](int now, int total) { log(QStringLiteral("copyState %1/%2").arg(now).arg(total)); });
    QObject::connect(
        patcher, &Patcher::updateDownloadFileState, &context, [log](qlonglong received, qlonglong total) {
            log(QStringLiteral("fileState %1/%2").arg(received).arg(total));
        });
    QObject::connect(patcher, &Patcher::updateTotalDownloadState, &context,
        [log](qlonglong size, int count) { log(QStringLiteral("total %1/%2").arg(size).arg(count)); });
}

int PatcherSignals::outcomes() const
{
    return checkFailed.count() + checkFinished.count() + fileFinished.count() + copyFailed.count()
        + copyFinished.count() + downloadFailed.count() + listFinished.count();
}

bool PatcherSignals::waitForOutcome(int timeoutMs)
{
    if (!QTest::qWaitFor([this] { return outcomes() > 0; }, timeoutMs))
        return false;
    QTest::qWait(150);
    return true;
}

QStringList PatcherSignals::milestones() const
{
    QStringList result;
    for (const QString &event : events) {
        if (!event.startsWith(QLatin1String("fileState")))
            result.append(event);
    }
    return result;
}

QStringList PatcherSignals::completions() const
{
    const QStringList all = milestones();
    QStringList result;
    for (int i = 0; i < all.size(); ++i) {
        if (!all.at(i).startsWith(QLatin1String("total")) || all.value(i + 1) == QLatin1String("oneFinished"))
            result.append(all.at(i));
    }
    return result;
}

QList<qlonglong> PatcherSignals::totals() const
{
    QList<qlonglong> result;
    for (const QList<QVariant> &arguments : totalState)
        result.append(arguments.at(0).toLongLong());
    return result;
}

int fileMode(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
#else
    Q_UNUSED(path)
    return -1;
#endif
}

bool setFileMode(const QString &path, int mode)
{
#ifdef Q_OS_UNIX
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
#else
    Q_UNUSED(path)
    Q_UNUSED(mode)
    return true;
#endif
}

} // namespace UpdateTest
