// legisdisco-demopdf: writes a one-page A4 PDF with a title and a few paragraphs.
//
//   legisdisco-demopdf OUT.pdf TITLE PARAGRAPH...
//
// The build uses it to make the PDF documents of the demo collection. It needs no
// display: unless QT_QPA_PLATFORM says otherwise it runs on the offscreen platform, and
// without a runtime folder of its own it uses a private temporary one.

#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPen>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>

namespace {

void complain(const QString &message)
{
    std::fprintf(stderr, "legisdisco-demopdf: %s\n", qPrintable(message));
}

QFont makeFont(qreal pointSize, bool bold)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

// Draws text word-wrapped at the top of the free area, then moves the top of the free
// area below it plus a gap. Returns false when the text does not fit on the page.
bool drawBlock(QPainter &painter, QRectF &freeArea, const QString &text, qreal gap)
{
    const QRectF needed =
        painter.boundingRect(freeArea, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
    if (needed.height() > freeArea.height())
        return false;
    painter.drawText(freeArea, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
    freeArea.setTop(freeArea.top() + needed.height() + gap);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtimeDir;
    if (!qEnvironmentVariableIsSet("XDG_RUNTIME_DIR") && runtimeDir.isValid())
        qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());
    QGuiApplication app(argc, argv);

    const QStringList args = QGuiApplication::arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: legisdisco-demopdf OUT.pdf TITLE PARAGRAPH...\n");
        return 2;
    }
    const QString outPath = args.at(1);
    const QString title = args.at(2);
    const QStringList paragraphs = args.mid(3);

    QPdfWriter writer(outPath);
    writer.setTitle(title);
    writer.setCreator(QStringLiteral("legisdisco-demopdf"));
    writer.setResolution(300);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(25, 25, 25, 25), QPageLayout::Millimeter));

    QPainter painter;
    if (!painter.begin(&writer)) {
        complain(QStringLiteral("cannot write %1").arg(outPath));
        return 1;
    }

    // Painter coordinates start at the top left corner of the printable area.
    const QRect page = writer.pageLayout().paintRectPixels(writer.resolution());
    QRectF freeArea(0, 0, page.width(), page.height());
    bool fits = true;

    painter.setFont(makeFont(18, true));
    fits = fits && drawBlock(painter, freeArea, title, 0);

    const QFont body = makeFont(11, false);
    const qreal lineGap = QFontMetricsF(body, &writer).height();
    painter.setPen(QPen(Qt::darkGray, writer.resolution() / 144.0));
    painter.drawLine(QPointF(0, freeArea.top() + lineGap / 2),
                     QPointF(freeArea.width(), freeArea.top() + lineGap / 2));
    freeArea.setTop(freeArea.top() + lineGap * 1.5);

    painter.setPen(Qt::black);
    painter.setFont(body);
    for (const QString &paragraph : paragraphs)
        fits = fits && drawBlock(painter, freeArea, paragraph, lineGap * 0.8);

    painter.end();
    if (!fits) {
        // Leave no half-made file behind, or the build would take it as up to date.
        QFile::remove(outPath);
        complain(QStringLiteral("the text of %1 does not fit on one page").arg(outPath));
        return 1;
    }
    return 0;
}
