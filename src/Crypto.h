#ifndef CRYPTO_H
#define CRYPTO_H

#include <QByteArray>

#include <memory>

// The digests and signatures of the update engine, from OpenSSL's libcrypto: the library Qt
// Network already loads for TLS, and faster than QCryptographicHash where the CPU has SHA
// instructions.
namespace Crypto {

enum class Algorithm { Md5, Sha256, Blake2b512 };

class Hash
{
public:
    explicit Hash(Algorithm algorithm);
    ~Hash();
    Hash(Hash &&other) noexcept;
    Hash &operator=(Hash &&other) noexcept;

    void addData(const char *data, qint64 size);
    void addData(const QByteArray &data) { addData(data.constData(), data.size()); }
    // The raw digest of everything added since the last reset; the state is kept.
    QByteArray result() const;
    void reset();

    static QByteArray hash(const QByteArray &data, Algorithm algorithm);

private:
    struct State;
    std::unique_ptr<State> d;
};

inline constexpr int Ed25519KeySize = 32;
inline constexpr int Ed25519SignatureSize = 64;

// A 32-byte public key, a 64-byte signature; anything else does not verify.
bool verifyEd25519(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature);
// seed: the 32-byte private key. Empty on a malformed seed.
QByteArray signEd25519(const QByteArray &seed, const QByteArray &message);
QByteArray ed25519PublicKey(const QByteArray &seed);

// scrypt with the parameters libsodium derives from an operations and a memory limit, as the
// minisign tool uses it to protect a secret key. Empty when the parameters are unusable.
QByteArray scryptFromLimits(
    const QByteArray &password, const QByteArray &salt, quint64 opsLimit, quint64 memLimit, int length);

} // namespace Crypto

#endif
