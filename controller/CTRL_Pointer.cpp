// Mapping between window pixels, viewport coordinates and the scene, the
// grab point of the dragged object, picking (overlays first, then a ray
// against the meshes), camera navigation by dragging, and the drag itself.
#include <cfloat>
#include <cmath>

#include "controller/CTRL_Generic.h"
#include "controller/CTRL_ScriptEngine.h"
#include "base/CTRL_Keys.h"
#include "model/MDL_Bone.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_Object.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_RigidBody.h"
#include "physics/MDL_Scene.h"
#include "render/VIEW_Generic.h"
#include "base/LMP_ProxyLink.h"

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

bool CTRL_Generic::canMap(const MDL_Viewport* v) const
{
    // A flat viewport or an empty drawing area maps every point to infinity.
    if (!v || !(v->width > 0) || !(v->height > 0) || !std::isfinite(v->height / v->width))
        return false;
    double drawW, drawH;
    v2 corner;
    drawingArea(drawW, drawH, corner);
    return drawW > 0 && drawH > 0;
}

bool CTRL_Generic::canProject(const MDL_Viewport* v) const
{
    if (!canMap(v) || !v->camera)
        return false;
    // A view angle of 0 or 180 degrees has no usable projection factor.
    const MDL_Camera* c = v->camera;
    const double pi = 3.141592653589793;
    return c->angle > 0 && c->angle < pi && std::isfinite(c->projectionFactor) && c->projectionFactor > 0;
}

namespace {

// A mesh that a ray can be cast against without reading outside its data:
// it has triangles and vertices, and an animated mesh has its skinned copy.
bool hasGeometry(MDL_Mesh* m)
{
    const MDL_MeshData* d = m->meshData;
    if (!d || d->triangleCount == 0 || !d->indices || d->vertexCount <= 0 || !d->positions)
        return false;
    if (m->type == OBJECT_ANIMATED_MESH && !static_cast<MDL_AnimatedMesh*>(m)->skinnedPositions)
        return false;
    return true;
}

// Barycentric weights (u, v) of point p on triangle (a, b, c): p = a + u (b
// - a) + v (c - a), solved in the least-squares sense; false for a triangle
// of no area.
bool barycentric(const v3& p, const v3& a, const v3& b, const v3& c, double& u, double& v)
{
    v3 e1 = b - a, e2 = c - a, w = p - a;
    double d11 = v3::dot(e1, e1), d12 = v3::dot(e1, e2), d22 = v3::dot(e2, e2);
    double w1 = v3::dot(w, e1), w2 = v3::dot(w, e2);
    double det = d11 * d22 - d12 * d12;
    if (!(det != 0) || !std::isfinite(det))
        return false;
    u = (d22 * w1 - d12 * w2) / det;
    v = (d11 * w2 - d12 * w1) / det;
    return true;
}

v3 vertexAt(MDL_Mesh* m, uint32_t index)
{
    const double* p = m->getVertex(int32_t(index));
    return p ? v3{p[0], p[1], p[2]} : v3{0, 0, 0};
}

} // namespace

