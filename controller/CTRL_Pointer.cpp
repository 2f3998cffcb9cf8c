// Mapping between window pixels, viewport coordinates and the scene, and
// the grab point of the dragged object.
#include <cfloat>
#include <cmath>

#include "controller/CTRL_Generic.h"
#include "controller/CTRL_ScriptEngine.h"
#include "model/MDL_Object.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "render/VIEW_Generic.h"

void CTRL_Generic::drawingArea(double& drawW, double& drawH, v2& corner) const
{
    drawW = width;
    drawH = std::floor(width * aspect + 0.5);
    if (drawH > height && drawH > 0) {
        drawW *= height / drawH;
        drawH = height;
    }
    corner = {(width - drawW) / 2, (height - drawH) / 2};
}

void CTRL_Generic::windowToViewport(const MDL_Viewport* v, const v2& p, v2& out) const
{
    double drawW, drawH;
    v2 corner;
    drawingArea(drawW, drawH, corner);
    v2 q = {(p.x - corner.x) / drawW, (p.y - corner.y) / drawW};
    if (v)
        q = {(q.x - v->originX) / v->width, (q.y - v->originY) / v->width};
    out = q;
}

void CTRL_Generic::viewportToWindow(const v2& q, v2& out) const
{
    double drawW, drawH;
    v2 corner;
    drawingArea(drawW, drawH, corner);
    const MDL_Viewport* v = currentViewport;
    double scale = v ? v->width : 1, ox = v ? v->originX : 0, oy = v ? v->originY : 0;
    out = {(q.x * scale + ox) * drawW + corner.x, (q.y * scale + oy) * drawW + corner.y};
}

void CTRL_Generic::setViewportSize(double w, double h)
{
    width = w;
    height = h;
    if (w == lastSize[0] && h == lastSize[1])
        return;
    lastSize[0] = w;
    lastSize[1] = h;
    if (renderer)
        renderer->resetGlyphTextureCache();
    if (w != 0) {
        double r = h / w;
        if (!started)
            aspect = r;
        else if (r != aspect && !halted && engine)
            engine->aspectRatioChanged(r);
    }
}

void CTRL_Generic::viewportAt(double x, double y)
{
    for (int32_t i = viewports.count - 1; i >= 0; i--) {
        MDL_Viewport* v = viewports[i];
        if (!v->active)
            continue;
        v2 q;
        windowToViewport(v, {x, y}, q);
        if (q.x >= 0 && q.x <= 1 && q.y >= 0 && q.y <= v->height / v->width) {
            currentViewport = v;
            return;
        }
    }
    currentViewport = nullptr;
}

void CTRL_Generic::setMousePosition(double x, double y)
{
    previousMouse = mouse;
    mouse = {x, y};
    if (currentViewport) {
        v2 q;
        windowToViewport(currentViewport, mouse, q);
        mouseInViewport.x = q.x;
        mouseInViewport.y = q.y;
    }
}

void CTRL_Generic::grabPoint(v3& out)
{
    if (!grabbed) {
        out = {0, 0, 0};
        return;
    }
    MDL_Frame::localToGlobalPoint(grabbed->getGlobalFrame(), grabOffset, out);
}

void CTRL_Generic::getPickRay(const v2& p, v3& origin, v3& direction)
{
    origin = {0, 0, 0};
    direction = {0, 0, 0};
    if (!currentViewport || !currentViewport->camera)
        return;
    v2 q;
    windowToViewport(currentViewport, p, q);
    v3 farPoint = {0, 0, 0};
    currentViewport->toScene({q.x, q.y, 0}, origin);
    currentViewport->toScene({q.x, q.y, 1}, farPoint);
    direction = farPoint - origin;
}

// Picking and dragging against the scene belong to the pointer handlers;
// until they exist nothing is under the pointer and nothing moves.
void CTRL_Generic::pick()
{
    hovered = nullptr;
    mouseInViewport.z = -DBL_MAX;
}

void CTRL_Generic::moveGrabbedObject(MDL_Object*, const v3&, double) {}
