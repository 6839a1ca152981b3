#include "testzip.h"

#include <QFile>

#include <zip.h>

bool writeTestZip(const QString &path, const QList<TestZipEntry> &entries)
{
    QFile::remove(path);
    int error = 0;
    zip_t *archive =
        zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) {
        return false;
    }
    for (const TestZipEntry &entry : entries) {
        zip_int64_t index = -1;
        if (entry.name.endsWith('/')) {
            index = zip_dir_add(archive, entry.name.constData(), ZIP_FL_ENC_RAW);
        } else {
            // libzip reads the data when the archive is closed; the entries outlive that.
            zip_source_t *source =
                zip_source_buffer(archive, entry.data.constData(), entry.data.size(), 0);
            index = zip_file_add(archive, entry.name.constData(), source,
                                 ZIP_FL_ENC_RAW | ZIP_FL_OVERWRITE);
            if (index < 0) {
                zip_source_free(source);
            } else {
                zip_set_file_compression(archive, index,
                                         entry.compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0);
            }
        }
        if (index < 0) {
            zip_discard(archive);
            return false;
        }
        if (entry.modified.isValid() &&
            zip_file_set_mtime(archive, index, time_t(entry.modified.toSecsSinceEpoch()), 0) != 0) {
            zip_discard(archive);
            return false;
        }
        if (entry.unixMode != 0) {
            zip_file_set_external_attributes(archive, index, 0, ZIP_OPSYS_UNIX,
                                             static_cast<zip_uint32_t>(entry.unixMode) << 16);
        }
    }
    return zip_close(archive) == 0;
}

QByteArray testPdf(const QByteArray &text)
{
    return "%PDF-1.4\n% " + text + "\n%%EOF\n";
}
