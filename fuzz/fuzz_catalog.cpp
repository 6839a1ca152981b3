// The signed catalog as it comes from the network: its text and its signature.
//
// Input: catalog text or a signature file, and a last byte that says which.
//
// Properties:
// - parseCatalog never crashes; a catalog it reads writes back (text()) into a text that
//   reads as the same catalog, and every circular's path is a plain file of circulares/;
// - a signature file that is not the one made for a fixed message never verifies with a
//   fixed key, and verifying never crashes, whatever the file holds.
#include "fuzzsupport.h"

#include "catalog.h"
#include "minisign.h"

namespace {

// A public key made once with minisign -G; its secret half is gone, and it never signed
// the message checked here.
const char publicKeyFile[] = "untrusted comment: minisign public key 14AEB34773964C1E\n"
                             "RWQeTJZzR7OuFL9FPPbak/gKGPtrFCYjE90n8MN9FoJbykodqhWKuFYC\n";

bool sameCatalog(const Catalog &a, const Catalog &b)
{
    if (a.sequence != b.sequence || a.validUntil != b.validUntil ||
        a.circulars.size() != b.circulars.size() || a.files.size() != b.files.size()) {
        return false;
    }
    for (qsizetype i = 0; i < a.circulars.size(); ++i) {
        const CatalogCircular &x = a.circulars.at(i);
        const CatalogCircular &y = b.circulars.at(i);
        if (x.number != y.number || x.date != y.date || x.sha256 != y.sha256 || x.size != y.size ||
            x.repeals != y.repeals || x.amends != y.amends) {
            return false;
        }
    }
    for (qsizetype i = 0; i < a.files.size(); ++i) {
        if (a.files.at(i).path != b.files.at(i).path ||
            a.files.at(i).sha256 != b.files.at(i).sha256 ||
            a.files.at(i).size != b.files.at(i).size) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const bool signature = data.ConsumeBool();
    const std::string rest = data.ConsumeRemainingBytesAsString();
    const QByteArray input(rest.data(), qsizetype(rest.size()));

    if (!signature) {
        QString error;
        const std::optional<Catalog> catalog = parseCatalog(input, &error);
        FUZZ_CHECK(catalog || !error.isEmpty());
        if (catalog) {
            for (const CatalogCircular &circular : catalog->circulars) {
                const QString path = circularPath(circular.number);
                const QStringList parts = path.split(u'/');
                FUZZ_CHECK(parts.size() == 2 && parts.first() == QStringLiteral("circulares") &&
                               !parts.last().startsWith(u'.'),
                           {"path", fuzz::shown(path)});
            }
            const std::optional<Catalog> again = parseCatalog(catalog->text(), &error);
            FUZZ_CHECK(again && sameCatalog(*catalog, *again), {"error", fuzz::shown(error)});
        }
        return 0;
    }

    QString error;
    const std::optional<Minisign::PublicKey> key =
        Minisign::parsePublicKey(QByteArray(publicKeyFile), &error);
    FUZZ_CHECK(key.has_value(), {"error", fuzz::shown(error)});
    QString comment;
    const bool verified =
        Minisign::verify(*key, QByteArray("catalogo-legisdisco 1\n"), input, &comment, &error);
    // Forging an Ed25519 signature is beyond a fuzzer; a verified input is a fault.
    FUZZ_CHECK(!verified, {"comment", fuzz::shown(comment)});
    FUZZ_CHECK(!error.isEmpty());
    return 0;
}
