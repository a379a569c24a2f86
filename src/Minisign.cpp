#include "Minisign.h"

#include "Crypto.h"

#include <QRegularExpression>
#include <QStringList>

namespace Minisign {

namespace {

const QByteArray LegacyAlgorithm("Ed");
const QByteArray PrehashedAlgorithm("ED");
const QByteArray UntrustedPrefix("untrusted comment: ");
const QByteArray TrustedPrefix("trusted comment: ");
constexpr int KeyIdSize = 8;

// Strict base64: a hostile signature file must not decode to something by accident.
std::optional<QByteArray> decodeBase64(const QByteArray &text)
{
    const QByteArray::FromBase64Result decoded
        = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || text.isEmpty())
        return std::nullopt;
    return decoded.decoded;
}

QList<QByteArray> lines(const QByteArray &text)
{
    QList<QByteArray> result = text.split('\n');
    for (QByteArray &line : result) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    while (!result.isEmpty() && result.constLast().isEmpty())
        result.removeLast();
    return result;
}

quint64 littleEndian64(const QByteArray &bytes, int offset)
{
    quint64 value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | quint8(bytes.at(offset + i));
    return value;
}

} // namespace

std::optional<PublicKey> PublicKey::parse(const QString &base64Line, QString *error)
{
    const std::optional<QByteArray> raw = decodeBase64(base64Line.trimmed().toLatin1());
    if (!raw || raw->size() != 2 + KeyIdSize + Crypto::Ed25519KeySize || !raw->startsWith(LegacyAlgorithm)) {
        *error = QStringLiteral("\"%1\" is not a minisign public key").arg(base64Line.left(60));
        return std::nullopt;
    }
    return PublicKey {raw->mid(2, KeyIdSize), raw->mid(2 + KeyIdSize)};
}

QString PublicKey::idText() const
{
    QByteArray reversed = id;
    std::reverse(reversed.begin(), reversed.end());
    return QString::fromLatin1(reversed.toHex().toUpper());
}

std::optional<QList<PublicKey>> parseKeyList(const QString &text, QString *error)
{
    QList<PublicKey> keys;
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    for (const QString &item : text.split(separators, Qt::SkipEmptyParts)) {
        const std::optional<PublicKey> key = PublicKey::parse(item, error);
        if (!key)
            return std::nullopt;
        keys.append(*key);
    }
    return keys;
}

bool SecretKey::isEncrypted(const QByteArray &fileText)
{
    const QList<QByteArray> all = lines(fileText);
    const std::optional<QByteArray> raw = all.size() >= 2 ? decodeBase64(all.at(1)) : std::nullopt;
    return raw && raw->size() >= 4 && raw->mid(2, 2) == "Sc";
}

std::optional<SecretKey> SecretKey::parse(
    const QByteArray &fileText, const QByteArray &password, QString *error)
{
    // "Ed", KDF ("Sc" or none), checksum algorithm, 32-byte salt, two 8-byte limits, then the
    // (possibly encrypted) key id, 64-byte secret key and 32-byte checksum.
    constexpr int HeaderSize = 2 + 2 + 2 + 32 + 8 + 8;
    constexpr int KeyPartSize = KeyIdSize + 64 + 32;
    const QList<QByteArray> all = lines(fileText);
    std::optional<QByteArray> raw = all.size() >= 2 ? decodeBase64(all.at(1)) : std::nullopt;
    if (!raw || raw->size() != HeaderSize + KeyPartSize || !raw->startsWith(LegacyAlgorithm)) {
        *error = QStringLiteral("not a minisign secret key file");
        return std::nullopt;
    }
    const QByteArray kdf = raw->mid(2, 2);
    QByteArray keyPart = raw->mid(HeaderSize);
    if (kdf == "Sc") {
        const QByteArray stream = Crypto::scryptFromLimits(
            password, raw->mid(6, 32), littleEndian64(*raw, 38), littleEndian64(*raw, 46), KeyPartSize);
        if (stream.isEmpty()) {
            *error = QStringLiteral("cannot derive the key's password hash");
            return std::nullopt;
        }
        for (int i = 0; i < KeyPartSize; ++i)
            keyPart[i] = char(keyPart.at(i) ^ stream.at(i));
    } else if (kdf != QByteArray(2, '\0')) {
        *error = QStringLiteral("unknown key protection \"%1\"").arg(QString::fromLatin1(kdf.toHex()));
        return std::nullopt;
    }
    SecretKey key {keyPart.left(KeyIdSize), keyPart.mid(KeyIdSize, 32)};
    // The secret key holds its public half: a wrong password gives a seed that does not match it.
    if (Crypto::ed25519PublicKey(key.seed) != keyPart.mid(KeyIdSize + 32, 32)) {
        *error = kdf == "Sc" ? QStringLiteral("wrong password for the secret key")
                             : QStringLiteral("the secret key file is damaged");
        return std::nullopt;
    }
    return key;
}

