// bench-gen-collection: writes a collection for the search benchmark.
//
//   bench-gen-collection [--qpdfwriter] DIR CIRCULARS PAGES HTMLPAGES [FIRST]
//
// Writes DIR/circulares/N.pdf for N = FIRST (default 4001) onwards, each of PAGES
// A4 pages of Spanish regulatory prose, and DIR/pagina/pN.htm. The PDFs are laid
// out the way office programs write them, one text object per line in a
// standard font with compressed page contents; with --qpdfwriter they come from
// QPdfWriter instead, which places every glyph on its own (a layout that PDF
// engines read much more slowly). The text is drawn
// from a fixed vocabulary with a fixed seed, so two runs write the same
// collection; a few rare words stand on known pages (see markerFor) so that the
// benchmark's queries have answers of every size.

#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRandomGenerator>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>

namespace {

const QStringList vocabulary =
    QStringLiteral(
        "la de el los las del en por con para sobre entre según a y o que se su sus al como "
        "circular norma normas regulación regulaciones mercado mercados valores valor emisor "
        "emisores entidad entidades fiscalizadas fiscalizada información informar informe "
        "informes financiero financiera financieros financieras fondo fondos inversión "
        "inversiones inversionista inversionistas corredor corredores bolsa bolsas "
        "instrumento instrumentos derivado derivados riesgo riesgos gestión control "
        "auditoría auditores externos estados contables balance patrimonio capital "
        "accionistas acciones junta directorio gerente general sociedad sociedades anónimas "
        "abiertas cerradas seguros aseguradora aseguradoras reaseguro pólizas prima primas "
        "depósito custodia registro inscripción plazo plazos días hábiles comunicación "
        "hecho esencial reservado publicación página web sitio electrónico firma "
        "superintendencia comisión resolución oficio artículo artículos inciso letra número "
        "ley decreto reglamento dispone establece modifica deroga imparte instrucciones "
        "materia operaciones operación transacción transacciones liquidación compensación "
        "custodios agentes administradoras generales cartera carteras individuales "
        "colectivas cuotas cuotistas rescate rescates aporte aportes remuneración comisiones "
        "gastos política políticas conflicto conflictos interés intereses independencia "
        "director directores ejecutivo ejecutivos personas relacionadas grupo empresarial "
        "control interno cumplimiento normativo sanción sanciones multa multas plazo vigencia "
        "fecha presente entrará regirá partir siguiente anterior dentro fuera mismo misma "
        "deberá deberán podrá podrán será serán haya hayan cuando donde cual cuales cada todo "
        "todos toda todas ningún ninguna otro otra otros otras este esta estos estas dicho "
        "dicha dichos dichas respecto conformidad acuerdo forma manera caso casos efecto")
        .split(u' ', Qt::SkipEmptyParts);

// Rare words: each stands on one known page of a few circulars. The words are UTF-8, as
// this file is.
struct Marker {
    const char *word;
    int every; // on circulars whose index is a multiple of this
    int page;  // on this page (1-based)
};
const Marker markers[] = {
    {"tokenizados", 97, 3},   {"criptoactivos", 41, 7}, {"sostenibilidad", 13, 2},
    {"ciberseguridad", 7, 5}, {"custodia", 1, 1},       {"blockchain", 199, 9},
    {"fintech", 29, 4},       {"taxonomía", 53, 6},
};

QString pageText(QRandomGenerator &random, int circularIndex, int page, int number)
{
    QString text;
    if (page == 1) {
        text += QStringLiteral("CIRCULAR N° %1\n\nREF.: Imparte instrucciones sobre la materia "
                               "que indica.\n\n")
                    .arg(number);
    }
    text += QStringLiteral("Página %1. ").arg(page);
    for (const Marker &marker : markers) {
        if (circularIndex % marker.every == 0 && page == marker.page) {
            text += QStringLiteral("Activos %1 en el artículo %2. ")
                        .arg(QString::fromUtf8(marker.word))
                        .arg(page + 10);
        }
    }
    for (int sentence = 0; sentence < 24; ++sentence) {
        const int length = 10 + random.bounded(12);
        QString line;
        for (int w = 0; w < length; ++w) {
            line += vocabulary.at(random.bounded(vocabulary.size())) + u' ';
        }
        line[0] = line[0].toUpper();
        text += line.trimmed() + QStringLiteral(". ");
        if (random.bounded(5) == 0) {
            text += QStringLiteral("Artículo %1.\n").arg(1 + random.bounded(60));
        }
    }
    return text;
}

bool writeCircular(const QString &path, QRandomGenerator &random, int index, int number, int pages)
{
    QPdfWriter writer(path);
    writer.setTitle(QStringLiteral("Circular %1").arg(number));
    writer.setResolution(150);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter));
    QPainter painter;
    if (!painter.begin(&writer)) {
        return false;
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(9);
    painter.setFont(font);
    const QRect area = writer.pageLayout().paintRectPixels(writer.resolution());
    for (int page = 1; page <= pages; ++page) {
        if (page > 1) {
            writer.newPage();
        }
        painter.drawText(QRect(0, 0, area.width(), area.height()),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                         pageText(random, index, page, number));
    }
    return painter.end();
}

