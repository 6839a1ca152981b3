#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Signatures in the format of the minisign tool: a public key file as `minisign -G` writes
// it, and a detached signature file (FILE.minisig) as `minisign -S` writes it, in either
// of its kinds (the message signed whole, or its BLAKE2b-512 hash), with the signature of
// its trusted comment. The cryptography is libsodium's Ed25519 and BLAKE2b.
namespace Minisign {

struct PublicKey {
    QByteArray keyId; // 8 bytes
    QByteArray key;   // 32 bytes, Ed25519
};

// The key of a public key file: an optional "untrusted comment:" line, then the key in
// base64. nullopt with *error set (in Spanish) when the file holds no such key.
std::optional<PublicKey> parsePublicKey(QByteArrayView file, QString *error);

// Whether signatureFile signs message with key, its trusted comment included. On success
// *trustedComment holds the comment's text; on failure *error says why, in Spanish.
bool verify(const PublicKey &key, QByteArrayView message, QByteArrayView signatureFile,
            QString *trustedComment, QString *error);

} // namespace Minisign
