#pragma once

#include <QByteArray>
#include <QString>

// minisign's public keys and signatures (Ed25519), read and checked with
// libsodium. A school signs its update list with `minisign -S -m list.xml`;
// both the default (pre-hashed with BLAKE2b-512) and the legacy signatures
// are accepted.
namespace minisign {

struct PublicKey
{
    QByteArray keyId; // 8 bytes
    QByteArray key; // 32 bytes
};

struct Signature
{
    bool prehashed = false; // "ED": over the BLAKE2b-512 of the file; "Ed": over the file
    QByteArray keyId; // 8 bytes
    QByteArray signature; // 64 bytes
    QByteArray trustedComment;
    QByteArray globalSignature; // 64 bytes, over signature + trustedComment
};

// A public key file ("untrusted comment: ..." line, then the key), or the
// key line alone. False with *error when it is not one.
bool readPublicKey(const QByteArray &text, PublicKey *key, QString *error);
// A .minisig file. False with *error when it is not one.
bool readSignature(const QByteArray &text, Signature *signature, QString *error);

// Whether text carries a valid signature by key, trusted comment included.
// False with the reason in *error.
bool verify(const QByteArray &text, const QByteArray &signatureFile, const PublicKey &key, QString *error);

} // namespace minisign