PublicKey SecretKey::publicKey() const
{
    return PublicKey {id, Crypto::ed25519PublicKey(seed)};
}

std::optional<Signature> Signature::parse(const QByteArray &fileText, QString *error)
{
    const QList<QByteArray> all = lines(fileText);
    if (all.size() != 4 || !all.at(0).startsWith(UntrustedPrefix) || !all.at(2).startsWith(TrustedPrefix)) {
        *error = QStringLiteral("not a minisign signature: four lines with the two comments expected");
        return std::nullopt;
    }
    const std::optional<QByteArray> raw = decodeBase64(all.at(1));
    const std::optional<QByteArray> global = decodeBase64(all.at(3));
    if (!raw || raw->size() != 2 + KeyIdSize + Crypto::Ed25519SignatureSize || !global
        || global->size() != Crypto::Ed25519SignatureSize) {
        *error = QStringLiteral("malformed signature line");
        return std::nullopt;
    }
    const QByteArray algorithm = raw->left(2);
    if (algorithm != PrehashedAlgorithm && algorithm != LegacyAlgorithm) {
        *error = QStringLiteral("unknown signature algorithm \"%1\"")
                     .arg(QString::fromLatin1(algorithm.toHex()));
        return std::nullopt;
    }
    Signature signature;
    signature.prehashed = algorithm == PrehashedAlgorithm;
    signature.keyId = raw->mid(2, KeyIdSize);
    signature.signature = raw->mid(2 + KeyIdSize);
    signature.trustedComment = all.at(2).mid(TrustedPrefix.size());
    signature.globalSignature = *global;
    return signature;
}

std::optional<QByteArray> verify(
    const QList<PublicKey> &keys, const QByteArray &message, const QByteArray &fileText, QString *error)
{
    const std::optional<Signature> signature = Signature::parse(fileText, error);
    if (!signature)
        return std::nullopt;
    const PublicKey *signer = nullptr;
    for (const PublicKey &key : keys) {
        if (key.id == signature->keyId)
            signer = &key;
    }
    if (!signer) {
        QByteArray reversed = signature->keyId;
        std::reverse(reversed.begin(), reversed.end());
        *error = QStringLiteral("signed by key %1, which is not trusted")
                     .arg(QString::fromLatin1(reversed.toHex().toUpper()));
        return std::nullopt;
    }
    const QByteArray signedBytes
        = signature->prehashed ? Crypto::Hash::hash(message, Crypto::Algorithm::Blake2b512) : message;
    if (!Crypto::verifyEd25519(signer->key, signedBytes, signature->signature)) {
        *error = QStringLiteral("the signature does not match the content");
        return std::nullopt;
    }
    if (!Crypto::verifyEd25519(
            signer->key, signature->signature + signature->trustedComment, signature->globalSignature)) {
        *error = QStringLiteral("the signature does not match its trusted comment");
        return std::nullopt;
    }
    return signature->trustedComment;
}

QByteArray sign(const SecretKey &key, const QByteArray &message, const QByteArray &trustedComment)
{
    const QByteArray signature
        = Crypto::signEd25519(key.seed, Crypto::Hash::hash(message, Crypto::Algorithm::Blake2b512));
    const QByteArray global = Crypto::signEd25519(key.seed, signature + trustedComment);
    if (signature.isEmpty() || global.isEmpty())
        return QByteArray();
    return UntrustedPrefix + "signature from minisign secret key\n"
        + (PrehashedAlgorithm + key.id + signature).toBase64() + '\n' + TrustedPrefix + trustedComment + '\n'
        + global.toBase64() + '\n';
}

QHash<QString, QString> commentFields(const QByteArray &trustedComment)
{
    QHash<QString, QString> fields;
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    for (const QString &field : QString::fromUtf8(trustedComment).split(blanks, Qt::SkipEmptyParts)) {
        const int colon = field.indexOf(QLatin1Char(':'));
        if (colon > 0)
            fields.insert(field.left(colon), field.mid(colon + 1));
    }
    return fields;
}

} // namespace Minisign
