#include "base/VIEW_Triangulate.h"

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

#include <cmath>

namespace {

struct Segment {
    v2 a, b;
    v2 d, n;       // unit direction and left normal
    double len;
    double s0;     // distance along the stroke at a
    v2 aL, aR, bL, bR;
};

v2 add(v2 p, v2 q, double s) { return {p.x + q.x * s, p.y + q.y * s}; }
double dot2(v2 p, v2 q) { return p.x * q.x + p.y * q.y; }

struct Builder {
    CTRL_Array<v2>& verts;
    CTRL_Array<v2>& uvs;
    bool ok = true;

    void vertex(v2 p, v2 uv)
    {
        ok = ok && verts.append(p) && uvs.append(uv);
    }
    void triangle(v2 p0, v2 t0, v2 p1, v2 t1, v2 p2, v2 t2)
    {
        vertex(p0, t0);
        vertex(p1, t1);
        vertex(p2, t2);
    }
};

// A fan around centre from direction `from` to direction `to` (unit vectors,
// the turn taken the short way) in steps of at most 45 degrees.
void roundFan(Builder& b, v2 centre, v2 from, v2 to, double r, v2 n, double along, double alongScale)
{
    double a0 = std::atan2(from.y, from.x);
    double turn = std::atan2(from.x * to.y - from.y * to.x, dot2(from, to));
    int steps = (int)std::ceil(std::fabs(turn) / (M_PI / 4) - 1e-9);
    if (steps < 1)
        steps = 1;
    auto uvOf = [&](v2 dir) {
        // Across: 0.5 at the centre line, 1 at the left edge, 0 at the right.
        return v2{along * alongScale, 0.5 + 0.5 * dot2(dir, n)};
    };
    v2 prevDir = from;
    for (int i = 1; i <= steps; i++) {
        double a = a0 + turn * i / steps;
        v2 dir = {std::cos(a), std::sin(a)};
        b.triangle(centre, {along * alongScale, 0.5}, add(centre, prevDir, r), uvOf(prevDir), add(centre, dir, r),
                   uvOf(dir));
        prevDir = dir;
    }
}

}  // namespace

