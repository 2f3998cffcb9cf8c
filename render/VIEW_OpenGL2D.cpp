// The 2-D half of drawing: the camera set-ups, materials, the overlay pass
// (texts, images, polylines) and the screen texts of the loading, message
// and status screens.
#include <GL/glew.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>

#include "media/VIEW_Font.h"
#include "media/VIEW_Texture.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Text.h"
#include "model/MDL_Viewport.h"
#include "render/VIEW_OpenGL.h"
#include "render/VIEW_OpenGL2D.h"

// ---- geometry

void VIEW_iPerspective(m44& out, double c, double nearClip, double farClip, double width, double height)
{
    out = {};
    out.at(0, 0) = c;
    out.at(1, 1) = height != 0 ? c * width / height : 0;
    out.at(2, 2) = (nearClip + farClip) / (nearClip - farClip);
    out.at(3, 2) = -1;
    out.at(2, 3) = 2 * farClip * nearClip / (nearClip - farClip);
}

void VIEW_iOverlayProjection(m44& out, double width, double height)
{
    out = {};
    out.at(0, 0) = width != 0 ? 2 / width : 0;
    out.at(1, 1) = height != 0 ? -2 / height : 0;
    out.at(0, 3) = -1;
    out.at(1, 3) = 1;
    out.at(3, 3) = 1;
}

static double roundPixel(double v) { return std::floor(v + 0.5); }

const v2 VIEW_imageQuadUvs[6] = {{0, 1}, {1, 1}, {1, 0}, {0, 1}, {1, 0}, {0, 0}};

void VIEW_iImageQuad(const MDL_Frame& g, double width, double aspect, v2 out[6])
{
    const v2 p0 = {roundPixel(g.position.x * width), roundPixel(g.position.y * width)};
    const v2 a = {g.basis.c[0].x * width, g.basis.c[0].y * width};
    const v2 b = {g.basis.c[1].x * width * aspect, g.basis.c[1].y * width * aspect};
    const v2 pa = {p0.x + a.x, p0.y + a.y};
    const v2 pab = {pa.x + b.x, pa.y + b.y};
    const v2 pb = {p0.x + b.x, p0.y + b.y};
    out[0] = p0;
    out[1] = pa;
    out[2] = pab;
    out[3] = p0;
    out[4] = pab;
    out[5] = pb;
}

void VIEW_iWalkText(const VIEW_TextWalk& w, const char* text)
{
    if (!text || !w.lookup)
        return;
    const double len = std::hypot(w.X.x, w.X.y);
    const double k = len > 0 ? 1 / len : 0;
    const v2 Xk = {w.X.x * k, w.X.y * k};
    const v2 Yk = {w.Y.x * k, w.Y.y * k};
    FT_Face face = w.face;
    const bool kerning = face && FT_HAS_KERNING(face);
    // One line down in pixels; a face that claims no units per EM has none.
    double lineStep = 0;
    if (face && face->units_per_EM > 0)
        lineStep = w.viewportWidth * w.size * 64.0 * face->height / (72.0 * face->units_per_EM);
    v2 lineStart = w.origin;
    v2 pen = w.origin;
    int line = 0;
    uint32_t previous = 0;
    double tabStep = -1;
    const char* p = text;
    for (;;) {
        int32_t c = VIEW_iDecodeUtf8(&p);
        if (c == 0)
            break;
        if (c < 0)
            continue;
        if (c == 10) {
            line++;
            lineStart = {w.origin.x + w.Y.x * line * lineStep, w.origin.y + w.Y.y * line * lineStep};
            pen = lineStart;
            previous = 0;
            continue;
        }
        if (c == 9) {
            if (tabStep < 0) {
                const VIEW_GlyphTexture* space = w.lookup(w.context, 32);
                tabStep = space ? space->advance * w.scale * w.tabSize : 0;
            }
            if (tabStep > 0) {
                double d = (pen.x - lineStart.x) * Xk.x + (pen.y - lineStart.y) * Xk.y;
                double to = (std::floor(d / tabStep) + 1) * tabStep;
                pen = {lineStart.x + Xk.x * to, lineStart.y + Xk.y * to};
            }
            previous = 0;
            continue;
        }
        const VIEW_GlyphTexture* g = w.lookup(w.context, (uint32_t)c);
        if (!g)
            continue;
        if (previous && kerning) {
            FT_Vector kv = {0, 0};
            if (FT_Get_Kerning(face, previous, g->glyphIndex, FT_KERNING_DEFAULT, &kv) == 0) {
                double kx = kv.x / 64.0 * w.scale, ky = kv.y / 64.0 * w.scale;
                pen.x += Xk.x * kx + Yk.x * ky;
                pen.y += Xk.y * kx + Yk.y * ky;
            }
        }
        if (g->width > 0 && g->rows > 0 && w.place) {
            VIEW_PlacedGlyph q;
            const double left = g->left * w.scale, top = g->top * w.scale;
            const double width = g->width * w.scale, rows = g->rows * w.scale;
            v2 c0 = {pen.x + Xk.x * left - Yk.x * top, pen.y + Xk.y * left - Yk.y * top};
            c0 = {roundPixel(c0.x), roundPixel(c0.y)};
            const v2 across = {Xk.x * width, Xk.y * width};
            const v2 down = {Yk.x * rows, Yk.y * rows};
            q.corner[0] = c0;
            q.corner[1] = {c0.x + across.x, c0.y + across.y};
            q.corner[2] = {c0.x + across.x + down.x, c0.y + across.y + down.y};
            q.corner[3] = {c0.x + down.x, c0.y + down.y};
            q.glyph = g;
            w.place(w.context, q);
        }
        pen.x += Xk.x * g->advance * w.scale;
        pen.y += Xk.y * g->advance * w.scale;
        previous = g->glyphIndex;
    }
}

