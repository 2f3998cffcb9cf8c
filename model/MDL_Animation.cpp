#include "model/MDL_Animation.h"

#include "model/MDL_ModelsSet.h"
#include "model/MDL_Object.h"
#include "base/LMP_ProxyLink.h"

void MDL_iCatmullRom(v3& out, const v3& p0, const v3& p1, const v3& p2, const v3& p3, double u)
{
    const double u2 = u * u, u3 = u2 * u;
    const double a = -u3 + 2 * u2 - u;
    const double b = 3 * u3 - 5 * u2 + 2;
    const double c = -3 * u3 + 4 * u2 + u;
    const double d = u3 - u2;
    out = 0.5 * (a * p0 + b * p1 + c * p2 + d * p3);
}

MDL_Animation::MDL_Animation(MDL_Object* t, MDL_AnimationData* d) : target(t), data(d)
{
    if (!data) return;
    for (int32_t i = 0; i < data->keyCount; i++) endTime += data->times[i];
    MDL_ModelsSet::retainUse(data->owner);
}

MDL_Animation::~MDL_Animation()
{
    LMP_iReleaseProxy(&proxy);
    if (data) MDL_ModelsSet::releaseUse(data->owner);
}

void MDL_Animation::update(double dt)
{
    if (!target || target->deleted) return;
    const int32_t n = data ? data->keyCount : 0;
    if (n >= 2) {
        const double* t = data->times;
        int32_t i = 0;
        while (i <= n - 2 && !(t[i] <= time && time <= t[i + 1])) i++;
        if (i <= n - 2) {
            // Two keys at one time leave no span to divide: the segment
            // starts at its first key.
            const double span = t[i + 1] - t[i];
            const double u = span > 0 ? (time - t[i]) / span : 0.0;
            auto at = [n](int32_t k) { return k < 0 ? 0 : (k > n - 1 ? n - 1 : k); };
            const int32_t k0 = at(i - 1), k1 = i, k2 = i + 1, k3 = at(i + 2);
            v3 rotation, scale, location;
            MDL_iCatmullRom(rotation, data->rotations[k0], data->rotations[k1], data->rotations[k2],
                            data->rotations[k3], u);
            MDL_iCatmullRom(scale, data->scales[k0], data->scales[k1], data->scales[k2], data->scales[k3], u);
            MDL_iCatmullRom(location, data->locations[k0], data->locations[k1], data->locations[k2],
                            data->locations[k3], u);
            MDL_Frame& local = target->editLocalFrame();
            m33::fromEulerAngles(local.basis, rotation.x, rotation.y, rotation.z);
            local.basis.c[0] *= scale.x;
            local.basis.c[1] *= scale.y;
            local.basis.c[2] *= scale.z;
            local.position = location;
            local.inverseDirty = 1;
        }
    }
    time += dt * speed;
    if (time > endTime) playing = 0;
}
