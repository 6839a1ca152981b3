#include "featuremodule.h"

#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

#include <utility>

namespace {
QString loaderError()
{
    const char *error = dlerror();
    return error ? QString::fromLocal8Bit(error) : QStringLiteral("error desconocido");
}
} // namespace

SharedObjectModule::SharedObjectModule(QString path)
    : m_path(std::move(path))
{
}

void *SharedObjectModule::entry(const char *symbol, QString *problem)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    const QString name = QFileInfo(m_path).fileName();
    if (!m_handle) {
        // A module that failed to load is tried again at the next use: it may be back.
        m_handle = dlopen(QFile::encodeName(m_path).constData(), RTLD_LAZY | RTLD_LOCAL);
        if (!m_handle) {
            *problem = QStringLiteral("no se puede cargar el módulo %1 del programa (%2)")
                           .arg(name, loaderError());
            return nullptr;
        }
    }
    void *address = dlsym(m_handle, symbol);
    if (!address) {
        *problem = QStringLiteral("el módulo %1 del programa no es de esta versión (le falta %2)")
                       .arg(name, QString::fromLatin1(symbol));
    }
    return address;
}

QString servicesModuleName()
{
    return QStringLiteral("legisdisco-services.so");
}

QString printModuleName()
{
    return QStringLiteral("legisdisco-print.so");
}
