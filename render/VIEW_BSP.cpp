#include "render/VIEW_BSP.h"

#include <cstring>

const double VIEW_BSP_EPSILON = (double)1e-5f;

namespace {

// Side of a point against a node's plane.
constexpr int SIDE_NEAR = -1;
constexpr int SIDE_ON = 0;
constexpr int SIDE_FAR = 1;

int classify(double d)
{
    if (d < -VIEW_BSP_EPSILON)
        return SIDE_NEAR;
    if (d > VIEW_BSP_EPSILON)
        return SIDE_FAR;
    return SIDE_ON;
}

// One vertex with all its attributes, for splitting.
struct Vertex {
    v3 p, n;
    double uv[2];
    double col[4];
};

Vertex vertexOf(const VIEW_BspNode& t, int i)
{
    Vertex v;
    v.p = t.positions[i];
    v.n = t.normals[i];
    v.uv[0] = t.uvs[i][0];
    v.uv[1] = t.uvs[i][1];
    std::memcpy(v.col, t.colours[i], sizeof v.col);
    return v;
}

// The point where the edge u -> w (signed distances du, dw, of opposite
// signs) meets the plane, every attribute interpolated linearly.
Vertex cut(const Vertex& u, const Vertex& w, double du, double dw)
{
    double t = du / (du - dw);
    Vertex m;
    m.p = u.p + (w.p - u.p) * t;
    m.n = u.n + (w.n - u.n) * t;
    for (int k = 0; k < 2; k++)
        m.uv[k] = u.uv[k] + (w.uv[k] - u.uv[k]) * t;
    for (int k = 0; k < 4; k++)
        m.col[k] = u.col[k] + (w.col[k] - u.col[k]) * t;
    return m;
}

VIEW_BspNode piece(const VIEW_BspNode& src, const Vertex& a, const Vertex& b, const Vertex& c)
{
    VIEW_BspNode t;
    const Vertex* v[3] = {&a, &b, &c};
    for (int i = 0; i < 3; i++) {
        t.positions[i] = v[i]->p;
        t.normals[i] = v[i]->n;
        t.uvs[i][0] = v[i]->uv[0];
        t.uvs[i][1] = v[i]->uv[1];
        std::memcpy(t.colours[i], v[i]->col, sizeof t.colours[i]);
    }
    t.planeNormal = src.planeNormal;
    t.material = src.material;
    t.nearChild = t.farChild = t.nextCoplanar = -1;
    return t;
}

// Appends a copy of the triangle as a leaf; -1 when the array cannot grow.
int32_t appendNode(VIEW_Transparency& rec, const VIEW_BspNode& t)
{
    if (!rec.nodes.push(t))
        return -1;
    VIEW_BspNode& n = rec.nodes[rec.nodes.count - 1];
    n.nearChild = n.farChild = n.nextCoplanar = -1;
    return rec.nodes.count - 1;
}

int32_t& childOf(VIEW_BspNode& n, int side)
{
    return side == SIDE_NEAR ? n.nearChild : n.farChild;
}

}   // namespace

// Clearing keeps the storage: the next frame fills the same arrays again.
void VIEW_iBspClear(VIEW_Transparency& rec)
{
    rec.nodes.reuse();
}

void VIEW_iBspClearOutput(VIEW_Transparency& rec)
{
    rec.uvs.reuse();
    rec.positions.reuse();
    rec.normals.reuse();
    rec.colours.reuse();
    rec.materials.reuse();
}

void VIEW_iBspFree(VIEW_Transparency& rec)
{
    rec.nodes.resize(0);
    rec.uvs.resize(0);
    rec.positions.resize(0);
    rec.normals.resize(0);
    rec.colours.resize(0);
    rec.materials.resize(0);
    std::vector<VIEW_Transparency::Pending>().swap(rec.pending);
    std::vector<int32_t>().swap(rec.walk);
}

