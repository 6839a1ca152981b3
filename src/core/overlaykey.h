#pragma once

#include <QString>

// The key that names a file's per-user counterpart: the first 16 hex digits of
// the SHA-256 of its full path, its folder resolved where it exists, so that
// every route to one file gives the same key and files of the same name in
// other folders get keys of their own.
QString overlayKey(const QString &file);
