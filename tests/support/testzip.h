#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// One entry of a zip written by a test.
struct TestZipEntry {
    QByteArray name;
    QByteArray data;
    // The Unix mode stored with the entry (type and permissions); 0 stores none.
    unsigned int unixMode = 0100644;
    bool compress = false;
    // The modification time stored with the entry; invalid stores the time of writing.
    QDateTime modified = {};
};

// Writes a zip of the entries to path with libzip; false when it could not.
bool writeTestZip(const QString &path, const QList<TestZipEntry> &entries);

// A small PDF body that starts the way PDF files do.
QByteArray testPdf(const QByteArray &text);
