// The set of circulars a package address carries (paquetes/SET/...): any client
// may send any text there.
//
// Input: a code as a client would send it (letters, digits, "-", "_" and any
// other bytes), then a list of identifiers for the other way round.
//
// Properties:
// - decoding never crashes, and never gives more circulars than the caller
//   allows, whatever the code;
// - a code that decodes gives a non-empty set of valid identifiers in strict
//   natural order, and encoding that set gives the code back (one set, one
//   code);
// - encoding a valid set in natural order gives a code of letters, digits, "-"
//   and "_" only, which decodes back into the same set.
#include "fuzzsupport.h"

#include "circularcatalog.h"
#include "packagesets.h"

#include <algorithm>

namespace {

bool isAddressSafe(const QString &code)
{
    return std::all_of(code.cbegin(), code.cend(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'-' || c == u'_';
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);

    const QString code = fuzz::text(data, 4096);
    QStringList decoded;
    const qsizetype most = data.ConsumeIntegralInRange<qsizetype>(0, 100000);
    if (PackageSets::decode(code, most, &decoded)) {
        FUZZ_CHECK(decoded.size() <= most, {"code", fuzz::shown(code)});
        FUZZ_CHECK(!decoded.isEmpty(), {"code", fuzz::shown(code)});
        for (qsizetype i = 0; i < decoded.size(); ++i) {
            FUZZ_CHECK(CircularCatalog::isValidIdentifier(decoded.at(i)),
                       {"code", fuzz::shown(code)}, {"identifier", fuzz::shown(decoded.at(i))});
            FUZZ_CHECK(i == 0 || CircularCatalog::naturalLess(decoded.at(i - 1), decoded.at(i)),
                       {"code", fuzz::shown(code)}, {"set", fuzz::shown(decoded)});
        }
        FUZZ_CHECK(PackageSets::encode(decoded) == code, {"code", fuzz::shown(code)});
    }

    QStringList identifiers;
    while (data.remaining_bytes() > 0 && identifiers.size() < 64) {
        const QString identifier = data.ConsumeBool()
                                       ? QString::number(data.ConsumeIntegral<quint32>() % 100000)
                                       : fuzz::text(data, 24);
        if (CircularCatalog::isValidIdentifier(identifier) && !identifiers.contains(identifier))
            identifiers.append(identifier);
    }
    if (identifiers.isEmpty())
        return 0;
    std::sort(identifiers.begin(), identifiers.end(), CircularCatalog::naturalLess);
    // Natural order may call two different texts equal ("01" and "1"): such sets are not
    // made by the server.
    for (qsizetype i = 1; i < identifiers.size(); ++i) {
        if (!CircularCatalog::naturalLess(identifiers.at(i - 1), identifiers.at(i)))
            return 0;
    }
    const QString encoded = PackageSets::encode(identifiers);
    FUZZ_CHECK(isAddressSafe(encoded), {"code", fuzz::shown(encoded)});
    QStringList back;
    FUZZ_CHECK(PackageSets::decode(encoded, identifiers.size(), &back) && back == identifiers,
               {"set", fuzz::shown(identifiers)}, {"code", fuzz::shown(encoded)},
               {"back", fuzz::shown(back)});
    return 0;
}
