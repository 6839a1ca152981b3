#pragma once

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QPainter>
#include <QPdfWriter>
#include <QRect>
#include <QString>
#include <QStringList>

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
