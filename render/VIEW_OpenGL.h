// The OpenGL renderer: fixed-function OpenGL 1.x behind VIEW_Generic.
// VIEW_OpenGL does the drawing; VIEW_OpenGLWin32 owns the GL context of one
// window and makes it current around each frame. Scene drawing, texture
// upload and glyph textures live in their own files (VIEW_OpenGL3D.cpp,
// VIEW_OpenGLTexture.cpp, VIEW_OpenGL2D.cpp); each declares its operations
// here.
#pragma once

#include <cstdint>

#include "base/CTRL_Array.h"
#include "math/m44.h"
#include "render/VIEW_BSP.h"
#include "render/VIEW_Generic.h"
#include "render/VIEW_HashMap.h"
#include "render/VIEW_Scene3D.h"
#include "render/VIEW_TexturePlan.h"

struct PLAT_GLContext;

// Render paths.
enum : uint32_t {
    RENDER_PATH_NONE = 0,    // client-side vertex arrays
    RENDER_PATH_VBO = 1,     // vertex buffer objects
    RENDER_PATH_SHADER = 2,  // named, never chosen
};

struct MDL_MeshData;
class MDL_Camera;
class MDL_Material;
class MDL_Polyline;
class MDL_Object;
class MDL_Text;
class MDL_Mesh;
class MDL_Lamp;
class MDL_Scene;

// GL buffer names of one mesh's geometry.
struct VIEW_BufferPair {
    uint32_t vertexBuffer;
    uint32_t indexBuffer;
    uint32_t serial;   // the mesh data's serial: a later record at the same address is not this one
};

struct VIEW_GlyphKey {
    uint32_t fontInstance;
    uint32_t code;
    uint32_t scale;  // face x scale
};

struct VIEW_GlyphTexture {
    uint32_t glName;          // 0 for an empty glyph; a shared atlas page when packed
    double sExtent, tExtent;  // bitmap size over texture size
    int32_t width, rows, left, top;
    double advance;
    uint32_t glyphIndex;
    uint32_t byteSize;
    uint8_t packed;           // lives in an atlas page (glName is not its own)
    double s0, t0;            // the bitmap's corner in its texture
    int32_t page = -1;        // its atlas page when packed
    uint32_t lastDrawn = 0;   // the renderer's frame number when it was last drawn
};

// A text's glyph quads that share one texture: vertices first .. first + count.
struct VIEW_TextRun {
    uint32_t glName;
    int32_t first, count;
};

struct VIEW_ImageTexture {
    uint32_t glName;
    double s0, t0, s1, t1;  // the part of the GL texture that holds the picture
    uint64_t byteSize;
};

class VIEW_OpenGL : public VIEW_Generic {
public:
    VIEW_OpenGL();
    ~VIEW_OpenGL() override;

    void setDefaultTextureFilter(uint32_t mode) override;
    void resetTextureCache() override;
    void resetGlyphTextureCache() override;
    void initExtensions() override;
    void resetRenderingOpti() override;
    void beginFrame(void *dc, uint8_t wireframe) override;
    void releaseImageTexture(VIEW_Texture *texture) override;
    void endFrame(void *dc) override;
    bool readStencil(void *dc, int x, int y, int width, int height, VIEW_Image *image) override;
    bool readPixels(void *dc, int x, int y, int width, int height, VIEW_Image *image) override;
    bool readDepth(void *dc, int x, int y, int width, int height, VIEW_Image *image) override;
    void clear(const double *colour) override;
    const char *getVersionString() override;
    const char *getRendererString() override;
    const char *getVendorString() override;
    const char *getRenderPathName() override;

    // Context switching; VIEW_OpenGL itself has no context and answers true.
    virtual bool makeCurrent(void *dc);
    virtual bool releaseCurrent(void *dc);
    virtual bool swapBuffers(void *dc);

