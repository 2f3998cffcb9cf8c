// Skeleton bones: objects with a rest frame and rotation limits. Animated
// meshes follow them.
#pragma once

#include <cfloat>

#include "math/MDL_Frame.h"
#include "model/MDL_Object.h"

class CTRL_ScriptEngine;

class MDL_Bone : public MDL_Object {
public:
    MDL_Bone();
    MDL_Bone(const MDL_Bone& source) = default;

    // Base reading, then "original_matrix" (the rest frame) and the three
    // rotation limits (degrees in the file, radians here).
    bool load(const TiXmlElement* element) override;
    // Exchanges the local frame and the rest frame; descendants follow.
    void swapRestFrame();
    // Brings the local rotation, measured from the rest pose, back into the
    // three ranges; the bone is marked moved when anything changed.
    void applyLimits();
    // Inverse kinematics (cyclic coordinate descent): turns this bone and
    // its bone ancestors so that the global point p, carried by the chain,
    // comes nearer the global target. Every bone turned fires CB_MOVED
    // through the engine (null: no callbacks).
    void movePoint(const v3& p, const v3& target, CTRL_ScriptEngine* engine);
    // Puts the local frame back at the rest frame.
    void reset();

    MDL_Frame restFrame;
    double limitXRot[2] = {-DBL_MAX, DBL_MAX};
    double limitYRot[2] = {-DBL_MAX, DBL_MAX};
    double limitZRot[2] = {-DBL_MAX, DBL_MAX};

    // Limit slack: a rotation this far past a limit (radians) is left alone.
    static constexpr double limitTolerance = double(1e-7f);
};
