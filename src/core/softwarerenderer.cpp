#include "softwarerenderer.h"

#include <QByteArray>

bool isSoftwareRenderer(QByteArrayView rendererName)
{
    const QByteArray name = rendererName.toByteArray().toLower();
    for (const char *software : {"llvmpipe", "softpipe", "swrast", "software rasterizer"}) {
        if (name.contains(software)) {
            return true;
        }
    }
    return false;
}