    // Texture upload (VIEW_OpenGLTexture.cpp). bindTexture binds the GL copy
    // of a texture, making it on first use; null when the picture cannot be
    // decoded. getGlyphTexture binds the glyph texture of a character at the
    // font's current size; null without a face or glyph. findGlyph answers
    // the same record without binding (the text drawing binds once per run).
    VIEW_ImageTexture *bindTexture(VIEW_Texture *texture);
    VIEW_GlyphTexture *getGlyphTexture(VIEW_Font *font, uint32_t code);
    VIEW_GlyphTexture *findGlyph(VIEW_Font *font, uint32_t code);

    // 2-D drawing (VIEW_OpenGL2D.cpp).
    void drawMessage(const v2 &position, const v2 &size, const char *text, VIEW_Font *font, double textSize,
                     double alpha) override;
    void drawLoadingScreen(const v2 &position, const v2 &size, const char *text, VIEW_Font *font,
                           MDL_Image *image) override;
    void drawStatusText(const v2 &position, const v2 &size, const char *text, VIEW_Font *font) override;
    // Viewport rectangle in pixels and both matrices: the camera's
    // perspective and inverse frame, or (no camera) the overlays' pixel
    // projection with an identity model-view.
    void setupCamera(MDL_Camera *camera, const v2 &position, const v2 &size);
    // Colour, lighting, blending and texture state of one material layer
    // (flat: unlit, the texture matrix mapping the unit square onto the
    // picture); answers whether a texture is bound.
    bool applyMaterial(MDL_Material *material, int32_t layer, bool flat, bool forceBlend);
    // Overlay camera and the 2-D state.
    void begin2D(const v2 &position, const v2 &size);
    // The overlay pass of drawScene: sorts a scene's overlay list by
    // ascending global z and draws its visible members over what is drawn.
    void drawOverlays(CTRL_Array<MDL_Object *> &overlays, const v2 &position, const v2 &size);
    void drawText(MDL_Text *text);
    void drawImage(MDL_Image *image);
    void drawPolyline(MDL_Polyline *polyline);

    // 3-D scene drawing (VIEW_OpenGL3D.cpp).
    void drawScene(MDL_Viewport *viewport, const v2 &position, const v2 &size) override;
    // GL lights 0 to 7 from the scene's lamps that are on; chooses the
    // frame's shadow lamp (scene3D).
    void setupLights(MDL_Scene *scene);
    // Camera model-view times the object's frame (a sprite keeps its axes).
    void loadObjectMatrix(MDL_Object *object);
    // One pass per material layer; depth only (positions, no material).
    void drawMesh(MDL_Mesh *mesh, const VIEW_MeshArrays &arrays);
    void drawMeshDepth(MDL_Mesh *mesh, const VIEW_MeshArrays &arrays);
    // Opaque meshes, then the occluders' depth.
    void drawOpaque(MDL_Scene *scene);
    // The transparent triangles of the scene, ordered far to near.
    void drawTransparent(MDL_Scene *scene);
    // Rebuilds the volumes that were not built for this lamp and method.
    void refreshShadowVolumes(MDL_Scene *scene, MDL_Lamp *lamp, bool zFail);
    // Marks the shadowed pixels in the stencil buffer.
    void drawShadowVolumes(MDL_Scene *scene, bool zFail);
    // Drops stale buffer pairs and makes the missing ones.
    void updateBufferObjects(MDL_Scene *scene);
    // The mesh's buffer pair when it may draw from one, else null.
    VIEW_BufferPair *bufferPairOf(MDL_Mesh *mesh);
    void dropBufferPair(MDL_MeshData *data);
    VIEW_SceneState scene3D;

    // Deletes every cached GL texture; the context must be current.
    void releaseGlyphTextures();
    // Deletes the atlas pages only (with every glyph they hold: call it
    // with the glyph records gone, or about to go).
    void releaseGlyphPages();
    void releaseImageTextures();

