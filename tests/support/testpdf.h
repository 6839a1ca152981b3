#pragma once

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QPainter>
#include <QPdfWriter>
#include <QRect>
#include <QString>
#include <QStringList>

#include <vector>

// A PDF file of the objects, numbered from 1 in order (the catalog first), with its
// cross-reference table and trailer.
inline QByteArray pdfOfObjects(const std::vector<QByteArray> &objects)
{
    QByteArray pdf = "%PDF-1.4\n";
    std::vector<qsizetype> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += QByteArray::number(qsizetype(i + 1)) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf +=
        "xref\n0 " + QByteArray::number(qsizetype(objects.size() + 1)) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets) {
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    }
    pdf += "trailer\n<< /Size " + QByteArray::number(qsizetype(objects.size() + 1)) +
           " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

// Writes a PDF with one page per entry of pages, each holding that text; needs
// a QGuiApplication. Answers false when the file could not be written.
inline bool writeTestPdf(const QString &path, const QStringList &pages,
                         const QString &title = QString())
{
    QDir().mkpath(QFileInfo(path).path());
    QPdfWriter writer(path);
    writer.setTitle(title);
    writer.setResolution(96);
    QPainter painter;
    if (!painter.begin(&writer)) {
        return false;
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(10);
    painter.setFont(font);
    const QRect area = writer.pageLayout().paintRectPixels(writer.resolution());
    for (qsizetype i = 0; i < pages.size(); ++i) {
        if (i > 0) {
            writer.newPage();
        }
        painter.drawText(QRect(0, 0, area.width(), area.height()),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, pages.at(i));
    }
    return painter.end();
}

// A PDF with one page per entry of pages, each holding that text on one line in
// a standard font, written by hand: no QGuiApplication needed. Text is
// Latin-1 (the font's WinAnsi encoding); parentheses and backslashes are not
// escaped, so leave them out.
inline QByteArray plainTestPdf(const QStringList &pages)
{
    std::vector<QByteArray> objects{"<< /Type /Catalog /Pages 2 0 R >>", QByteArray(),
                                    "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica "
                                    "/Encoding /WinAnsiEncoding >>"};
    QByteArray kids;
    for (const QString &text : pages) {
        const QByteArray content = "BT /F1 11 Tf 56 780 Td (" + text.toLatin1() + ") Tj ET";
        objects.push_back("<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" +
                          content + "\nendstream");
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << "
                          "/Font << /F1 3 0 R >> >> /Contents " +
                          QByteArray::number(objects.size()) + " 0 R >>");
        kids += QByteArray::number(objects.size()) + " 0 R ";
    }
    objects[1] =
        "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages.size()) + " >>";
    return pdfOfObjects(objects);
}
