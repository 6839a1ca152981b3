#pragma once

// Chooses how the browser engine and Qt Quick draw the pages, before the engine starts.
// Where OpenGL itself runs on the processor (a virtual machine, a remote session, no
// graphics driver), the pages are drawn by Qt Quick's software renderer instead: the same
// pixels, without compiling OpenGL's shaders on the processor first, which costs the first
// page tens of milliseconds. A renderer the user chose (QT_QUICK_BACKEND, QSG_RHI_BACKEND)
// stands. Needs the application object and its shared OpenGL context
// (Qt::AA_ShareOpenGLContexts); true when the software renderer was chosen.
bool drawPagesWithoutEmulatedOpenGl();
