#include "packagestore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <zip.h>

#include <ctime>
#include <limits>
#include <memory>
#include <vector>

namespace {

QString zipErrorText(zip_error_t *error)
{
    return QString::fromLocal8Bit(zip_error_strerror(error));
}

// Reads the whole archive back out of a libzip buffer source.
QByteArray readSource(zip_source_t *source, QString *error)
{
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_source_stat(source, &stat) < 0 || !(stat.valid & ZIP_STAT_SIZE) ||
        stat.size > zip_uint64_t(std::numeric_limits<qsizetype>::max())) {
        *error = QStringLiteral("no se pudo leer el archivo zip generado");
        return {};
    }
    QByteArray bytes(qsizetype(stat.size), Qt::Uninitialized);
    if (zip_source_open(source) < 0) {
        *error = zipErrorText(zip_source_error(source));
        return {};
    }
    const zip_int64_t read = zip_source_read(source, bytes.data(), stat.size);
    zip_source_close(source);
    if (read < 0 || zip_uint64_t(read) != stat.size) {
        *error = QStringLiteral("no se pudo leer el archivo zip generado");
        return {};
    }
    return bytes;
}

} // namespace

QByteArray buildZipArchive(const QList<PackageEntry> &entries, QString *error)
{
    zip_error_t zipError;
    zip_error_init(&zipError);
    // The buffer source holds the archive; it outlives zip_close thanks to the extra
    // reference taken below, and is freed by the guard.
    zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &zipError);
    if (!buffer) {
        *error = zipErrorText(&zipError);
        zip_error_fini(&zipError);
        return {};
    }
    const std::unique_ptr<zip_source_t, void (*)(zip_source_t *)> bufferGuard(buffer,
                                                                              zip_source_free);
    zip_t *archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &zipError);
    if (!archive) {
        *error = zipErrorText(&zipError);
        zip_error_fini(&zipError);
        return {};
    }
    zip_error_fini(&zipError);
    zip_source_keep(buffer);

    // libzip reads the added data only when the archive is closed: keep it alive until then.
    std::vector<QByteArray> contents;
    contents.reserve(std::size_t(entries.size()));
    for (const PackageEntry &entry : entries) {
        QFile file(entry.path);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("no se pudo leer %1: %2").arg(entry.name, file.errorString());
            zip_discard(archive);
            return {};
        }
        contents.push_back(file.readAll());
        if (file.error() != QFileDevice::NoError) {
            *error = QStringLiteral("no se pudo leer %1: %2").arg(entry.name, file.errorString());
            zip_discard(archive);
            return {};
        }
        const QByteArray &data = contents.back();
        zip_source_t *source =
            zip_source_buffer(archive, data.constData(), zip_uint64_t(data.size()), 0);
        const zip_int64_t index = source ? zip_file_add(archive, entry.name.toUtf8().constData(),
                                                        source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE)
                                         : -1;
        if (index < 0) {
            if (source)
                zip_source_free(source);
            *error = QStringLiteral("no se pudo añadir %1 al paquete: %2")
                         .arg(entry.name, QString::fromLocal8Bit(zip_strerror(archive)));
            zip_discard(archive);
            return {};
        }
        // The file's own time, so that the same files always give the same archive.
        const QDateTime modified = QFileInfo(file).lastModified();
        zip_file_set_mtime(archive, zip_uint64_t(index), time_t(modified.toSecsSinceEpoch()), 0);
    }
    if (zip_close(archive) < 0) {
        *error = QStringLiteral("no se pudo cerrar el paquete: %1")
                     .arg(QString::fromLocal8Bit(zip_strerror(archive)));
        zip_discard(archive);
        return {};
    }
    return readSource(buffer, error);
}

void PackageStore::setLimits(int maxPackages, qint64 maxBytes)
{
    m_maxPackages = qMax(1, maxPackages);
    m_maxBytes = qMax<qint64>(1, maxBytes);
    trim();
}

const UpdatePackage *PackageStore::find(const QString &token)
{
    for (qsizetype i = 0; i < m_packages.size(); ++i) {
        if (m_packages.at(i).token == token) {
            m_packages.move(i, m_packages.size() - 1);
            return &m_packages.constLast();
        }
    }
    return nullptr;
}

void PackageStore::insert(UpdatePackage package)
{
    for (qsizetype i = 0; i < m_packages.size(); ++i) {
        if (m_packages.at(i).token == package.token) {
            m_bytes -= costOf(m_packages.at(i));
            m_packages.removeAt(i);
            break;
        }
    }
    m_bytes += costOf(package);
    m_packages.append(std::move(package));
    trim();
}

qint64 PackageStore::costOf(const UpdatePackage &package)
{
    qint64 cost = package.zip.size() + package.token.size() * 2;
    for (const QString &identifier : package.identifiers)
        cost += identifier.size() * 2 + 32;
    return cost;
}

void PackageStore::trim()
{
    while (m_packages.size() > 1 && (m_packages.size() > m_maxPackages || m_bytes > m_maxBytes)) {
        m_bytes -= costOf(m_packages.constFirst());
        m_packages.removeFirst();
    }
}