bool VIEW_iBspInsert(VIEW_Transparency& rec, int32_t start, const VIEW_BspNode& triangle)
{
    if (rec.nodes.count == 0) {
        if (start != 0)
            return false;
        return appendNode(rec, triangle) >= 0;
    }
    if (start < 0 || start >= rec.nodes.count)
        return false;

    // Pieces of split triangles wait on a stack; they are pushed in reverse
    // so that they are inserted in the order a recursive descent would take.
    bool ok = true;
    rec.pending.clear();
    // The triangle itself is read where it is (most are never split), unless
    // it lies in the node array, which may move as nodes are added.
    VIEW_Transparency::Pending item;
    const VIEW_BspNode* current = &triangle;
    const bool inNodes = &triangle >= rec.nodes.begin() && &triangle < rec.nodes.end();
    if (inNodes) {
        rec.pending.push_back({start, SIDE_ON, triangle});
        current = nullptr;
    }
    for (;;) {
        int32_t at = start;
        int side = SIDE_ON;
        if (!current) {
            if (rec.pending.empty())
                break;
            item = rec.pending.back();
            rec.pending.pop_back();
            at = item.node;
            side = item.side;
        }
        const VIEW_BspNode& t = current ? *current : item.piece;
        current = nullptr;

        if (side != SIDE_ON) {
            int32_t child = childOf(rec.nodes[at], side);
            if (child < 0) {
                int32_t idx = appendNode(rec, t);
                if (idx < 0) {
                    ok = false;
                    continue;
                }
                childOf(rec.nodes[at], side) = idx;
                continue;
            }
            at = child;
        }

        for (;;) {
            const VIEW_BspNode& n = rec.nodes[at];
            double d[3];
            int s[3];
            int nearCount = 0, farCount = 0;
            for (int i = 0; i < 3; i++) {
                d[i] = v3::dot(t.positions[i] - n.positions[0], n.planeNormal);
                s[i] = classify(d[i]);
                nearCount += s[i] == SIDE_NEAR;
                farCount += s[i] == SIDE_FAR;
            }

            if (nearCount == 0 && farCount == 0) {
                // In the node's plane: joins its chain right after it.
                int32_t idx = appendNode(rec, t);
                if (idx < 0) {
                    ok = false;
                    break;
                }
                rec.nodes[idx].nextCoplanar = rec.nodes[at].nextCoplanar;
                rec.nodes[at].nextCoplanar = idx;
                break;
            }
            if (nearCount == 0 || farCount == 0) {
                int side = nearCount == 0 ? SIDE_FAR : SIDE_NEAR;
                int32_t child = childOf(rec.nodes[at], side);
                if (child >= 0) {
                    at = child;
                    continue;
                }
                int32_t idx = appendNode(rec, t);
                if (idx < 0) {
                    ok = false;
                    break;
                }
                childOf(rec.nodes[at], side) = idx;
                break;
            }

            // Straddling. Rotate the corners (keeping the winding) so that
            // corner 0 is the one on the plane, or else the lone one on its side.
            int k = 0;
            bool onePlane = nearCount + farCount == 2;
            for (int i = 0; i < 3; i++) {
                int j = (i + 1) % 3, l = (i + 2) % 3;
                if (onePlane ? s[i] == SIDE_ON : (s[j] == s[l] && s[i] != s[j])) {
                    k = i;
                    break;
                }
            }
            int i1 = (k + 1) % 3, i2 = (k + 2) % 3;
            Vertex v0 = vertexOf(t, k), v1 = vertexOf(t, i1), v2 = vertexOf(t, i2);
            VIEW_Transparency::Pending out[3];
            int pieces = 0;
            if (onePlane) {
                Vertex m = cut(v1, v2, d[i1], d[i2]);
                out[pieces++] = {at, s[i1], piece(t, v0, v1, m)};
                out[pieces++] = {at, s[i2], piece(t, v0, m, v2)};
            } else {
                Vertex m01 = cut(v0, v1, d[k], d[i1]);
                Vertex m20 = cut(v2, v0, d[i2], d[k]);
                out[pieces++] = {at, s[k], piece(t, v0, m01, m20)};
                out[pieces++] = {at, s[i1], piece(t, m01, v1, v2)};
                out[pieces++] = {at, s[i1], piece(t, m01, v2, m20)};
            }
            for (int p = pieces - 1; p >= 0; p--)
                rec.pending.push_back(out[p]);
            break;
        }
    }
    return ok;
}

namespace {

void emit(VIEW_Transparency& rec, const VIEW_BspNode& n)
{
    int32_t v = rec.positions.count;
    int32_t tri = rec.materials.count;
    if (!rec.positions.grow(v + 3) || !rec.normals.grow(v + 3) || !rec.uvs.grow(v + 3)
        || !rec.colours.grow(v + 3) || !rec.materials.grow(tri + 1)) {
        // Keep the arrays in step: drop this triangle everywhere.
        rec.positions.grow(v);
        rec.normals.grow(v);
        rec.uvs.grow(v);
        rec.colours.grow(v);
        rec.materials.grow(tri);
        return;
    }
    for (int i = 0; i < 3; i++) {
        rec.positions[v + i] = n.positions[i];
        rec.normals[v + i] = n.normals[i];
        rec.uvs[v + i] = {n.uvs[i][0], n.uvs[i][1]};
        rec.colours[v + i] = {n.colours[i][0], n.colours[i][1], n.colours[i][2], n.colours[i][3]};
    }
    rec.materials[tri] = n.material;
}

}   // namespace

void VIEW_iBspCollect(VIEW_Transparency& rec, int32_t node)
{
    if (node < 0 || node >= rec.nodes.count)
        return;
    // In-order walk, far subtree first, with an explicit stack.
    rec.walk.clear();
    int32_t at = node;
    while (at >= 0 || !rec.walk.empty()) {
        while (at >= 0) {
            rec.walk.push_back(at);
            at = rec.nodes[at].farChild;
        }
        at = rec.walk.back();
        rec.walk.pop_back();
        emit(rec, rec.nodes[at]);
        for (int32_t c = rec.nodes[at].nextCoplanar; c >= 0; c = rec.nodes[c].nextCoplanar)
            emit(rec, rec.nodes[c]);
        at = rec.nodes[at].nearChild;
    }
}
