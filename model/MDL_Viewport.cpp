#include "model/MDL_Viewport.h"

#include <cmath>

#include "model/MDL_Objects.h"
#include "base/LMP_ProxyLink.h"

MDL_Viewport::MDL_Viewport(double x, double y, double w, double h)
    : width(w), height(h), originX(x), originY(y)
{
}

// A script still holding the viewport keeps a proxy that now stands for
// nothing.
MDL_Viewport::~MDL_Viewport() { LMP_iReleaseProxy(&proxy); }

static double clampValue(double v, double lo, double hi)
{
    if (v < lo)
        return lo;
    return std::fmin(hi, v);
}

void MDL_Viewport::updateNavigation()
{
    if (!camera || !isOrbitMode())
        return;
    navRadius = clampValue(navRadius, radiusMin, radiusMax);
    navAzimuth = clampValue(navAzimuth, azimuthMin, azimuthMax);
    navElevation = clampValue(navElevation, elevationMin, elevationMax);

    const double halfPi = 1.5707963267948966;
    double scale = v3::length(camera->getLocalFrame().basis.c[2]);
    MDL_Frame& f = camera->editLocalFrame();
    m33::fromEulerAngles(f.basis, halfPi - navElevation, 0, navAzimuth - halfPi);
    f.position = navPosition + f.basis.c[2] * navRadius;
    for (v3& axis : f.basis.c)
        axis *= scale;
    f.inverseDirty = 1;
    camera->moved = 1;
}

void MDL_Viewport::toScene(const v3& in, v3& out)
{
    if (!camera)
        return;
    const double t = camera->projectionFactor;
    const double cs = camera->clipStart, ce = camera->clipEnd;
    const double k = height / width;
    const double X = 1 - 2 * in.x;
    const double Y = 2 * in.y - k;
    const double Z = (cs - ce) * in.z - cs;
    const double f = Z / t;
    const MDL_Frame& g = camera->getGlobalFrame();
    out = m33::apply(g.basis, {X * f, Y * f, Z}) + g.position;
}

void MDL_Viewport::fromScene(const v3& in, v3& out)
{
    if (!camera)
        return;
    const double t = camera->projectionFactor;
    const double cs = camera->clipStart, ce = camera->clipEnd;
    const double k = height / width;
    v3 q;
    MDL_Frame::globalToLocalPoint(camera->getGlobalFrame(), in, q);
    double X = 0, Y = 0;
    if (q.z != 0) {
        const double f = t / q.z;
        X = f * q.x;
        Y = f * q.y;
    }
    out.x = 0.5 - X / 2;
    out.y = (Y + k) / 2;
    out.z = (q.z + cs) / (cs - ce);
}

void MDL_Viewport::getPickRay(double x, double y, v3& origin, v3& direction)
{
    if (!camera)
        return;
    v3 nearPoint, farPoint;
    toScene({x, y, 0}, nearPoint);
    toScene({x, y, 1}, farPoint);
    origin = nearPoint;
    direction = farPoint - nearPoint;
}
