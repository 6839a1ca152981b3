#pragma once

#include <QList>
#include <QSizeF>
#include <QString>

// How the browser's PDF viewer is asked to show a document (the parameters it reads from
// the fragment of the document's address when it opens it), and where in the document the
// reader is, followed from what the viewer reports as the reader scrolls.

// What a document is opened with.
struct PdfOpening {
    // The page to open at, from 1; 0 leaves the page the address names, if any.
    int page = 0;
    // The reader's zoom: 1 fits the page's width to the viewer, 1.1 is a tenth more.
    double zoom = 1.0;
    // The browser's width in pixels.
    int viewWidth = 0;
    // The width of the document's widest page in points; 0 when unknown (taken as A4).
    double pageWidthPoints = 0;
    // The reader has just chosen the zoom: the zoom or view the address names gives way.
    bool zoomChosen = false;
};

// Whether the viewer keeps its toolbar and its column of thumbnails at viewWidth: beside
// the search results the column would leave the document too narrow to read.
bool pdfThumbnailsShown(int viewWidth);

// The viewer's zoom in percent that shows a page pageWidthPoints wide at zoom times the
// width that fits the viewer.
int pdfZoomPercent(double zoom, int viewWidth, double pageWidthPoints);

// The fragment of a local PDF document's address that opens it as opening says. The
// parameters of given (an address's own fragment) that say nothing about the page, the
// zoom or the viewer's bars stay; its page stays unless opening names one; its zoom or
// view stays while the reader's zoom is 1 and was not just chosen. Opening the result
// again changes nothing.
QString pdfOpenFragment(const QString &given, const PdfOpening &opening);

// The page (from 1) a fragment opens at; 0 when it names none.
int pdfFragmentPage(const QString &fragment);

// Where the reader is: the page the viewer shows most of, where its top edge lies in the
// viewer (pixels, negative once scrolled past) and the zoom (1 = 96 pixels to the inch).
// Page 0: not known.
struct PdfPlace {
    int page = 0;
    double pageTop = 0;
    double zoom = 0;
};

// The place after the viewer reported that the page it shows most of has its top edge at
// pageTop and is pageWidth pixels wide, given the place before and the sizes of the
// document's pages in points. Between two reports the reader scrolls by less than half a
// page; a jump farther (to the end, to a page chosen in the viewer) is not seen as such.
PdfPlace followPdfViewport(const PdfPlace &before, double pageTop, double pageWidth,
                           const QList<QSizeF> &pagePoints);
