#include "render/VIEW_OpenGL.h"

#include "platform/PLAT.h"

namespace {

PLAT_Window *win(void *dc) { return static_cast<PLAT_Window *>(dc); }

}  // namespace

VIEW_OpenGLWin32::VIEW_OpenGLWin32(void *dc, bool vsyncOn) : window(dc), vsync(vsyncOn) {
    PLAT_System *plat = PLAT_iGet();
    if (!plat) return;
    PLAT_PixelFormat format;  // double-buffered RGBA, 8 alpha, 32 (or 24) depth, 8 stencil
    plat->setPixelFormat(win(dc), format);
    context = plat->createGLContext(win(dc));
    if (!context) return;
    if (!plat->makeCurrent(win(dc), context)) {
        // A window that is not on screen yet cannot take the context; the
        // rest of the set-up waits for the first frame.
        setupPending = true;
        return;
    }
    loadExtensions();
    if (plat->hasSwapInterval()) plat->setSwapInterval(vsync ? 1 : 0);
    plat->makeCurrent(win(dc), nullptr);
}

VIEW_OpenGLWin32::~VIEW_OpenGLWin32() {
    PLAT_System *plat = PLAT_iGet();
    if (!context || !plat) return;
    // Delete the GL objects while the context is current; a window that is
    // already gone takes them with its context.
    if (extensionsLoaded && plat->makeCurrent(win(window), context)) {
        if (renderPath == RENDER_PATH_VBO) freeBufferObjects();
        releaseGlyphTextures();
        releaseImageTextures();
        plat->makeCurrent(win(window), nullptr);
    }
    plat->deleteGLContext(context);
    context = nullptr;
}

bool VIEW_OpenGLWin32::makeCurrent(void *dc) {
    PLAT_System *plat = PLAT_iGet();
    if (!context || !plat) return false;
    if (!plat->makeCurrent(win(dc), context)) return false;
    window = dc;
    if (setupPending) {
        setupPending = false;
        loadExtensions();
        if (plat->hasSwapInterval()) plat->setSwapInterval(vsync ? 1 : 0);
    }
    return true;
}

bool VIEW_OpenGLWin32::releaseCurrent(void *dc) {
    PLAT_System *plat = PLAT_iGet();
    return plat && plat->makeCurrent(win(dc), nullptr);
}

bool VIEW_OpenGLWin32::swapBuffers(void *dc) {
    PLAT_System *plat = PLAT_iGet();
    return plat && plat->swapBuffers(win(dc));
}
