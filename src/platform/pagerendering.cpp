#include "pagerendering.h"

#include "softwarerenderer.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace {
// The renderer's name, as the context all the program's contexts share reports it; empty
// where there is no OpenGL.
QByteArray sharedRendererName()
{
    QOpenGLContext *shared = QOpenGLContext::globalShareContext();
    if (!shared || !shared->isValid()) {
        return {};
    }
    QOffscreenSurface surface;
    surface.setFormat(shared->format());
    surface.create();
    if (!surface.isValid() || !shared->makeCurrent(&surface)) {
        return {};
    }
    const auto *name =
        reinterpret_cast<const char *>(shared->functions()->glGetString(GL_RENDERER));
    QByteArray result(name ? name : "");
    shared->doneCurrent();
    return result;
}
} // namespace

bool drawPagesWithoutEmulatedOpenGl()
{
    if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND") ||
        qEnvironmentVariableIsSet("QSG_RHI_BACKEND")) {
        return false;
    }
    if (!isSoftwareRenderer(sharedRendererName())) {
        return false;
    }
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    return true;
}
