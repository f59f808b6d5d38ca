#include "minisign.h"

#include <QList>

#include <algorithm>
#include <sodium.h>

namespace minisign {

namespace {

const QByteArray kUntrusted = "untrusted comment: ";
const QByteArray kTrusted = "trusted comment: ";
const int kKeyIdBytes = 8;

// Strict base64 of exactly `bytes` bytes.
bool decode(const QByteArray &line, int bytes, QByteArray *out)
{
    const auto result = QByteArray::fromBase64Encoding(line, QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.size() != bytes)
        return false;
    *out = result.decoded;
    return true;
}

// The file's lines without their "\n" or "\r\n".
QList<QByteArray> lines(const QByteArray &text)
{
    QList<QByteArray> all = text.split('\n');
    for (QByteArray &line : all) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return all;
}

// As minisign shows a key id: the 8 bytes as one little-endian number.
QString keyIdText(const QByteArray &id)
{
    QByteArray reversed = id;
    std::reverse(reversed.begin(), reversed.end());
    return QString::fromLatin1(reversed.toHex().toUpper());
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool checkEd25519(const QByteArray &signature, const QByteArray &message, const QByteArray &key)
{
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.constData()),
                                       reinterpret_cast<const unsigned char *>(message.constData()),
                                       static_cast<unsigned long long>(message.size()),
                                       reinterpret_cast<const unsigned char *>(key.constData())) == 0;
}

} // namespace

bool readPublicKey(const QByteArray &text, PublicKey *key, QString *error)
{
    const QList<QByteArray> all = lines(text);
    QByteArray line = all.value(0).trimmed();
    if (all.value(0).startsWith(kUntrusted))
        line = all.value(1).trimmed();
    QByteArray raw;
    if (!decode(line, 2 + kKeyIdBytes + crypto_sign_PUBLICKEYBYTES, &raw) || !raw.startsWith("Ed"))
        return fail(error, QStringLiteral("not a minisign public key"));
    key->keyId = raw.mid(2, kKeyIdBytes);
    key->key = raw.mid(2 + kKeyIdBytes);
    return true;
}

bool readSignature(const QByteArray &text, Signature *signature, QString *error)
{
    const QList<QByteArray> all = lines(text);
    if (all.size() < 4 || !all.at(0).startsWith(kUntrusted) || !all.at(2).startsWith(kTrusted))
        return fail(error, QStringLiteral("not a minisign signature"));
    QByteArray raw;
    if (!decode(all.at(1).trimmed(), 2 + kKeyIdBytes + crypto_sign_BYTES, &raw))
        return fail(error, QStringLiteral("the signature line is not valid"));
    const QByteArray algorithm = raw.left(2);
    if (algorithm != "ED" && algorithm != "Ed")
        return fail(error, QStringLiteral("unknown signature algorithm"));
    signature->prehashed = algorithm == "ED";
    signature->keyId = raw.mid(2, kKeyIdBytes);
    signature->signature = raw.mid(2 + kKeyIdBytes);
    signature->trustedComment = all.at(2).mid(kTrusted.size());
    if (!decode(all.at(3).trimmed(), crypto_sign_BYTES, &signature->globalSignature))
        return fail(error, QStringLiteral("the trusted comment's signature line is not valid"));
    return true;
}

bool verify(const QByteArray &text, const QByteArray &signatureFile, const PublicKey &key, QString *error)
{
    if (sodium_init() < 0)
        return fail(error, QStringLiteral("libsodium cannot start"));
    Signature signature;
    if (!readSignature(signatureFile, &signature, error))
        return false;
    if (signature.keyId != key.keyId)
        return fail(
            error,
            QStringLiteral("signed by another key (%1, not %2)").arg(keyIdText(signature.keyId), keyIdText(key.keyId)));
    QByteArray message = text;
    if (signature.prehashed) {
        message.resize(crypto_generichash_BYTES_MAX);
        crypto_generichash(reinterpret_cast<unsigned char *>(message.data()), size_t(message.size()),
                           reinterpret_cast<const unsigned char *>(text.constData()),
                           static_cast<unsigned long long>(text.size()), nullptr, 0);
    }
    if (!checkEd25519(signature.signature, message, key.key))
        return fail(error, QStringLiteral("the signature does not match the list"));
    if (!checkEd25519(signature.globalSignature, signature.signature + signature.trustedComment, key.key))
        return fail(error, QStringLiteral("the trusted comment's signature does not match"));
    return true;
}

} // namespace minisign
