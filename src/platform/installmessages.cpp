// The messages of an install, in Spanish: apart from the installer, so that what tells of an
// install needs none of the installer's libraries.

#include "zippackageinstaller.h"

#include "indexpage.h"

QString ZipPackageInstaller::installedMessage(int circulars, int files)
{
    if (circulars == 1) {
        return QStringLiteral("Se instaló 1 circular nueva en la colección.");
    }
    if (circulars > 1) {
        return QStringLiteral("Se instalaron %1 circulares nuevas en la colección.").arg(circulars);
    }
    return noNewCircularsText(files);
}

QString ZipPackageInstaller::unverifiedNotice()
{
    return QStringLiteral("No se pudo verificar que el paquete sea del publicador: esta "
                          "instalación no tiene su clave pública (legisdis.pub).");
}

QString ZipPackageInstaller::refusedMessage(const QString &reason)
{
    return QStringLiteral("No se instaló el paquete de actualización: %1. La colección no se "
                          "modificó.")
        .arg(reason);
}

QString ZipPackageInstaller::undoFailedMessage(const QString &reason)
{
    return QStringLiteral("No se instaló el paquete de actualización: %1. No se pudieron "
                          "devolver a su lugar todos los archivos que ya se habían colocado, así "
                          "que la colección quedó a medias; se volverá a intentar la próxima vez "
                          "que se abra.")
        .arg(reason);
}
