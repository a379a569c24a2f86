#include "ReleaseTrust.h"

#include "Logging.h"
#include "Util.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStringList>

#include <utility>

#ifndef LAUNCHER_RELEASE_KEYS
#define LAUNCHER_RELEASE_KEYS ""
#endif

namespace {

std::optional<qint64> number(const QHash<QString, QString> &fields, const QString &name)
{
    bool ok = false;
    const qint64 value = fields.value(name).toLongLong(&ok);
    return ok && value >= 0 ? std::optional<qint64>(value) : std::nullopt;
}

QJsonObject readState(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

ReleaseTrust::ReleaseTrust(QList<Minisign::PublicKey> keys, QString stateFile)
    : m_keys(std::move(keys))
    , m_stateFile(std::move(stateFile))
    , m_enabled(!m_keys.isEmpty())
{ }

std::optional<QHash<QString, QString>> ReleaseTrust::checkedFields(
    const QByteArray &manifest, const QByteArray &signature, QString *error) const
{
    const std::optional<QByteArray> comment = Minisign::verify(m_keys, manifest, signature, error);
    if (!comment)
        return std::nullopt;
    const QHash<QString, QString> fields = Minisign::commentFields(*comment);
    const std::optional<qint64> expires = number(fields, QStringLiteral("expires"));
    if (!expires || !number(fields, QStringLiteral("serial"))) {
        *error = QStringLiteral("the trusted comment lacks a serial or an expiry");
        return std::nullopt;
    }
    if (QDateTime::currentSecsSinceEpoch() > *expires) {
        *error = QStringLiteral("the signature expired on %1")
                     .arg(QDateTime::fromSecsSinceEpoch(*expires, Qt::UTC).toString(Qt::ISODate));
        return std::nullopt;
    }
    return fields;
}

bool ReleaseTrust::accept(const QString &listUrl, const QByteArray &manifest, const QByteArray &signature,
    const std::optional<Range> &range, QString *error)
{
    if (!isEnabled())
        return true;
    const std::optional<QHash<QString, QString>> fields = checkedFields(manifest, signature, error);
    if (!fields)
        return false;
    if (range) {
        bool versionOk = false;
        const float version = fields->value(QStringLiteral("version")).toFloat(&versionOk);
        if (fields->value(QStringLiteral("dir")) != range->dir || !versionOk || version != range->version) {
            *error = QStringLiteral("signed for range dir:%1 version:%2, not for dir:%3 version:%4")
                         .arg(fields->value(QStringLiteral("dir")), fields->value(QStringLiteral("version")),
                             range->dir, QString::number(double(range->version), 'g', 6));
            return false;
        }
    }

    const qint64 serial = *number(*fields, QStringLiteral("serial"));
    QJsonObject state = readState(m_stateFile);
    const qint64 highest = state.value(listUrl).toVariant().toLongLong();
    if (serial < highest) {
        *error = QStringLiteral("serial %1 is older than serial %2 accepted before").arg(serial).arg(highest);
        return false;
    }
    if (serial > highest || !state.contains(listUrl)) {
        state.insert(listUrl, QJsonValue(serial));
        // Not recording weakens the rollback check but is no reason to refuse a good list.
        if (!LTools::saveFile(m_stateFile, QJsonDocument(state).toJson()))
            qCWarning(lcUpdate).noquote() << "Cannot record the release serial in" << m_stateFile;
    }
    return true;
}

bool ReleaseTrust::verifyStored(const QByteArray &manifest, const QByteArray &signature, QString *error) const
{
    return !isEnabled() || checkedFields(manifest, signature, error).has_value();
}

ReleaseTrust ReleaseTrust::fromConfiguration(
    const QString &compiledKeys, const QString &iniKeys, const QString &stateFile, QString *problem)
{
    const bool compiled = !compiledKeys.trimmed().isEmpty();
    const QString text = compiled ? compiledKeys : iniKeys;
    const std::optional<QList<Minisign::PublicKey>> keys = Minisign::parseKeyList(text, problem);
    if (compiled && !iniKeys.trimmed().isEmpty() && problem->isEmpty())
        *problem = QStringLiteral("publicKeys in launcher.ini ignored: this build has its own release keys");
    ReleaseTrust trust(keys.value_or(QList<Minisign::PublicKey>()), stateFile);
    trust.m_enabled = !text.trimmed().isEmpty();
    return trust;
}

ReleaseTrust ReleaseTrust::fromLauncherIni(const QString &launcherIni, const QString &stateFile)
{
    QSettings ini(launcherIni, QSettings::IniFormat);
    // Keys separated by commas come back as a list.
    const QString iniKeys
        = ini.value(QStringLiteral("update/publicKeys")).toStringList().join(QLatin1Char(','));
    QString problem;
    ReleaseTrust trust = fromConfiguration(compiledKeys(), iniKeys, stateFile, &problem);
    if (!problem.isEmpty())
        qCWarning(lcUpdate).noquote() << "Release keys:" << problem;
    if (trust.isEnabled()) {
        QStringList ids;
        for (const Minisign::PublicKey &key : std::as_const(trust.m_keys))
            ids.append(key.idText());
        qCDebug(lcUpdate).noquote() << "Update manifests must be signed by:"
                                    << ids.join(QStringLiteral(", "));
    }
    return trust;
}

QString ReleaseTrust::compiledKeys()
{
    return QStringLiteral(LAUNCHER_RELEASE_KEYS);
}
