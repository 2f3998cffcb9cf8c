#include "render/VIEW_Triangulate.h"

#include <cstdlib>

// The area threshold is a single-precision constant widened to double.
static const double kEarEpsilon = (double)1e-10f;

bool VIEW_iIntArrayAppend(CTRL_Array<int32_t>& out, int32_t value)
{
    return out.append(value);
}

static double cross(const v2& a, const v2& b, const v2& p)
{
    return (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
}

bool VIEW_iSnip(const v2* points, int32_t u, int32_t v, int32_t w, int32_t n, const int32_t* order)
{
    const v2& A = points[order[u]];
    const v2& B = points[order[v]];
    const v2& C = points[order[w]];
    // A reflex or degenerate corner is no ear.
    if (cross(A, B, C) < kEarEpsilon)
        return false;
    for (int32_t p = 0; p < n; p++) {
        if (p == u || p == v || p == w)
            continue;
        const v2& P = points[order[p]];
        if (cross(B, C, P) >= 0 && cross(C, A, P) >= 0 && cross(A, B, P) >= 0)
            return false;
    }
    return true;
}

bool VIEW_iTriangulate(const v2* points, int32_t count, CTRL_Array<int32_t>& out)
{
    if (!points || count < 3)
        return false;
    double area = 0;
    for (int32_t q = 0, p = count - 1; q < count; p = q++)
        area += points[p].x * points[q].y - points[q].x * points[p].y;
    area *= 0.5;

    int32_t* order = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * (size_t)count));
    if (!order)
        return false;
    // Walk the polygon counter-clockwise whatever its winding.
    for (int32_t i = 0; i < count; i++)
        order[i] = area > 0 ? i : count - 1 - i;

    int32_t nv = count;
    int32_t attempts = 2 * nv;
    int32_t v = nv - 1;
    while (nv > 2) {
        // Each full lap without an ear costs two attempts per corner: a
        // polygon that is not simple runs out and fails.
        if (attempts-- <= 0) {
            std::free(order);
            return false;
        }
        int32_t u = v;
        if (u >= nv)
            u = 0;
        v = u + 1;
        if (v >= nv)
            v = 0;
        int32_t w = v + 1;
        if (w >= nv)
            w = 0;
        if (VIEW_iSnip(points, u, v, w, nv, order)) {
            if (!VIEW_iIntArrayAppend(out, order[u]) || !VIEW_iIntArrayAppend(out, order[v]) ||
                !VIEW_iIntArrayAppend(out, order[w])) {
                std::free(order);
                return false;
            }
            for (int32_t s = v, t = v + 1; t < nv; s++, t++)
                order[s] = order[t];
            nv--;
            attempts = 2 * nv;
        }
    }
    std::free(order);
    return true;
}
