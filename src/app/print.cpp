// The printing module: PDF documents of the collection printed as their own pages (Qt PDF,
// qpdf, Qt Print Support), loaded by the window the first time it reads from a PDF itself:
// a print, a title, or the page sizes that place a PDF shown at the reader's zoom or
// followed while the reader scrolls; and by an install that needs a circular's title.

#include "deferredservices.h"
#include "pdfprinting.h"

#include <type_traits>

extern "C" Q_DECL_EXPORT PdfDocuments *legisdiscoNewPdfDocuments()
{
    return new QtPdfDocuments;
}

// The entry's type is the one its callers cast to.
static_assert(std::is_same_v<decltype(&legisdiscoNewPdfDocuments), NewPdfDocuments>);
