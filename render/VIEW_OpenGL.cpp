#include "render/VIEW_OpenGL.h"

#include <GL/glew.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "media/VIEW_Budget.h"
#include "media/VIEW_Image.h"
#include "media/VIEW_Texture.h"

namespace {

// Keeps *held as a copy of the driver's string s, copying only when it
// changed (a frame then allocates nothing for it).
void keepString(char **held, const GLubyte *s) {
    const char *text = reinterpret_cast<const char *>(s);
    if (*held && text && strcmp(*held, text) == 0) return;
    free(*held);
    *held = text ? strdup(text) : nullptr;
}

}  // namespace

VIEW_OpenGL::VIEW_OpenGL() {}

VIEW_OpenGL::~VIEW_OpenGL() {
    // No GL here: a subclass with a context deletes the GL objects first.
    bufferObjects.forEach([](MDL_MeshData *const &, VIEW_BufferPair *const &pair) { delete pair; });
    bufferObjects.free();
    dropGlyphRecords();
    imageTextures.forEach([](const uint32_t &, const VIEW_ImageTexture &t) { VIEW_iBudgetRelease(t.byteSize); });
    imageTextures.free();
    VIEW_iBspFree(transparency);
    free(versionString);
    free(vendorString);
    free(rendererString);
}

bool VIEW_OpenGL::hasExtension(const char *extensions, const char *name) {
    if (!extensions || !name || !*name) return false;
    size_t n = strlen(name);
    const char *p = extensions;
    while (*p) {
        const char *end = strchr(p, ' ');
        size_t len = end ? static_cast<size_t>(end - p) : strlen(p);
        if (len == n && memcmp(p, name, n) == 0) return true;
        if (!end) break;
        p = end + 1;
    }
    return false;
}

uint32_t VIEW_OpenGL::versionNumber(const char *v) {
    if (!v || !v[0] || !v[1] || !v[2]) return 0;
    return 10u * static_cast<uint32_t>(v[0] - '0') + static_cast<uint32_t>(v[2] - '0');
}

void VIEW_OpenGL::setDefaultTextureFilter(uint32_t mode) {
    defaultFilter = mode;
    resetTextureCache();
}

void VIEW_OpenGL::resetTextureCache() { imageReset = 1; }

void VIEW_OpenGL::resetGlyphTextureCache() { glyphReset = 1; }

void VIEW_OpenGL::loadExtensions() {
    glewExperimental = GL_TRUE;
    glewInit();
    // glewInit leaves an error flag behind on some drivers.
    while (glGetError() != GL_NO_ERROR) {
    }
    extensionsLoaded = 1;
    const char *extensions = reinterpret_cast<const char *>(glGetString(GL_EXTENSIONS));
    bool entryPoints = glGenBuffers && glBindBuffer && glBufferData && glDeleteBuffers;
    if (hasExtension(extensions, "GL_ARB_vertex_buffer_object") && entryPoints) renderPath = RENDER_PATH_VBO;
}

void VIEW_OpenGL::initExtensions() { loadExtensions(); }

void VIEW_OpenGL::freeBufferObjects() {
    bufferObjects.forEach([](MDL_MeshData *const &, VIEW_BufferPair *const &pair) {
        if (pair) {
            glDeleteBuffers(1, &pair->indexBuffer);
            glDeleteBuffers(1, &pair->vertexBuffer);
        }
        delete pair;
    });
    bufferObjects.free();
}

// Scripts call this between frames, when no context is current, so the
// buffers go at the start of the next frame.
void VIEW_OpenGL::resetRenderingOpti() {
    if (renderPath == RENDER_PATH_VBO) buffersReset = 1;
}

void VIEW_OpenGL::beginFrame(void *dc, uint8_t wireframe) {
    if (!makeCurrent(dc)) return;
    keepString(&versionString, glGetString(GL_VERSION));
    keepString(&vendorString, glGetString(GL_VENDOR));
    keepString(&rendererString, glGetString(GL_RENDERER));
    version = versionNumber(versionString);
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    maxTextureSize = maxSize;

    glyphFrame++;
    if (glyphReset) {
        glyphReset = 0;
        releaseGlyphTextures();
    }
    if (imageReset) {
        imageReset = 0;
        releaseImageTextures();
    }
    if (buffersReset) {
        buffersReset = 0;
        if (renderPath == RENDER_PATH_VBO) freeBufferObjects();
    }

    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnableClientState(GL_VERTEX_ARRAY);
    glAlphaFunc(GL_EQUAL, 1.0f);
    glShadeModel(GL_SMOOTH);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glPolygonMode(GL_FRONT_AND_BACK, wireframe ? GL_LINE : GL_FILL);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
    if (version >= 12) glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, GL_SEPARATE_SPECULAR_COLOR);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, GL_TRUE);
    glColorMaterial(GL_FRONT_AND_BACK, GL_DIFFUSE);
    glClearDepth(1.0);
}

void VIEW_OpenGL::releaseImageTexture(VIEW_Texture *texture) {
    if (!texture) return;
    VIEW_ImageTexture *entry = imageTextures.find(texture->instanceId);
    if (!entry) return;
    GLuint name = entry->glName;
    if (name) glDeleteTextures(1, &name);
    VIEW_iBudgetRelease(entry->byteSize);
    imageTextures.remove(texture->instanceId);
}