// ---- camera and materials

void VIEW_OpenGL::setupCamera(MDL_Camera* camera, const v2& position, const v2& size)
{
    const GLint x = (GLint)position.x, y = (GLint)position.y;
    const double w = std::floor(size.x + 0.5), h = std::floor(size.y + 0.5);
    glViewport(x, y, (GLsizei)w, (GLsizei)h);
    glScissor(x, y, (GLsizei)w, (GLsizei)h);
    viewportWidth = w;
    viewportHeight = h;
    if (camera) {
        VIEW_iPerspective(projection, camera->projectionFactor, camera->clipStart, camera->clipEnd, w, h);
        m44 frame;
        m44::fromFrame(frame, camera->getGlobalFrame());
        m44::inverse(modelView, frame);
    } else {
        VIEW_iOverlayProjection(projection, w, h);
        modelView = m44::identity();
    }
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(modelView.m);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixd(projection.m);
    glMatrixMode(GL_MODELVIEW);
    m44::multiply(viewProjection, projection, modelView);
}

static void setColour(GLenum face, GLenum what, const double* c)
{
    const GLfloat f[4] = {(GLfloat)c[0], (GLfloat)c[1], (GLfloat)c[2], (GLfloat)c[3]};
    glMaterialfv(face, what, f);
}

