#ifndef MINISIGN_H
#define MINISIGN_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// Keys and detached signatures in the format of the minisign tool (Ed25519), so that a
// studio can sign and check releases with a standard command as well as with publish.
namespace Minisign {

// The base64 line of a minisign .pub file: "Ed", an 8-byte key id, the 32-byte key.
struct PublicKey
{
    QByteArray id;
    QByteArray key;

    static std::optional<PublicKey> parse(const QString &base64Line, QString *error);
    // As minisign prints it: the id's bytes in reverse order, upper-case hexadecimal.
    QString idText() const;
};

// Several keys in one text, separated by blanks or commas. Every one must parse.
std::optional<QList<PublicKey>> parseKeyList(const QString &text, QString *error);

struct SecretKey
{
    QByteArray id;
    QByteArray seed;

    // A minisign secret key file; password is used when the key is encrypted.
    static std::optional<SecretKey> parse(
        const QByteArray &fileText, const QByteArray &password, QString *error);
    static bool isEncrypted(const QByteArray &fileText);
    PublicKey publicKey() const;
};

struct Signature
{
    bool prehashed = true; // "ED": the BLAKE2b-512 of the file is signed; "Ed": the file itself
    QByteArray keyId;
    QByteArray signature;
    QByteArray trustedComment;
    QByteArray globalSignature;

    static std::optional<Signature> parse(const QByteArray &fileText, QString *error);
};

// The trusted comment when fileText is a valid signature of message by one of keys, the
// global signature over the trusted comment included; otherwise nothing, with the cause.
std::optional<QByteArray> verify(
    const QList<PublicKey> &keys, const QByteArray &message, const QByteArray &fileText, QString *error);

// A signature file as `minisign -S` writes it (pre-hashed).
QByteArray sign(const SecretKey &key, const QByteArray &message, const QByteArray &trustedComment);

// "key:value" fields separated by blanks or tabs; a field without a colon is skipped.
QHash<QString, QString> commentFields(const QByteArray &trustedComment);

} // namespace Minisign

#endif
