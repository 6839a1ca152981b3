#include "minisign.h"

#include <QList>

#include <sodium.h>

namespace Minisign {
namespace {

constexpr qsizetype algorithmBytes = 2;
constexpr qsizetype keyIdBytes = 8;

const QByteArray untrustedPrefix("untrusted comment:");
const QByteArray trustedPrefix("trusted comment: ");

bool sodiumReady()
{
    // Safe to call again and from several threads; negative only when it cannot start.
    static const bool ready = sodium_init() >= 0;
    return ready;
}

QList<QByteArray> linesOf(QByteArrayView file)
{
    QList<QByteArray> lines = QByteArray(file.data(), file.size()).split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
    }
    while (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

std::optional<QByteArray> fromBase64(const QByteArray &text, qsizetype bytes)
{
    const auto decoded =
        QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != bytes) {
        return std::nullopt;
    }
    return decoded.decoded;
}

} // namespace

std::optional<PublicKey> parsePublicKey(QByteArrayView file, QString *error)
{
    QList<QByteArray> lines = linesOf(file);
    if (!lines.isEmpty() && lines.first().startsWith(untrustedPrefix)) {
        lines.removeFirst();
    }
    const std::optional<QByteArray> bytes =
        lines.size() == 1
            ? fromBase64(lines.first(), algorithmBytes + keyIdBytes + crypto_sign_PUBLICKEYBYTES)
            : std::nullopt;
    if (!bytes || !bytes->startsWith("Ed")) {
        *error = QStringLiteral("la clave pública del publicador no es una clave de minisign");
        return std::nullopt;
    }
    return PublicKey{bytes->mid(algorithmBytes, keyIdBytes),
                     bytes->mid(algorithmBytes + keyIdBytes)};
}

bool verify(const PublicKey &key, QByteArrayView message, QByteArrayView signatureFile,
            QString *trustedComment, QString *error)
{
    if (!sodiumReady()) {
        *error = QStringLiteral("no se pudo iniciar la biblioteca criptográfica");
        return false;
    }
    const QList<QByteArray> lines = linesOf(signatureFile);
    if (lines.size() != 4 || !lines.at(0).startsWith(untrustedPrefix) ||
        !lines.at(2).startsWith(trustedPrefix)) {
        *error = QStringLiteral("la firma no tiene el formato de minisign");
        return false;
    }
    const std::optional<QByteArray> signature =
        fromBase64(lines.at(1), algorithmBytes + keyIdBytes + crypto_sign_BYTES);
    const std::optional<QByteArray> global = fromBase64(lines.at(3), crypto_sign_BYTES);
    if (!signature || !global) {
        *error = QStringLiteral("la firma no tiene el formato de minisign");
        return false;
    }
    const QByteArray algorithm = signature->left(algorithmBytes);
    if (algorithm != "Ed" && algorithm != "ED") {
        *error = QStringLiteral("la firma usa un algoritmo desconocido");
        return false;
    }
    if (signature->mid(algorithmBytes, keyIdBytes) != key.keyId) {
        *error = QStringLiteral("el paquete está firmado con otra clave, no con la del publicador");
        return false;
    }
    const auto *publicKey = reinterpret_cast<const unsigned char *>(key.key.constData());
    const QByteArray bare = signature->mid(algorithmBytes + keyIdBytes);
    const auto *bareBytes = reinterpret_cast<const unsigned char *>(bare.constData());

    // "ED" signs the BLAKE2b-512 hash of the message; "Ed", older, the message itself.
    int checked = -1;
    if (algorithm == "ED") {
        unsigned char hash[crypto_generichash_BYTES_MAX];
        crypto_generichash(hash, sizeof hash,
                           reinterpret_cast<const unsigned char *>(message.data()),
                           static_cast<unsigned long long>(message.size()), nullptr, 0);
        checked = crypto_sign_verify_detached(bareBytes, hash, sizeof hash, publicKey);
    } else {
        checked = crypto_sign_verify_detached(
            bareBytes, reinterpret_cast<const unsigned char *>(message.data()),
            static_cast<unsigned long long>(message.size()), publicKey);
    }
    if (checked != 0) {
        *error = QStringLiteral("la firma no corresponde al contenido firmado");
        return false;
    }

    // The trusted comment is signed together with the signature.
    const QByteArray comment = lines.at(2).mid(trustedPrefix.size());
    const QByteArray signedComment = bare + comment;
    if (crypto_sign_verify_detached(
            reinterpret_cast<const unsigned char *>(global->constData()),
            reinterpret_cast<const unsigned char *>(signedComment.constData()),
            static_cast<unsigned long long>(signedComment.size()), publicKey) != 0) {
        *error = QStringLiteral("el comentario de confianza de la firma fue alterado");
        return false;
    }
    *trustedComment = QString::fromUtf8(comment);
    return true;
}

} // namespace Minisign
