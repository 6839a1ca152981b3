// The printing module: PDF documents of the collection printed as their own pages (Qt PDF,
// qpdf, Qt Print Support), loaded by the window at the first print of a PDF or the first
// title it reads from one, and by an install that needs a circular's title.

#include "deferredservices.h"
#include "pdfprinting.h"

#include <type_traits>

extern "C" Q_DECL_EXPORT PdfDocuments *legisdiscoNewPdfDocuments()
{
    return new QtPdfDocuments;
}

// The entry's type is the one its callers cast to.
static_assert(std::is_same_v<decltype(&legisdiscoNewPdfDocuments), NewPdfDocuments>);