bool VIEW_OpenGL::applyMaterial(MDL_Material* material, int32_t layerIndex, bool flat, bool forceBlend)
{
    bool blend = false;
    bool textured = false;
    static const double white[4] = {1, 1, 1, 1};
    if (!material) {
        glDisable(GL_ALPHA_TEST);
        glMatrixMode(GL_TEXTURE);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        if (flat) {
            glDisable(GL_LIGHTING);
            glColor4d(1, 1, 1, 1);
        } else {
            static const double ambient[4] = {0.5, 0.5, 0.5, 1};
            glEnable(GL_LIGHTING);
            setColour(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
            setColour(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
            setColour(GL_FRONT_AND_BACK, GL_SPECULAR, white);
            glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 50.0f);
        }
    } else {
        const MDL_TextureLayer* layer =
            layerIndex >= 0 && layerIndex < material->layers.count ? &material->layers[layerIndex] : nullptr;
        glMatrixMode(GL_TEXTURE);
        glLoadIdentity();
        if (layer) {
            VIEW_ImageTexture* e = layer->texture ? bindTexture(layer->texture) : nullptr;
            if (e) {
                textured = true;
                if (flat) {
                    // Map the unit square onto the part of the texture that
                    // holds the picture.
                    glTranslated(e->s0, e->t0, 0);
                    glScaled(e->s1 - e->s0, e->t1 - e->t0, 1);
                }
                m44 uv;
                m44::fromFrame(uv, layer->uvTransform);
                glMultMatrixd(uv.m);
                blend = layer->texture->transparent && !layer->texture->binaryAlpha;
                if (layer->texture->binaryAlpha)
                    glEnable(GL_ALPHA_TEST);
                else
                    glDisable(GL_ALPHA_TEST);
            } else {
                glDisable(GL_ALPHA_TEST);
            }
        } else {
            glDisable(GL_ALPHA_TEST);
            blend = material->diffuse[3] < 1;
        }
        glMatrixMode(GL_MODELVIEW);
        double colour[4];
        for (int i = 0; i < 4; i++)
            colour[i] = material->diffuse[i] * (layer ? layer->color[i] : 1.0);
        if (material->shadeless || flat) {
            glDisable(GL_LIGHTING);
            glColor4dv(colour);
        } else {
            glEnable(GL_LIGHTING);
            setColour(GL_FRONT_AND_BACK, GL_DIFFUSE, colour);
            setColour(GL_FRONT_AND_BACK, GL_AMBIENT, material->ambient);
            setColour(GL_FRONT_AND_BACK, GL_SPECULAR, material->specular);
            glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS,
                        (GLfloat)std::min(material->shininess * (double)1.2f, 128.0));
        }
        if (colour[3] < 1)
            blend = true;
    }
    if (blend || forceBlend)
        glEnable(GL_BLEND);
    else
        glDisable(GL_BLEND);
    if (textured)
        glEnable(GL_TEXTURE_2D);
    else
        glDisable(GL_TEXTURE_2D);
    return textured;
}