void CTRL_Generic::pick()
{
    hovered = nullptr;
    mouseInViewport.z = -DBL_MAX;
    MDL_Scene* scene = currentScene();
    if (!scene || !canProject(currentViewport))
        return;
    const double mx = mouseInViewport.x, my = mouseInViewport.y;

    // Overlays: the one in front (highest z) wins, the first of equals.
    for (int32_t i = 0; i < scene->overlays.count; i++) {
        MDL_Object* o = scene->overlays[i];
        if (o->deleted || !(o->state & STATE_ACTIVE))
            continue;
        const MDL_Frame& f = o->getGlobalFrame();
        double a = f.basis.c[0].x, b = f.basis.c[1].x, c = f.basis.c[0].y, d = f.basis.c[1].y;
        double det = a * d - b * c;
        if (det == 0)
            continue;
        double px = mx - f.position.x, py = my - f.position.y;
        double u = (d * px - b * py) / det, v = (a * py - c * px) / det;
        if (!o->hitTest(u, v))
            continue;
        if (mouseInViewport.z < f.position.z) {
            MDL_Frame::globalToLocalPoint(f, {mx, my, 0}, grabOffset);
            hovered = o;
            mouseInViewport.z = f.position.z;
        }
    }
    if (hovered)
        return;

    // Meshes: the nearest hit along the ray from the near to the far plane,
    // measured in depth (0 near, 1 far).
    mouseInViewport.z = 1.0;
    v3 nearPoint = {0, 0, 0}, farPoint = {0, 0, 0};
    currentViewport->toScene({mx, my, 0}, nearPoint);
    currentViewport->toScene({mx, my, 1}, farPoint);
    for (int32_t i = 0; i < scene->meshes.count; i++) {
        MDL_Object* o = scene->meshes[i];
        if (o->deleted || (o->type != OBJECT_MESH && o->type != OBJECT_ANIMATED_MESH) || !(o->state & STATE_ACTIVE))
            continue;
        auto* mesh = static_cast<MDL_Mesh*>(o);
        if (!hasGeometry(mesh))
            continue;
        const MDL_Frame& f = o->getGlobalFrame();
        v3 p0, p1;
        MDL_Frame::globalToLocalPoint(f, nearPoint, p0);
        MDL_Frame::globalToLocalPoint(f, farPoint, p1);
        double t = mouseInViewport.z;
        uint32_t triangle = 0;
        if (!mesh->intersectRay(p0, p1, &t, &triangle) || !(t < mouseInViewport.z))
            continue;
        mouseInViewport.z = t;
        hovered = o;
        if (o->type == OBJECT_ANIMATED_MESH && triangle < mesh->meshData->triangleCount) {
            const uint32_t* idx = mesh->meshData->indices + 3 * size_t(triangle);
            double u = 0, v = 0;
            if (barycentric(p0 + (p1 - p0) * t, vertexAt(mesh, idx[0]), vertexAt(mesh, idx[1]),
                            vertexAt(mesh, idx[2]), u, v))
                if (MDL_Object* bone = pickBone(o, triangle, u, v))
                    hovered = bone;
        }
    }

    if (hovered) {
        v3 hit = {0, 0, 0};
        currentViewport->toScene(mouseInViewport, hit);
        MDL_Frame::globalToLocalPoint(hovered->getGlobalFrame(), hit, grabOffset);
    }
}

// Bones are scored by their skin weights on the three corners of the hit
// triangle: (1 - u - v) w0 + u w1 + v w2 for each bone of the mesh still
// there, the highest above -1 winning (the first on a tie). Bindings that
// name no bone, and bones waiting for the purge, take no part.
MDL_Object* CTRL_Generic::pickBone(MDL_Object* object, uint32_t triangle, double u, double v)
{
    auto* mesh = static_cast<MDL_AnimatedMesh*>(object);
    if (!mesh->meshData || !mesh->boneList || triangle >= mesh->meshData->triangleCount)
        return nullptr;
    const uint32_t* idx = mesh->meshData->indices + 3 * size_t(triangle);
    MDL_Object* best = nullptr;
    double bestScore = -1;
    for (int32_t b = 0; b < mesh->boneCount; b++) {
        MDL_Bone* bone = mesh->boneList[b];
        if (!bone || bone->deleted)
            continue;
        double score = (1 - u - v) * mesh->vertexWeight(b, int32_t(idx[0])) +
                       u * mesh->vertexWeight(b, int32_t(idx[1])) + v * mesh->vertexWeight(b, int32_t(idx[2]));
        if (score > bestScore) {
            bestScore = score;
            best = bone;
        }
    }
    return best;
}

