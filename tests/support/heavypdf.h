#pragma once

#include "testpdf.h"

#include <QByteArray>
#include <QString>

#include <vector>

// A PDF that is slow to read: every page draws one shared, heavy content
// stream (a few hundred thousand characters shown one by one), so each page
// costs its reader the same long parse, while the file stays small. The first
// page also shows firstWord and the last page lastWord, so a search tells
// which pages were read. Written by hand: no QGuiApplication needed.
inline QByteArray heavyTestPdf(int pages, int glyphsPerPage, const QByteArray &firstWord,
                               const QByteArray &lastWord)
{
    QByteArray heavy;
    heavy.reserve(glyphsPerPage * 12);
    heavy += "q\n";
    for (int i = 0; i < glyphsPerPage; ++i) {
        heavy += "1 0 0 1 0 0 cm\n";
    }
    heavy += "Q\n";
    // qCompress puts the length before the zlib stream that FlateDecode reads.
    const QByteArray packed = qCompress(heavy, 9).mid(4);

    const auto words = [](const QByteArray &word) {
        return "BT /F1 11 Tf 56 40 Td (" + word + ") Tj ET";
    };
    std::vector<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>", QByteArray(),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        "<< /Length " + QByteArray::number(packed.size()) + " /Filter /FlateDecode >>\nstream\n" +
            packed + "\nendstream"};
    const QByteArray heavyRef = "4 0 R";
    QByteArray kids;
    for (int page = 0; page < pages; ++page) {
        QByteArray contents = heavyRef;
        QByteArray own;
        if (page == 0) {
            own += words(firstWord);
        }
        if (page == pages - 1) {
            own += ' ' + words(lastWord);
        }
        if (!own.isEmpty()) {
            objects.push_back("<< /Length " + QByteArray::number(own.size()) + " >>\nstream\n" +
                              own + "\nendstream");
            contents =
                "[" + heavyRef + " " + QByteArray::number(qsizetype(objects.size())) + " 0 R]";
        }
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << "
                          "/Font << /F1 3 0 R >> >> /Contents " +
                          contents + " >>");
        kids += QByteArray::number(qsizetype(objects.size())) + " 0 R ";
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages) + " >>";
    return pdfOfObjects(objects);
}