// The text in the PDF string syntax, in the standard fonts' WinAnsi encoding.
QByteArray pdfString(const QString &text)
{
    QByteArray out = "(";
    for (QChar c : text) {
        const char16_t u = c.unicode();
        const char byte = u < 0x100 ? char(u) : '?';
        if (byte == '(' || byte == ')' || byte == '\\') {
            out += '\\';
        }
        out += byte;
    }
    return out + ')';
}

// Breaks text into lines of at most width characters, at blanks and line ends.
QStringList wrap(const QString &text, int width)
{
    QStringList lines;
    for (const QString &paragraph : text.split(u'\n')) {
        QString line;
        for (const QString &word : paragraph.split(u' ', Qt::SkipEmptyParts)) {
            if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
                lines.append(line);
                line.clear();
            }
            line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
        }
        lines.append(line);
    }
    return lines;
}

bool writePlainCircular(const QString &path, QRandomGenerator &random, int index, int number,
                        int pages)
{
    QList<QByteArray> objects; // object i + 1
    objects.append("<< /Type /Catalog /Pages 2 0 R >>");
    objects.append(QByteArray()); // the page tree, once the pages are known
    objects.append("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica "
                   "/Encoding /WinAnsiEncoding >>");
    objects.append("<< /Title " + pdfString(QStringLiteral("Circular %1").arg(number)) +
                   " /Producer (bench-gen-collection) >>");
    QByteArray kids;
    for (int page = 1; page <= pages; ++page) {
        QByteArray content = "BT /F1 9.5 Tf 12 TL 56 800 Td\n";
        for (const QString &line : wrap(pageText(random, index, page, number), 105)) {
            content += pdfString(line) + " Tj T*\n";
        }
        content += "ET\n";
        const QByteArray packed = qCompress(content).mid(4); // a zlib stream, as Flate wants
        const int contentObject = static_cast<int>(objects.size()) + 1;
        objects.append("<< /Length " + QByteArray::number(packed.size()) +
                       " /Filter /FlateDecode >>\nstream\n" + packed + "\nendstream");
        objects.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << "
                       "/Font << /F1 3 0 R >> >> /Contents " +
                       QByteArray::number(contentObject) + " 0 R >>");
        kids += QByteArray::number(objects.size()) + " 0 R ";
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages) + " >>";

    QByteArray pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets) {
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    }
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) +
           " /Root 1 0 R /Info 4 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(pdf) == pdf.size();
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
    QStringList args = QGuiApplication::arguments();
    const bool qpdfwriter = args.removeAll(QStringLiteral("--qpdfwriter")) > 0;
    if (args.size() < 5) {
        std::fprintf(stderr, "usage: bench-gen-collection [--qpdfwriter] DIR CIRCULARS PAGES "
                             "HTMLPAGES [FIRST]\n");
        return 2;
    }
    const QDir dir(args.at(1));
    const int circulars = args.at(2).toInt();
    const int pages = args.at(3).toInt();
    const int htmlPages = args.at(4).toInt();
    const int first = args.size() > 5 ? args.at(5).toInt() : 4001;
    dir.mkpath(QStringLiteral("circulares"));
    dir.mkpath(QStringLiteral("pagina"));

    for (int i = 0; i < circulars; ++i) {
        const int number = first + i;
        QRandomGenerator random(static_cast<quint32>(number));
        const QString path = dir.filePath(QStringLiteral("circulares/%1.pdf").arg(number));
        const bool written = qpdfwriter
                                 ? writeCircular(path, random, number - 4000, number, pages)
                                 : writePlainCircular(path, random, number - 4000, number, pages);
        if (!written) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    for (int i = 1; i <= htmlPages; ++i) {
        QRandomGenerator random(static_cast<quint32>(100000 + i));
        QString body;
        for (int p = 1; p <= 3; ++p) {
            body += QStringLiteral("<p>") + pageText(random, i, p, i).toHtmlEscaped() +
                    QStringLiteral("</p>\n");
        }
        QFile file(dir.filePath(QStringLiteral("pagina/p%1.htm").arg(i)));
        if (!file.open(QIODevice::WriteOnly)) {
            return 1;
        }
        file.write(QStringLiteral("<html><head><meta charset=\"utf-8\"><title>Página %1 de la "
                                  "normativa</title></head><body>\n%2</body></html>\n")
                       .arg(i)
                       .arg(body)
                       .toUtf8());
    }
    return 0;
}
