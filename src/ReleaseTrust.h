#ifndef RELEASETRUST_H
#define RELEASETRUST_H

#include "Minisign.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// What a manifest must show before it is read when release keys are set: a minisign signature
// by one of the keys, a trusted comment whose serial never goes back for the same list
// address (a rollback) and whose expiry has not passed (a frozen mirror), and for an
// UpdateList.xml the range it was signed for. Without keys every check passes, as unsigned
// sites always did.
class ReleaseTrust
{
public:
    static inline const QString SignatureSuffix = QStringLiteral(".minisig");

    // stateFile keeps the highest serial accepted per list address; written in one step.
    ReleaseTrust(QList<Minisign::PublicKey> keys, QString stateFile);

    // The keys a build was given win: launcher.ini cannot remove or replace them. Otherwise
    // launcher.ini's [update] publicKeys. Key text that cannot be read still requires
    // signatures, which then never verify: a typo must not turn the checks off. problem
    // tells what to log.
    static ReleaseTrust fromConfiguration(
        const QString &compiledKeys, const QString &iniKeys, const QString &stateFile, QString *problem);
    // The build's keys, else those of launcher.ini's [update] publicKeys; logs what it chose.
    static ReleaseTrust fromLauncherIni(const QString &launcherIni, const QString &stateFile);
    // The keys this program was built with (the LAUNCHER_RELEASE_KEYS build option).
    static QString compiledKeys();

    bool isEnabled() const { return m_enabled; }
    QList<Minisign::PublicKey> keys() const { return m_keys; }

    // The range an UpdateList.xml must name: the Dir and MaxVer of the Version element chosen.
    struct Range
    {
        QString dir;
        float version = 0;
    };

    // A manifest just fetched from listUrl, with the content of its .minisig; records the
    // serial on success.
    bool accept(const QString &listUrl, const QByteArray &manifest, const QByteArray &signature,
        const std::optional<Range> &range, QString *error);
    // A list accepted earlier and read again from disk: signed and not expired.
    bool verifyStored(const QByteArray &manifest, const QByteArray &signature, QString *error) const;

private:
    std::optional<QHash<QString, QString>> checkedFields(
        const QByteArray &manifest, const QByteArray &signature, QString *error) const;

    QList<Minisign::PublicKey> m_keys;
    QString m_stateFile;
    bool m_enabled;
};

#endif
