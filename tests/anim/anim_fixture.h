// Scene files with skeletons, written by our own scene writer and read by
// the real loader, and small frame helpers shared by the animation tests.
#pragma once

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "SG_SceneWriter.h"
#include "math/MDL_Frame.h"
#include "model/MDL_ModelsSet.h"

struct SetDeleter {
    void operator()(MDL_ModelsSet* s) const { delete s; }
};
using SetPtr = std::unique_ptr<MDL_ModelsSet, SetDeleter>;

inline SetPtr loadScene(const SG_Scene& scene)
{
    return SetPtr(MDL_iLoadModelsSetFromText("test.xml", SG_iWriteScene(scene).c_str()));
}

// Column-major 4 x 4 matrix of a rotation by angle (radians) about z, then
// a translation.
inline std::vector<double> rotZ(double angle, double x, double y, double z)
{
    const double c = std::cos(angle), s = std::sin(angle);
    return {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}

inline std::string originalMatrix(const std::vector<double>& m)
{
    std::string out = "<original_matrix>";
    char buf[40];
    for (double v : m) {
        std::snprintf(buf, sizeof buf, "%.17g ", v);
        out += buf;
    }
    return out + "</original_matrix>\n";
}

// A bone object placed at m, with its rest frame at the same place.
inline SG_Object boneObject(const std::string& name, const std::vector<double>& m, const std::string& parent,
                            const std::string& more = "")
{
    return {"Bone", name, m, parent, "", "", "", originalMatrix(m) + more, {}};
}

inline double dist(const v3& a, const v3& b)
{
    return v3::length(a - b);
}

inline v3 vec(const double* d)
{
    return {d[0], d[1], d[2]};
}