    // The extension scan over a GL_EXTENSIONS string: the buffer-object path
    // only for the exact name, and only when its entry points exist.
    static bool hasExtension(const char *extensions, const char *name);
    // 10 x major + minor of a GL_VERSION string; 0 for null.
    static uint32_t versionNumber(const char *version);

    double viewportWidth = 0, viewportHeight = 0;
    m44 modelView{};
    m44 projection{};
    m44 viewProjection{};
    VIEW_Transparency transparency;
    VIEW_HashMap<MDL_MeshData *, VIEW_BufferPair *> bufferObjects;
    VIEW_HashMap<VIEW_GlyphKey, VIEW_GlyphTexture> glyphTextures;
    // Glyph bitmaps share square alpha pages (names in glyphPages, 0 for a
    // page given back); a glyph too large for a page keeps a texture of its
    // own.
    CTRL_Array<uint32_t> glyphPages;
    VIEW_ShelfPacker glyphPacker;
    // The glyph cache is bounded: its records, pages and textures count
    // glyphCacheBytes, and past its share (glyphCacheLimit, or a sixteenth of
    // the media budget when 0) the least recently drawn pages and glyphs are
    // evicted, never one drawn in the current frame. glyphFrame counts
    // frames; glyphPageDrawn holds each page's last frame drawn.
    uint32_t glyphFrame = 1;
    uint64_t glyphCacheBytes = 0;
    uint64_t glyphCacheLimit = 0;
    CTRL_Array<uint32_t> glyphPageDrawn;
    uint64_t glyphCacheShare() const;
    // Evicts until room more bytes fit the share, or nothing is left to evict.
    void trimGlyphCache(uint64_t room);
    // Evicts the pages and unpacked glyphs drawn longest ago; false when
    // every one was drawn in this frame.
    bool evictOldestGlyphs();
    // Forgets every glyph record and page and gives their bytes back to the
    // budget; no GL calls (the GL names must be gone already).
    void dropGlyphRecords();
    // The largest on-screen text size that glyphs are rasterised at: an em
    // no larger than the view's larger side (nor the largest texture). A
    // larger text draws these glyphs scaled.
    double glyphSizeCap() const;
    // A text's quads (x, y, s, t per vertex) and their texture runs, kept
    // from text to text so that drawing allocates nothing once they are big
    // enough.
    CTRL_Array<float> textVertices;
    CTRL_Array<VIEW_TextRun> textRuns;
    VIEW_HashMap<uint32_t, VIEW_ImageTexture> imageTextures;
    // Copies of the driver's strings from the last beginFrame (owned).
    char *versionString = nullptr;
    char *vendorString = nullptr;
    char *rendererString = nullptr;
    uint32_t version = 0;
    int32_t maxTextureSize = 0;
    uint32_t defaultFilter = 2;
    uint32_t renderPath = RENDER_PATH_NONE;
    uint8_t glyphReset = 0;
    uint8_t imageReset = 0;
    // Buffer objects dropped by a script outside a frame wait for the next
    // frame, when the context is current.
    uint8_t buffersReset = 0;
    // GL entry points are loaded once a context has been current.
    uint8_t extensionsLoaded = 0;

protected:
    // Loads the entry points and scans the extensions on the current context.
    void loadExtensions();
    void freeBufferObjects();
};

class VIEW_OpenGLWin32 : public VIEW_OpenGL {
public:
    // Sets the window's pixel format and makes its context; vsync chooses the
    // swap interval. Without a context every frame draws nothing.
    VIEW_OpenGLWin32(void *dc, bool vsync);
    ~VIEW_OpenGLWin32() override;

    bool makeCurrent(void *dc) override;
    bool releaseCurrent(void *dc) override;
    bool swapBuffers(void *dc) override;

    PLAT_GLContext *context = nullptr;
    void *window = nullptr;  // used only to make the context current at teardown
    bool vsync = true;
    // The context could not be made current while the window was hidden;
    // entry points and swap interval are set up at the first frame instead.
    bool setupPending = false;
};
