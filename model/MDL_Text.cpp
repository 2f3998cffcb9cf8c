#include "model/MDL_Text.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "media/VIEW_Font.h"
#include "media/VIEW_Texture.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_Objects.h"
#include "base/VIEW_Triangulate.h"

static char* copyString(const char* s)
{
    if (!s)
        return nullptr;
    size_t n = std::strlen(s);
    char* c = static_cast<char*>(std::malloc(n + 1));
    if (c)
        std::memcpy(c, s, n + 1);
    return c;
}

static bool copyPoints(CTRL_Array<v2>& to, const CTRL_Array<v2>& from)
{
    if (from.count == 0 || !to.resize(from.count))
        return from.count == 0;
    std::memcpy(static_cast<void*>(to.data), from.data, sizeof(v2) * (size_t)from.count);
    return true;
}

// ---- text

MDL_Text::MDL_Text() { type = OBJECT_TEXT; }

MDL_Text::MDL_Text(const MDL_Text& source) : MDL_Object(source)
{
    std::memcpy(color, source.color, sizeof color);
    std::memcpy(backgroundColor, source.backgroundColor, sizeof backgroundColor);
    font = source.font;
    text = copyString(source.text);
    size = source.size;
    tabSize = source.tabSize;
    layoutDirty = 1;
}

MDL_Text::~MDL_Text()
{
    std::free(text);
    text = nullptr;
}

bool MDL_Text::hitTest(double x, double y)
{
    layout();
    return bounds[0] <= x && x <= bounds[2] && bounds[1] <= y && y <= bounds[3];
}

void MDL_Text::setText(const char* utf8)
{
    char* copy = copyString(utf8);
    std::free(text);
    text = copy;
    invalidateLayout();
    layout();
}

void MDL_Text::invalidateLayout()
{
    layoutDirty = 1;
    bounds[0] = bounds[1] = bounds[2] = bounds[3] = 0;
}

void MDL_Text::layout()
{
    if (!layoutDirty || !text)
        return;
    if (font)
        font->measure(text, tabSize, size, bounds);
    else
        bounds[0] = bounds[1] = bounds[2] = bounds[3] = 0;
    laidOutWidth = bounds[2];
    layoutDirty = 0;
}

// ---- polyline

double MDL_iPointSegmentDistance(const v2& p, const v2& a, const v2& b)
{
    double dx = b.x - a.x, dy = b.y - a.y;
    double L = std::sqrt(dx * dx + dy * dy);
    if (L == 0)
        return std::hypot(a.x - p.x, a.y - p.y);
    double ux = dx / L, uy = dy / L;
    double t = ux * (p.x - a.x) + uy * (p.y - a.y);
    if (t < 0)
        t = 0;
    if (t > L)
        t = L;
    return std::hypot(p.x - (a.x + t * ux), p.y - (a.y + t * uy));
}

MDL_Polyline::MDL_Polyline() { type = OBJECT_POLYLINE; }

MDL_Polyline::MDL_Polyline(const MDL_Polyline& source) : MDL_Object(source)
{
    if (source.material && source.ownMaterial) {
        material = new MDL_Material(*source.material);
        ownMaterial = 1;
    } else {
        material = source.material;
    }
    std::memcpy(fillColor, source.fillColor, sizeof fillColor);
    copyPoints(points, source.points);
    thickness = source.thickness;
    closed = source.closed;
    fillOn = source.fillOn;
    outlineOn = source.outlineOn;
    fillRebuild = 1;
    outlineRebuild = 1;
}

MDL_Polyline::~MDL_Polyline()
{
    if (ownMaterial && material)
        MDL_Material::destroy(material);
    material = nullptr;
}

CTRL_Array<int32_t>& MDL_Polyline::getTriangulation()
{
    if (fillRebuild) {
        fillTriangles.resize(0);
        if (!VIEW_iTriangulate(points.data, points.count, fillTriangles))
            fillTriangles.resize(0);
        fillRebuild = 0;
    }
    return fillTriangles;
}

