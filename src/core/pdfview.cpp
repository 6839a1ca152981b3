#include "pdfview.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// What the viewer takes of its width, in pixels: its column of thumbnails, and beside the
// document the scroll bar; around each page it leaves a margin (at the page's zoom).
constexpr int thumbnailColumn = 300;
constexpr int scrollBar = 15;
constexpr double pageMargin = 10;
// Below this width the column would take more than a third of the viewer.
constexpr int narrowestWithThumbnails = 1000;
// The viewer's own limits, in percent.
constexpr int minimumZoom = 25;
constexpr int maximumZoom = 500;
constexpr double a4WidthPoints = 595;
constexpr double pixelsPerPoint = 96.0 / 72.0;

// The parameters the viewer reads, by name, letter case ignored.
bool isNamed(const QString &item, const char *name)
{
    return item.section(u'=', 0, 0).compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

bool isViewParameter(const QString &item)
{
    return isNamed(item, "zoom") || isNamed(item, "view");
}

bool isBarParameter(const QString &item)
{
    return isNamed(item, "toolbar") || isNamed(item, "navpanes");
}
} // namespace

bool pdfThumbnailsShown(int viewWidth)
{
    return viewWidth >= narrowestWithThumbnails;
}

int pdfZoomPercent(double zoom, int viewWidth, double pageWidthPoints)
{
    const double page = (pageWidthPoints > 0 ? pageWidthPoints : a4WidthPoints) * pixelsPerPoint;
    const int documentWidth = viewWidth - (pdfThumbnailsShown(viewWidth) ? thumbnailColumn : 0);
    const double fit = std::max(0, documentWidth - scrollBar) / (page + pageMargin);
    const long percent = std::lround(zoom * fit * 100);
    return static_cast<int>(std::clamp<long>(percent, minimumZoom, maximumZoom));
}

QString pdfOpenFragment(const QString &given, const PdfOpening &opening)
{
    QStringList kept;
    QString page;
    QStringList view;
    for (const QString &item : given.split(u'&', Qt::SkipEmptyParts)) {
        if (isNamed(item, "page")) {
            page = item;
        } else if (isViewParameter(item)) {
            view.append(item);
        } else if (!isBarParameter(item)) {
            kept.append(item);
        }
    }
    if (opening.page > 0) {
        page = QStringLiteral("page=%1").arg(opening.page);
    }
    if (!page.isEmpty()) {
        kept.append(page);
    }
    if (std::abs(opening.zoom - 1.0) > 0.005) {
        kept.append(QStringLiteral("zoom=%1").arg(
            pdfZoomPercent(opening.zoom, opening.viewWidth, opening.pageWidthPoints)));
    } else if (!view.isEmpty() && !opening.zoomChosen) {
        kept.append(view);
    } else {
        kept.append(QStringLiteral("view=FitH"));
    }
    if (!pdfThumbnailsShown(opening.viewWidth)) {
        kept.append(QStringLiteral("toolbar=0"));
    }
    return kept.join(u'&');
}

int pdfFragmentPage(const QString &fragment)
{
    for (const QString &item : fragment.split(u'&', Qt::SkipEmptyParts)) {
        if (isNamed(item, "page")) {
            bool ok = false;
            const int page = item.section(u'=', 1).toInt(&ok);
            return ok && page > 0 ? page : 0;
        }
    }
    return 0;
}

PdfPlace followPdfViewport(const PdfPlace &before, double pageTop, double pageWidth,
                           const QList<QSizeF> &pagePoints)
{
    const qsizetype count = pagePoints.size();
    if (before.page < 1 || before.page > count || pageWidth <= 0) {
        return {};
    }
    const auto widthOf = [&](qsizetype i) { return pagePoints[i].width() * pixelsPerPoint; };
    const auto strideOf = [&](qsizetype i) {
        return pagePoints[i].height() * pixelsPerPoint + pageMargin;
    };
    // How far the document was scrolled: where the page before starts in it, less where
    // its top edge lay in the viewer.
    double scrolledBefore = 0;
    for (qsizetype i = 0; i < before.page - 1; ++i) {
        scrolledBefore += strideOf(i);
    }
    scrolledBefore = scrolledBefore * before.zoom - before.pageTop;
    // The page reported is the one, of the pages its width fits at the zoom before, that
    // leaves the document scrolled nearest to where it was.
    PdfPlace best;
    double nearest = std::numeric_limits<double>::max();
    double start = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const double zoom = pageWidth / widthOf(i);
        if (before.zoom > 0 && std::abs(zoom - before.zoom) <= before.zoom * 0.005) {
            const double distance = std::abs(start * zoom - pageTop - scrolledBefore);
            if (distance < nearest) {
                nearest = distance;
                best = {static_cast<int>(i + 1), pageTop, zoom};
            }
        }
        start += strideOf(i);
    }
    if (best.page == 0) {
        // The zoom changed (or was not known yet): the viewer keeps the page it showed.
        return {before.page, pageTop, pageWidth / widthOf(before.page - 1)};
    }
    return best;
}
