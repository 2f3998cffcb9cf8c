// The renderer interface. Every operation does nothing here; the OpenGL
// view implements them. "dc" is the window's paint context, passed on every
// call and never kept.
#pragma once

#include <cstdint>

#include "math/MDL_Frame.h"

class MDL_Viewport;
class MDL_Image;
class VIEW_Font;
class VIEW_Image;
class VIEW_Texture;

class VIEW_Generic {
public:
    virtual ~VIEW_Generic() {}
    virtual void setDefaultTextureFilter(uint32_t /*mode*/) {}
    virtual void resetTextureCache() {}
    virtual void resetGlyphTextureCache() {}
    virtual void initExtensions() {}
    virtual void resetRenderingOpti() {}
    virtual void beginFrame(void* /*dc*/, uint8_t /*wireframe*/) {}
    virtual void releaseImageTexture(VIEW_Texture* /*texture*/) {}
    virtual void endFrame(void* /*dc*/) {}
    virtual bool readStencil(void* /*dc*/, int /*x*/, int /*y*/, int /*width*/, int /*height*/, VIEW_Image* /*image*/) { return true; }
    virtual bool readPixels(void* /*dc*/, int /*x*/, int /*y*/, int /*width*/, int /*height*/, VIEW_Image* /*image*/) { return true; }
    virtual bool readDepth(void* /*dc*/, int /*x*/, int /*y*/, int /*width*/, int /*height*/, VIEW_Image* /*image*/) { return true; }
    // colour: four doubles r, g, b, a.
    virtual void clear(const double* /*colour*/) {}
    virtual void drawScene(MDL_Viewport* /*viewport*/, const v2& /*position*/, const v2& /*size*/) {}
    virtual void drawMessage(const v2& /*position*/, const v2& /*size*/, const char* /*text*/, VIEW_Font* /*font*/,
                             double /*textSize*/, double /*alpha*/) {}
    virtual void drawLoadingScreen(const v2& /*position*/, const v2& /*size*/, const char* /*text*/, VIEW_Font* /*font*/,
                                   MDL_Image* /*image*/) {}
    virtual void drawStatusText(const v2& /*position*/, const v2& /*size*/, const char* /*text*/, VIEW_Font* /*font*/) {}
    virtual const char* getVersionString() { return nullptr; }
    virtual const char* getRendererString() { return nullptr; }
    virtual const char* getVendorString() { return nullptr; }
    virtual const char* getRenderPathName() { return nullptr; }
};
