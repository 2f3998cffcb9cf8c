#include "model/MDL_Bone.h"

#include <cmath>

#include <tinyxml.h>

#include "base/CTRL_Keys.h"
#include "base/LMP_ProxyLink.h"
#include "base/MDL_XmlValues.h"

static const double MDL_DEG_TO_RAD = 0.017453292519943295;

MDL_Bone::MDL_Bone()
{
    type = OBJECT_BONE;
    restFrame.position = {0, 0, 0};
    restFrame.basis = m33::identity();
    restFrame.inverse = m33::identity();
    restFrame.inverseDirty = 1;
    state |= STATE_MOVABLE;
    enableState(STATE_MOVABLE);
}

bool MDL_Bone::load(const TiXmlElement* element)
{
    MDL_Object::load(element);
    double m[16];
    if (const TiXmlElement* om = element ? element->FirstChildElement("original_matrix") : nullptr) {
        int n = MDL_iParseNumbers(MDL_iElementText(om), m, 16);
        if (n == 16) {
            restFrame.basis.c[0] = {m[0], m[1], m[2]};
            restFrame.basis.c[1] = {m[4], m[5], m[6]};
            restFrame.basis.c[2] = {m[8], m[9], m[10]};
            restFrame.position = {m[12], m[13], m[14]};
            restFrame.inverseDirty = 1;
        }
    }
    double r[2];
    if (MDL_iGetChildNumbers(element, "limit_xrot", r, 2))
        limitXRot[0] = r[0] * MDL_DEG_TO_RAD, limitXRot[1] = r[1] * MDL_DEG_TO_RAD;
    if (MDL_iGetChildNumbers(element, "limit_yrot", r, 2))
        limitYRot[0] = r[0] * MDL_DEG_TO_RAD, limitYRot[1] = r[1] * MDL_DEG_TO_RAD;
    if (MDL_iGetChildNumbers(element, "limit_zrot", r, 2))
        limitZRot[0] = r[0] * MDL_DEG_TO_RAD, limitZRot[1] = r[1] * MDL_DEG_TO_RAD;
    return true;
}

void MDL_Bone::swapRestFrame()
{
    MDL_Frame& local = editLocalFrame();
    MDL_Frame rest = restFrame;
    restFrame = local;
    local = rest;
    local.inverseDirty = 1;
}

void MDL_Bone::reset()
{
    MDL_Frame& local = editLocalFrame();
    local.position = restFrame.position;
    local.basis = restFrame.basis;
    local.inverseDirty = 1;
}

static bool MDL_iUnlimited(const double range[2])
{
    return range[0] == -DBL_MAX && range[1] == DBL_MAX;
}

static bool MDL_iLocked(const double range[2])
{
    return range[0] == range[1];
}

void MDL_Bone::applyLimits()
{
    const double* ranges[3] = {limitXRot, limitYRot, limitZRot};
    if (MDL_iUnlimited(ranges[0]) && MDL_iUnlimited(ranges[1]) && MDL_iUnlimited(ranges[2])) return;
    const MDL_Frame& local = getLocalFrame();
    MDL_Frame::validateInverse(restFrame);
    // Rotation relative to the rest pose.
    m33 Q;
    m33::multiply(Q, restFrame.inverse, local.basis);
    bool corrected = false;
    for (int sweep = 0; sweep < 9; sweep++) {
        bool any = false;
        for (int k = 0; k < 3; k++) {
            if (MDL_iUnlimited(ranges[k])) continue;
            // Column k is turned onto its own axis; the angle is read from
            // the next column (cyclically) turned the same way.
            const v3& a = Q.c[k];
            v3 b = Q.c[(k + 1) % 3];
            const v3 unit[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
            v3 axis;
            v3::cross(axis, a, unit[k]);
            double c = (&a.x)[k];
            c = c < -1 ? -1 : (c > 1 ? 1 : c);
            v3::rotateByCosSin(b, axis, c, std::sqrt(1 - c * c));
            double angle;
            if (k == 0) angle = std::atan2(b.z, b.y);
            else if (k == 1) angle = std::atan2(b.x, b.z);
            else angle = std::atan2(b.y, b.x);
            double limit;
            if (angle < ranges[k][0] - limitTolerance) limit = ranges[k][0];
            else if (angle > ranges[k][1] + limitTolerance) limit = ranges[k][1];
            else continue;
            m33::rotateAxis(Q, k, limit - angle);
            any = corrected = true;
        }
        if (!any) break;
    }
    if (!corrected) return;
    MDL_Frame& edit = editLocalFrame();
    m33::multiply(edit.basis, restFrame.basis, Q);
    edit.inverseDirty = 1;
}

void MDL_Bone::movePoint(const v3& P, const v3& T, CTRL_ScriptEngine* engine)
{
    if (P.x == T.x && P.y == T.y && P.z == T.z) return;
    v3 p = P;
    for (int pass = 0; pass < 6; pass++) {
        bool changed = false;
        for (MDL_Object* o = this; o && o->type == OBJECT_BONE; o = o->parent) {
            MDL_Bone* bone = static_cast<MDL_Bone*>(o);
            if (!(bone->state & STATE_MOVABLE)) continue;
            const MDL_Frame& g = bone->getGlobalFrame();
            MDL_Frame::validateInverse(g);
            const v3 q = m33::apply(g.inverse, p - g.position);
            v3 t = m33::apply(g.inverse, T - g.position);
            // With two axes locked the turn happens about the free one: both
            // vectors are projected onto the plane it is normal to.
            v3 qt = q;
            const bool lx = MDL_iLocked(bone->limitXRot), ly = MDL_iLocked(bone->limitYRot),
                       lz = MDL_iLocked(bone->limitZRot);
            if (lx && ly) qt.z = t.z = 0;
            if (lx && lz) qt.y = t.y = 0;
            if (ly && lz) qt.x = t.x = 0;
            v3 a;
            v3::cross(a, qt, t);
            if (a.x == 0 && a.y == 0 && a.z == 0) continue;
            const double c = v3::dot(qt, t) / std::sqrt(v3::dot(qt, qt) * v3::dot(t, t));
            if (!(c > -1 && c < 1)) continue;

            const MDL_Frame saved = bone->getLocalFrame();
            MDL_Frame& local = bone->editLocalFrame();
            const v3 axis = m33::apply(local.basis, a);
            MDL_Frame::rotateByCosSin(local, axis, c, std::sqrt(1 - c * c));
            bone->applyLimits();
            LMP_iFireCallback(&bone->proxy, engine, CB_MOVED);

            // The point the chain carries, where this turn took it (the
            // whole point, not its projection).
            const MDL_Frame& moved = bone->getGlobalFrame();
            const v3 p2 = m33::apply(moved.basis, q) + moved.position;
            if (v3::dot(p2 - T, p2 - T) < v3::dot(p - T, p - T)) {
                p = p2;
                changed = true;
            } else {
                MDL_Frame& undo = bone->editLocalFrame();
                undo = saved;
            }
        }
        if (!changed) break;
    }
}
