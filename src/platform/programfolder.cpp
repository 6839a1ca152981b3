#include "programfolder.h"

#include <QFile>
#include <QFileInfo>

QString runningProgramFolder()
{
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}