void VIEW_OpenGL::releaseGlyphTextures() {
    glyphTextures.forEach([](const VIEW_GlyphKey &, const VIEW_GlyphTexture &g) {
        GLuint name = g.glName;
        if (name && !g.packed) glDeleteTextures(1, &name);
    });
    releaseGlyphPages();
    dropGlyphRecords();
}

void VIEW_OpenGL::releaseGlyphPages() {
    uint64_t bytes = 0;
    for (uint32_t name : glyphPages)
        if (name) {
            glDeleteTextures(1, &name);
            bytes += static_cast<uint64_t>(glyphPacker.side) * glyphPacker.side;
        }
    VIEW_iBudgetRelease(bytes);
    glyphCacheBytes = glyphCacheBytes > bytes ? glyphCacheBytes - bytes : 0;
    glyphPages.resize(0);
    glyphPageDrawn.resize(0);
    glyphPacker.reset(glyphPacker.side);
}

void VIEW_OpenGL::dropGlyphRecords() {
    uint64_t bytes = 0;
    glyphTextures.forEach([&bytes](const VIEW_GlyphKey &, const VIEW_GlyphTexture &g) {
        if (g.glName && !g.packed) bytes += g.byteSize;
    });
    for (uint32_t name : glyphPages)
        if (name) bytes += static_cast<uint64_t>(glyphPacker.side) * glyphPacker.side;
    VIEW_iBudgetRelease(bytes);
    glyphTextures.free();
    glyphPages.resize(0);
    glyphPageDrawn.resize(0);
    glyphPacker.reset(glyphPacker.side);
    glyphCacheBytes = 0;
}

void VIEW_OpenGL::releaseImageTextures() {
    imageTextures.forEach([](const uint32_t &, const VIEW_ImageTexture &t) {
        GLuint name = t.glName;
        if (name) glDeleteTextures(1, &name);
        VIEW_iBudgetRelease(t.byteSize);
    });
    imageTextures.free();
}

void VIEW_OpenGL::endFrame(void *dc) {
    swapBuffers(dc);
    releaseCurrent(dc);
}

bool VIEW_OpenGL::readPixels(void *dc, int x, int y, int width, int height, VIEW_Image *image) {
    if (width <= 0 || height <= 0 || !image) return false;
    if (!image->allocate(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 3)) return false;
    makeCurrent(dc);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, width, height, GL_RGB, GL_UNSIGNED_BYTE, image->pixels);
    releaseCurrent(dc);
    return true;
}

bool VIEW_OpenGL::readStencil(void *dc, int x, int y, int width, int height, VIEW_Image *image) {
    if (width <= 0 || height <= 0 || !image) return false;
    if (!image->allocate(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 1)) return false;
    makeCurrent(dc);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, width, height, GL_STENCIL_INDEX, GL_BYTE, image->pixels);
    releaseCurrent(dc);
    size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    uint8_t *p = image->pixels;
    uint32_t lo = 255, hi = 0;
    for (size_t i = 0; i < n; i++) {
        lo = p[i] < lo ? p[i] : lo;
        hi = p[i] > hi ? p[i] : hi;
    }
    if (lo != hi)
        for (size_t i = 0; i < n; i++) p[i] = static_cast<uint8_t>((p[i] - lo) * 255u / (hi - lo));
    return true;
}

bool VIEW_OpenGL::readDepth(void *dc, int x, int y, int width, int height, VIEW_Image *image) {
    if (width <= 0 || height <= 0 || !image) return false;
    if (!image->allocate(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 1)) return false;
    size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<uint32_t> depth(n);
    makeCurrent(dc);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, width, height, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, depth.data());
    releaseCurrent(dc);
    uint32_t lo = UINT32_MAX, hi = 0;
    for (uint32_t v : depth) {
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    uint32_t step = (hi - lo) / 255u;
    if (step == 0) step = 1;
    for (size_t i = 0; i < n; i++) image->pixels[i] = static_cast<uint8_t>((depth[i] - lo) / step);
    return true;
}

void VIEW_OpenGL::clear(const double *colour) {
    glDisable(GL_SCISSOR_TEST);
    if (colour && colour[3] > 0) {
        glClearColor(static_cast<float>(colour[0]), static_cast<float>(colour[1]), static_cast<float>(colour[2]),
                     static_cast<float>(colour[3]));
        glClear(GL_COLOR_BUFFER_BIT);
    }
}

const char *VIEW_OpenGL::getVersionString() { return versionString; }
const char *VIEW_OpenGL::getRendererString() { return rendererString; }
const char *VIEW_OpenGL::getVendorString() { return vendorString; }

const char *VIEW_OpenGL::getRenderPathName() {
    switch (renderPath) {
    case RENDER_PATH_VBO: return "VBO";
    case RENDER_PATH_SHADER: return "SHADER";
    default: return "NONE";
    }
}

bool VIEW_OpenGL::makeCurrent(void *) { return true; }
bool VIEW_OpenGL::releaseCurrent(void *) { return true; }
bool VIEW_OpenGL::swapBuffers(void *) { return true; }
