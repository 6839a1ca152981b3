#pragma once

#include <QByteArrayView>

// Whether an OpenGL renderer, as it names itself (GL_RENDERER), draws on the processor
// rather than on a graphics card: Mesa's llvmpipe, softpipe and swrast.
bool isSoftwareRenderer(QByteArrayView rendererName);