void MDL_Polyline::rebuild()
{
    if (!outlineRebuild)
        return;
    // Along the stroke one texture repeat spans a length set by the
    // picture's shape; without a picture the scale is 1.
    double along = 1.0;
    if (material) {
        for (int32_t i = 0; i < material->layers.count; i++) {
            const VIEW_Texture* t = material->layers[i].texture;
            if (!t)
                continue;
            along = -0.5 / thickness;
            if (t->width != 0)
                along *= (double)t->height / (double)t->width;
            break;
        }
    }
    if (!VIEW_iBuildStroke(points.data, points.count, closed != 0, thickness, along, outlineVertices, outlineUvs)) {
        outlineVertices.resize(0);
        outlineUvs.resize(0);
    }
    outlineRebuild = 0;
}

bool MDL_Polyline::hitTest(double x, double y)
{
    const v2 p = {x, y};
    const int32_t n = points.count;
    if (outlineOn && n > 0) {
        for (int32_t k = 1; k < n; k++)
            if (MDL_iPointSegmentDistance(p, points[k - 1], points[k]) < thickness)
                return true;
        if (closed && MDL_iPointSegmentDistance(p, points[n - 1], points[0]) < thickness)
            return true;
    }
    if (fillOn) {
        CTRL_Array<int32_t>& tri = getTriangulation();
        for (int32_t t = 0; t + 2 < tri.count; t += 3) {
            int32_t i0 = tri[t], i1 = tri[t + 1], i2 = tri[t + 2];
            if (i0 < 0 || i1 < 0 || i2 < 0 || i0 >= n || i1 >= n || i2 >= n)
                continue;
            const v2 a = points[i0], b = points[i1], c = points[i2];
            auto side = [&](const v2& u, const v2& w) { return (w.x - u.x) * (p.y - u.y) - (w.y - u.y) * (p.x - u.x); };
            if (side(a, b) >= 0 && side(b, c) >= 0 && side(c, a) >= 0)
                return true;
        }
    }
    return false;
}

bool MDL_Polyline::addPoint(const v2& p)
{
    if (points.count > 0) {
        const v2& last = points[points.count - 1];
        if (last.x == p.x && last.y == p.y)
            return false;
    }
    if (!points.append(p))
        return false;
    fillRebuild = 1;
    outlineRebuild = 1;
    return true;
}

void MDL_Polyline::clearPoints()
{
    points.resize(0);
    fillRebuild = 1;
    outlineRebuild = 1;
}

void MDL_Polyline::setOwnMaterial()
{
    if (ownMaterial && material)
        return;
    material = material ? new MDL_Material(*material) : new MDL_Material();
    ownMaterial = 1;
}

double MDL_Polyline::distanceToPoint(const v2& p) const
{
    const int32_t n = points.count;
    double best = DBL_MAX;
    bool any = false;
    for (int32_t i = 0; i + 1 < n; i++) {
        best = std::fmin(best, MDL_iPointSegmentDistance(p, points[i], points[i + 1]));
        any = true;
    }
    if (closed && n >= 2) {
        best = std::fmin(best, MDL_iPointSegmentDistance(p, points[n - 1], points[0]));
        any = true;
    }
    if (any)
        return best - thickness;
    if (n >= 1)
        return std::hypot(p.x - points[0].x, p.y - points[0].y) - thickness;
    return DBL_MAX;
}

// ---- cloning

MDL_Object* MDL_iCloneOverlay(MDL_Object* source)
{
    if (!source)
        return nullptr;
    switch (source->type) {
    case OBJECT_TEXT:
        return new MDL_Text(*static_cast<MDL_Text*>(source));
    case OBJECT_POLYLINE:
        return new MDL_Polyline(*static_cast<MDL_Polyline*>(source));
    default:
        return nullptr;
    }
}
