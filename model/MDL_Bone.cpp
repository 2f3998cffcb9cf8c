#include "model/MDL_Bone.h"

#include <tinyxml.h>

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
