#include "Crypto.h"

#include <openssl/evp.h>

#include <utility>

namespace Crypto {

namespace {

const EVP_MD *digestOf(Algorithm algorithm)
{
    switch (algorithm) {
    case Algorithm::Md5:
        return EVP_md5();
    case Algorithm::Sha256:
        return EVP_sha256();
    case Algorithm::Blake2b512:
        return EVP_blake2b512();
    }
    return nullptr;
}

struct PKeyDeleter
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct MdCtxDeleter
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};
using PKey = std::unique_ptr<EVP_PKEY, PKeyDeleter>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxDeleter>;

const unsigned char *bytes(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}

} // namespace

struct Hash::State
{
    const EVP_MD *md = nullptr;
    MdCtx context {EVP_MD_CTX_new()};
};

Hash::Hash(Algorithm algorithm)
    : d(std::make_unique<State>())
{
    d->md = digestOf(algorithm);
    EVP_DigestInit_ex(d->context.get(), d->md, nullptr);
}

Hash::~Hash() = default;
Hash::Hash(Hash &&other) noexcept = default;
Hash &Hash::operator=(Hash &&other) noexcept = default;

void Hash::addData(const char *data, qint64 size)
{
    if (size > 0)
        EVP_DigestUpdate(d->context.get(), data, size_t(size));
}

QByteArray Hash::result() const
{
    // Finishing consumes the state: finish a copy so that more data may follow.
    MdCtx copy(EVP_MD_CTX_new());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!copy || !EVP_MD_CTX_copy_ex(copy.get(), d->context.get())
        || !EVP_DigestFinal_ex(copy.get(), digest, &length))
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(digest), int(length));
}

void Hash::reset()
{
    EVP_DigestInit_ex(d->context.get(), d->md, nullptr);
}

QByteArray Hash::hash(const QByteArray &data, Algorithm algorithm)
{
    Hash hash(algorithm);
    hash.addData(data);
    return hash.result();
}

bool verifyEd25519(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature)
{
    if (publicKey.size() != Ed25519KeySize || signature.size() != Ed25519SignatureSize)
        return false;
    const PKey key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, bytes(publicKey), size_t(publicKey.size())));
    const MdCtx context(EVP_MD_CTX_new());
    // Ed25519 hashes internally and takes the message in one piece.
    return key && context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1
        && EVP_DigestVerify(context.get(), bytes(signature), size_t(signature.size()), bytes(message),
               size_t(message.size()))
        == 1;
}

QByteArray signEd25519(const QByteArray &seed, const QByteArray &message)
{
    if (seed.size() != Ed25519KeySize)
        return QByteArray();
    const PKey key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, bytes(seed), size_t(seed.size())));
    const MdCtx context(EVP_MD_CTX_new());
    QByteArray signature(Ed25519SignatureSize, Qt::Uninitialized);
    size_t length = size_t(signature.size());
    if (!key || !context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1
        || EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length,
               bytes(message), size_t(message.size()))
            != 1)
        return QByteArray();
    return signature;
}

QByteArray ed25519PublicKey(const QByteArray &seed)
{
    if (seed.size() != Ed25519KeySize)
        return QByteArray();
    const PKey key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, bytes(seed), size_t(seed.size())));
    QByteArray publicKey(Ed25519KeySize, Qt::Uninitialized);
    size_t length = size_t(publicKey.size());
    if (!key
        || EVP_PKEY_get_raw_public_key(
               key.get(), reinterpret_cast<unsigned char *>(publicKey.data()), &length)
            != 1)
        return QByteArray();
    return publicKey;
}

QByteArray scryptFromLimits(
    const QByteArray &password, const QByteArray &salt, quint64 opsLimit, quint64 memLimit, int length)
{
    // libsodium's choice of N, r and p for crypto_pwhash_scryptsalsa208sha256.
    opsLimit = qMax<quint64>(opsLimit, 32768);
    const quint64 r = 8;
    quint64 p = 1;
    quint64 maxN = opsLimit < memLimit / 32 ? opsLimit / (r * 4) : memLimit / (r * 128);
    int nLog2 = 1;
    while (nLog2 < 63 && (quint64(1) << nLog2) <= maxN / 2)
        ++nLog2;
    if (!(opsLimit < memLimit / 32))
        p = qMin<quint64>((opsLimit / 4) / (quint64(1) << nLog2), 0x3fffffff) / r;
    if (p == 0 || nLog2 > 40)
        return QByteArray();
    const quint64 n = quint64(1) << nLog2;
    const quint64 maxMemory = 128 * r * (n + p + 2) + (1 << 20);
    QByteArray key(length, Qt::Uninitialized);
    if (EVP_PBE_scrypt(password.constData(), size_t(password.size()), bytes(salt), size_t(salt.size()), n, r,
            p, maxMemory, reinterpret_cast<unsigned char *>(key.data()), size_t(length))
        != 1)
        return QByteArray();
    return key;
}

} // namespace Crypto