bool VIEW_iBuildStroke(const v2* points, int32_t count, bool closed, double halfWidth, double alongScale,
                       CTRL_Array<v2>& vertices, CTRL_Array<v2>& uvs)
{
    vertices.resize(0);
    uvs.resize(0);
    if (!points || count < 2 || !(halfWidth > 0))
        return true;
    const int32_t nseg = closed ? count : count - 1;
    Segment* segs = static_cast<Segment*>(std::malloc(sizeof(Segment) * (size_t)nseg));
    if (!segs)
        return false;
    // Zero-length segments carry no direction: they are dropped.
    int32_t m = 0;
    double along = 0;
    for (int32_t i = 0; i < nseg; i++) {
        v2 a = points[i], b = points[(i + 1) % count];
        double dx = b.x - a.x, dy = b.y - a.y;
        double len = std::sqrt(dx * dx + dy * dy);
        if (!(len > 0))
            continue;
        Segment& s = segs[m++];
        s.a = a;
        s.b = b;
        s.len = len;
        s.d = {dx / len, dy / len};
        s.n = {-s.d.y, s.d.x};
        s.s0 = along;
        along += len;
        s.aL = add(a, s.n, halfWidth);
        s.aR = add(a, s.n, -halfWidth);
        s.bL = add(b, s.n, halfWidth);
        s.bR = add(b, s.n, -halfWidth);
    }
    Builder out{vertices, uvs};
    if (m == 0) {
        std::free(segs);
        return true;
    }
    // A closed line with fewer than three points has no real corner: it is
    // capped like an open one.
    const bool wrap = closed && count >= 3;
    const int32_t joints = wrap ? m : m - 1;
    struct Wedge {
        v2 centre, from, to, n;
        double along;
        bool mitered;
        v2 inner, outer1, outer2;
    };
    Wedge* wedges = static_cast<Wedge*>(std::malloc(sizeof(Wedge) * (size_t)(joints > 0 ? joints : 1)));
    if (!wedges) {
        std::free(segs);
        return false;
    }
    int32_t nw = 0;
    for (int32_t j = 0; j < joints; j++) {
        Segment& s1 = segs[j];
        Segment& s2 = segs[(j + 1) % m];
        double c = s1.d.x * s2.d.y - s1.d.y * s2.d.x;
        v2 p = s1.b;
        if (std::fabs(c) < 0.2) {
            // Nearly straight: the bands meet as they are. A near reversal
            // still needs its outer end rounded.
            if (dot2(s1.d, s2.d) > 0)
                continue;
            v2 n1 = c > 0 ? v2{-s1.n.x, -s1.n.y} : s1.n;
            v2 n2 = c > 0 ? v2{-s2.n.x, -s2.n.y} : s2.n;
            wedges[nw++] = {p, n1, n2, s1.n, s1.s0 + s1.len, false, p, p, p};
            continue;
        }
        v2 diff = {s2.d.x - s1.d.x, s2.d.y - s1.d.y};
        v2 left = add(p, diff, halfWidth / c);  // where the two left offset lines meet
        v2 inner = c > 0 ? left : v2{2 * p.x - left.x, 2 * p.y - left.y};
        // The miter point is used only while it stays within both segments.
        v2 off = {inner.x - p.x, inner.y - p.y};
        bool fits = -dot2(off, s1.d) <= s1.len && dot2(off, s2.d) <= s2.len;
        if (fits) {
            if (c > 0) {
                s1.bL = inner;
                s2.aL = inner;
            } else {
                s1.bR = inner;
                s2.aR = inner;
            }
        }
        // Outer side: a rounded wedge from the one band's edge to the other's.
        v2 n1 = c > 0 ? v2{-s1.n.x, -s1.n.y} : s1.n;
        v2 n2 = c > 0 ? v2{-s2.n.x, -s2.n.y} : s2.n;
        wedges[nw++] = {p, n1, n2, s1.n, s1.s0 + s1.len, fits, inner, add(p, n1, halfWidth), add(p, n2, halfWidth)};
    }
    for (int32_t i = 0; i < m; i++) {
        const Segment& s = segs[i];
        v2 ta = {s.s0 * alongScale, 0}, tb = {(s.s0 + s.len) * alongScale, 0};
        v2 taL = {ta.x, 1}, tbL = {tb.x, 1};
        out.triangle(s.aR, ta, s.bR, tb, s.bL, tbL);
        out.triangle(s.aR, ta, s.bL, tbL, s.aL, taL);
    }
    for (int32_t i = 0; i < nw; i++) {
        // The pulled-in inner corners leave the two triangles between the
        // miter point, the joint and the outer band edges to fill.
        const Wedge& w = wedges[i];
        if (w.mitered) {
            double u = w.along * alongScale;
            v2 tin = {u, 0.5 + 0.5 * dot2({w.inner.x - w.centre.x, w.inner.y - w.centre.y}, w.n) / halfWidth};
            v2 to1 = {u, 0.5 + 0.5 * dot2(w.from, w.n)}, to2 = {u, 0.5 + 0.5 * dot2(w.to, w.n)};
            out.triangle(w.inner, tin, w.outer1, to1, w.centre, {u, 0.5});
            out.triangle(w.inner, tin, w.centre, {u, 0.5}, w.outer2, to2);
        }
        roundFan(out, wedges[i].centre, wedges[i].from, wedges[i].to, halfWidth, wedges[i].n, wedges[i].along,
                 alongScale);
    }
    if (!wrap) {
        const Segment& first = segs[0];
        // There and back (two closed points) ends where the first segment does.
        const Segment& last = closed ? segs[0] : segs[m - 1];
        // Half circles from the left edge round the back to the right edge.
        v2 back = {-first.d.x, -first.d.y};
        roundFan(out, first.a, first.n, back, halfWidth, first.n, 0, alongScale);
        roundFan(out, first.a, back, {-first.n.x, -first.n.y}, halfWidth, first.n, 0, alongScale);
        double end = last.s0 + last.len;
        roundFan(out, last.b, {-last.n.x, -last.n.y}, last.d, halfWidth, last.n, end, alongScale);
        roundFan(out, last.b, last.d, last.n, halfWidth, last.n, end, alongScale);
    }
    std::free(wedges);
    std::free(segs);
    return out.ok;
}