void VIEW_OpenGL::begin2D(const v2& position, const v2& size)
{
    setupCamera(nullptr, position, size);
    glDepthMask(GL_FALSE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
}

// ---- overlays

void VIEW_OpenGL::drawOverlays(CTRL_Array<MDL_Object*>& list, const v2& position, const v2& size)
{
    // Ascending global z: a higher overlay lies on top. A stable insertion
    // sort in place: the list is in order from the frame before, so this is
    // one pass, and it needs no scratch storage.
    for (int32_t i = 1; i < list.count; i++) {
        MDL_Object* o = list[i];
        const double z = o->getGlobalFrame().position.z;
        int32_t j = i;
        while (j > 0 && z < list[j - 1]->getGlobalFrame().position.z) {
            list[j] = list[j - 1];
            j--;
        }
        list[j] = o;
    }
    begin2D(position, size);
    for (int32_t i = 0; i < list.count; i++) {
        MDL_Object* o = list[i];
        if (!o || o->deleted || !(o->state & STATE_VISIBLE))
            continue;
        switch (o->type) {
        case OBJECT_TEXT: drawText(static_cast<MDL_Text*>(o)); break;
        case OBJECT_IMAGE: drawImage(static_cast<MDL_Image*>(o)); break;
        case OBJECT_POLYLINE: drawPolyline(static_cast<MDL_Polyline*>(o)); break;
        default: break;
        }
    }
}

void VIEW_OpenGL::drawImage(MDL_Image* image)
{
    if (!image)
        return;
    v2 quad[6];
    VIEW_iImageQuad(image->getGlobalFrame(), viewportWidth, image->getAspectRatio(), quad);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(2, GL_DOUBLE, 0, quad);
    glTexCoordPointer(2, GL_DOUBLE, 0, VIEW_imageQuadUvs);
    MDL_Material* m = image->material;
    int32_t layers = m && m->layers.count > 0 ? m->layers.count : 1;
    for (int32_t l = 0; l < layers; l++) {
        if (applyMaterial(m, l, true, false))
            glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        else
            glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glDrawArrays(GL_TRIANGLES, 0, 6);
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
}

void VIEW_OpenGL::drawPolyline(MDL_Polyline* line)
{
    if (!line || line->points.count == 0)
        return;
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glScaled(viewportWidth, viewportWidth, 1);
    m44 frame;
    m44::fromFrame(frame, line->getGlobalFrame());
    glMultMatrixd(frame.m);
    glEnableClientState(GL_VERTEX_ARRAY);
    if (line->fillOn) {
        CTRL_Array<int32_t>& tri = line->getTriangulation();
        if (tri.count > 0) {
            glColor4dv(line->fillColor);
            glDisable(GL_TEXTURE_2D);
            glDisable(GL_LIGHTING);
            if (line->fillColor[3] < 1)
                glEnable(GL_BLEND);
            else
                glDisable(GL_BLEND);
            glDisableClientState(GL_TEXTURE_COORD_ARRAY);
            glVertexPointer(2, GL_DOUBLE, 0, line->points.data);
            glDrawElements(GL_TRIANGLES, tri.count, GL_UNSIGNED_INT, tri.data);
        }
    }
    if (line->outlineOn) {
        line->rebuild();
        if (line->outlineVertices.count > 0) {
            glVertexPointer(2, GL_DOUBLE, 0, line->outlineVertices.data);
            glTexCoordPointer(2, GL_DOUBLE, 0, line->outlineUvs.data);
            MDL_Material* m = line->material;
            int32_t layers = m && m->layers.count > 0 ? m->layers.count : 1;
            for (int32_t l = 0; l < layers; l++) {
                if (applyMaterial(m, l, true, false))
                    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
                else
                    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
                glDrawArrays(GL_TRIANGLES, 0, line->outlineVertices.count);
            }
            glDrawArrays(GL_TRIANGLES, 0, line->outlineVertices.count);
        }
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

namespace {

struct TextContext {
    VIEW_OpenGL* gl;
    VIEW_Font* font;
    bool failed;
};

const VIEW_GlyphTexture* lookupGlyph(void* context, uint32_t code)
{
    TextContext* t = static_cast<TextContext*>(context);
    return t->gl->findGlyph(t->font, code);
}

// Appends the glyph's two triangles to the text's vertices; a glyph on
// another texture than the one before starts a new run.
void placeGlyph(void* context, const VIEW_PlacedGlyph& q)
{
    TextContext* t = static_cast<TextContext*>(context);
    const VIEW_GlyphTexture* g = q.glyph;
    if (!g->glName || t->failed)
        return;
    CTRL_Array<float>& v = t->gl->textVertices;
    CTRL_Array<VIEW_TextRun>& runs = t->gl->textRuns;
    const int32_t first = v.count / 4;
    if (!v.grow(v.count + 24)) {
        t->failed = true;
        return;
    }
    const double s0 = g->s0, t0 = g->t0, s1 = g->s0 + g->sExtent, t1 = g->t0 + g->tExtent;
    const v2* c = q.corner;
    const double corners[6][4] = {{c[0].x, c[0].y, s0, t0}, {c[1].x, c[1].y, s1, t0}, {c[2].x, c[2].y, s1, t1},
                                  {c[0].x, c[0].y, s0, t0}, {c[2].x, c[2].y, s1, t1}, {c[3].x, c[3].y, s0, t1}};
    float* out = v.data + first * 4;
    for (int k = 0; k < 6; k++)
        for (int e = 0; e < 4; e++)
            out[4 * k + e] = (float)corners[k][e];
    if (runs.count > 0 && runs[runs.count - 1].glName == g->glName) {
        runs[runs.count - 1].count += 6;
    } else if (!runs.push({g->glName, first, 6})) {
        t->failed = true;
    }
}

}  // namespace

void VIEW_OpenGL::drawText(MDL_Text* text)
{
    if (!text)
        return;
    const MDL_Frame& g = text->getGlobalFrame();
    const double w = viewportWidth;
    const v2 X = {g.basis.c[0].x, g.basis.c[0].y};
    const v2 Y = {g.basis.c[1].x, g.basis.c[1].y};
    const v2 o = {g.position.x * w, g.position.y * w};
    glEnableClientState(GL_VERTEX_ARRAY);
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glDisable(GL_LIGHTING);

    if (text->backgroundColor[3] > 0) {
        text->layout();
        const double* b = text->bounds;
        auto at = [&](double a, double c) { return v2{o.x + X.x * a * w + Y.x * c * w, o.y + X.y * a * w + Y.y * c * w}; };
        const v2 box[6] = {at(b[0], b[1]), at(b[2], b[1]), at(b[2], b[3]), at(b[0], b[1]), at(b[2], b[3]), at(b[0], b[3])};
        glDisable(GL_TEXTURE_2D);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glColor4dv(text->backgroundColor);
        if (text->backgroundColor[3] == 1)
            glDisable(GL_BLEND);
        else
            glEnable(GL_BLEND);
        glVertexPointer(2, GL_DOUBLE, 0, box);
        glDrawArrays(GL_TRIANGLES, 0, 6);
    }
    if (!text->font || !text->font->face || !text->text || !(text->size > 0))
        return;
    // Glyphs are rasterised at most at the size the view can show; a larger
    // text draws them scaled.
    double s = w * text->size * std::hypot(X.x, X.y);
    double scale = 1.0;
    const double cap = glyphSizeCap();
    if (cap > 0 && s > cap) {
        scale = s / cap;
        s = cap;
    }
    text->font->setScreenSize(s);

    // The glyphs are placed first (making any missing glyph textures), then
    // drawn with one bind and one draw call per run of glyphs sharing a
    // texture: one for a text whose glyphs all sit in one atlas page. The
    // vertex storage keeps its size from text to text.
    textVertices.reuse();
    textRuns.reuse();
    TextContext ctx;
    ctx.gl = this;
    ctx.font = text->font;
    ctx.failed = false;
    VIEW_TextWalk walk;
    walk.origin = o;
    walk.X = X;
    walk.Y = Y;
    walk.viewportWidth = w;
    walk.size = text->size;
    walk.scale = scale;
    walk.tabSize = text->tabSize;
    walk.face = text->font->face;
    walk.lookup = &lookupGlyph;
    walk.place = &placeGlyph;
    walk.context = &ctx;
    VIEW_iWalkText(walk, text->text);
    if (textRuns.count == 0)
        return;

    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glColor4dv(text->color);
    glVertexPointer(2, GL_FLOAT, 4 * sizeof(float), textVertices.data);
    glTexCoordPointer(2, GL_FLOAT, 4 * sizeof(float), textVertices.data + 2);
    for (const VIEW_TextRun& r : textRuns) {
        glBindTexture(GL_TEXTURE_2D, r.glName);
        glDrawArrays(GL_TRIANGLES, r.first, r.count);
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
}

// ---- screen texts

// Draws a string through a temporary text object at an overlay position.
static void drawScreenText(VIEW_OpenGL* gl, double x, double y, const char* string, VIEW_Font* font, double size,
                           const double colour[4])
{
    MDL_Text t;
    t.editGlobalFrame().position = {x, y, 0};
    t.font = font;
    t.size = size;
    for (int i = 0; i < 4; i++)
        t.color[i] = colour[i];
    t.text = const_cast<char*>(string);
    t.layoutDirty = 0;  // no background: nothing needs measuring
    gl->drawText(&t);
    t.text = nullptr;   // borrowed
}

void VIEW_OpenGL::drawMessage(const v2& position, const v2& size, const char* text, VIEW_Font* font, double textSize,
                              double alpha)
{
    begin2D(position, size);
    const double px = viewportWidth > 0 ? 1.0 / viewportWidth : 0;
    const double x = (double)0.01f, y = (double)0.03f;
    const double black[4] = {0, 0, 0, alpha}, white[4] = {1, 1, 1, alpha};
    drawScreenText(this, x, y, text, font, textSize, black);
    drawScreenText(this, x - px, y - px, text, font, textSize, white);
}

void VIEW_OpenGL::drawLoadingScreen(const v2& position, const v2& size, const char* text, VIEW_Font* font,
                                    MDL_Image* image)
{
    begin2D(position, size);
    const double green[4] = {(double)0.58f, (double)0.784f, (double)0.239f, 1};
    drawScreenText(this, (double)0.4f, (double)0.26f, text, font, (double)0.02f, green);
    if (image)
        drawImage(image);
}

void VIEW_OpenGL::drawStatusText(const v2& position, const v2& size, const char* text, VIEW_Font* font)
{
    begin2D(position, size);
    const double black[4] = {0, 0, 0, 1};
    drawScreenText(this, (double)0.01f, (double)0.03f, text, font, (double)0.023f, black);
}
