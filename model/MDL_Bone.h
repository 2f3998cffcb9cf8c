// Skeleton bones: objects with a rest frame and rotation limits. Animated
// meshes follow them.
#pragma once

#include <cfloat>

#include "math/MDL_Frame.h"
#include "model/MDL_Object.h"

class MDL_Bone : public MDL_Object {
public:
    MDL_Bone();
    MDL_Bone(const MDL_Bone& source) = default;

    // Base reading, then "original_matrix" (the rest frame) and the three
    // rotation limits (degrees in the file, radians here).
    bool load(const TiXmlElement* element) override;
    // Exchanges the local frame and the rest frame; descendants follow.
    void swapRestFrame();

    MDL_Frame restFrame;
    double limitXRot[2] = {-DBL_MAX, DBL_MAX};
    double limitYRot[2] = {-DBL_MAX, DBL_MAX};
    double limitZRot[2] = {-DBL_MAX, DBL_MAX};
};
