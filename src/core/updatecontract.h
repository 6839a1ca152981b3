#pragma once

#include <QLatin1String>

// The names the viewer and the update server must agree on: the pages the viewer asks
// for under the server's prefix, the folders of a collection that packages write into,
// and the files a package and the circulars folder carry beside the circulars.
namespace UpdateContract {

// The list page: its first <label> holds the comma-separated identifiers on offer.
inline constexpr QLatin1String listPage{"actualizacionesValores.asp"};
// The request page, followed by the identifiers wanted, separated by commas.
inline constexpr QLatin1String requestPage{"archivoValores.asp"};
inline constexpr QLatin1String requestQuery{"archivoValores.asp?Numeros="};
// The answer page: its address contains this name, and its first link is the package.
inline constexpr QLatin1String answerPage{"archivo.asp"};
// Where the server's package addresses live, below its prefix.
inline constexpr QLatin1String packagesFolder{"paquetes/"};

// The folders of a collection; a package may write into these alone.
inline constexpr QLatin1String circularsFolder{"circulares"};
inline constexpr QLatin1String manualsFolder{"sistemas"};
inline constexpr QLatin1String pagesFolder{"pagina"};

// The circular index page, within the collection.
inline constexpr QLatin1String indexPage{"pagina/circulares.htm"};

// The catalog of the circulars and its detached signature, in the server's circulars
// folder and at the root of every package.
inline constexpr QLatin1String catalogFile{"catalogo.txt"};
inline constexpr QLatin1String catalogSignatureFile{"catalogo.txt.minisig"};

} // namespace UpdateContract