void CTRL_Generic::navigate(bool shift, bool control)
{
    MDL_Viewport* v = currentViewport;
    if (!canProject(v))
        return;
    MDL_Camera* cam = v->camera;
    v2 p0, p1;
    windowToViewport(v, previousMouse, p0);
    windowToViewport(v, mouse, p1);
    const double dx = p1.x - p0.x, dy = p1.y - p0.y;
    if (!std::isfinite(dx) || !std::isfinite(dy))
        return;
    const double a = 2 * cam->angle;

    switch (v->navigationMode) {
    case NAVIGATION_FREE: {
        MDL_Frame& f = cam->editLocalFrame();
        if (shift) {
            f.position += f.basis.c[0] * (-15 * dx) + f.basis.c[1] * (15 * dy);
        } else {
            m33::rotateAxis(f.basis, 0, a * dy);
            m33::rotateAxis(f.basis, 1, a * dx);
            f.inverseDirty = 1;
        }
        break;
    }
    case NAVIGATION_MIXED:
    case NAVIGATION_GLASSBALL:
        if (shift) {
            const m33& b = cam->getLocalFrame().basis;
            v->navPosition += b.c[0] * (-10 * dx) + b.c[1] * (10 * dy);
        } else if (control && v->navigationMode == NAVIGATION_MIXED) {
            // Turn the orbit centre about the camera: the camera stays and
            // looks around.
            const MDL_Frame& g = cam->getGlobalFrame();
            v3 centre = g.position, xAxis = g.basis.c[0], yAxis = g.basis.c[1];
            v3::rotateAround(v->navPosition, centre, xAxis, a * dy);
            v3::rotateAround(v->navPosition, centre, yAxis, a * dx);
            v->navAzimuth += a * dx;
            v->navElevation -= a * dy;
        } else {
            v->navAzimuth -= a * dx;
            v->navElevation += a * dy;
        }
        v->updateNavigation();
        break;
    default: // fixed: the camera stays where the script put it
        break;
    }
}

void CTRL_Generic::moveGrabbedObject(MDL_Object* object, const v3& velocity, double h)
{
    MDL_Object* o = object;
    v3 v = velocity;
    while (o && o->type != OBJECT_RIGID_BODY) {
        if (o->type == OBJECT_BONE) {
            // Up the chain, one bone after the other, without recursion.
            v3 onward;
            if (!dragBone(o, v, h, onward))
                return;
            o = o->parent;
            v = onward;
            continue;
        }
        if (o->state & STATE_MOVABLE) {
            MDL_Frame& f = o->editGlobalFrame();
            f.position += v * h;
            LMP_iFireCallback(&o->proxy, engine, CB_MOVED);
            return;
        }
        o = o->parent;
    }
    if (o && (o->state & STATE_MOVABLE))
        dragRigidBody(o, v);
}

// A bone follows its grab point by inverse kinematics: the chain reaches
// for where the pointer wants the grab point, and whatever it could not
// cover is handed on to the parent as a velocity.
bool CTRL_Generic::dragBone(MDL_Object* object, const v3& velocity, double h, v3& onward)
{
    v3 g, after;
    grabPoint(g);
    const v3 target = g + velocity * h;
    static_cast<MDL_Bone*>(object)->movePoint(g, target, engine);
    grabPoint(after);
    if (!(object->parent && h > 0))
        return false;
    onward = (target - after) / h;
    return true;
}

// A rigid body is pushed through its speed: the grab point in the body's
// axes gets the pointer's velocity with one impulse, the body is woken, and
// CB_MOVED fires on it.
bool CTRL_Generic::dragRigidBody(MDL_Object* object, const v3& velocity)
{
    auto* body = static_cast<MDL_RigidBody*>(object);
    v3 g, local;
    grabPoint(g);
    MDL_Frame::globalToLocalPoint(body->getGlobalFrame(), g, local);
    body->still = 0;
    body->stillTimer = 0;
    body->setSpeed(local, velocity);
    LMP_iFireCallback(&body->proxy, engine, CB_MOVED);
    return true;
}
