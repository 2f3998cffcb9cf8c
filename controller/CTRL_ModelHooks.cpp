// Placeholders until animated meshes, keyframe tracks, rigid bodies and
// videos have their own code: no record of these kinds can exist yet, so
// there is nothing to skin, advance, rub or free. Each definition moves to
// its record's own file when that record is built.
#include "controller/CTRL_ModelHooks.h"
#include "media/VIEW_Stream.h"

void MDL_iUpdateAnimatedMesh(MDL_Object*) {}
void MDL_iUpdateAnimation(MDL_Animation*, double) {}
double MDL_iGetBodyFriction(MDL_Object*) { return 0; }
void MDL_iSetBodyFriction(MDL_Object*, double) {}
// Videos are reached through their interface, whose destructor is virtual.
void VIEW_iDestroyStream(VIEW_Stream* stream) { delete stream; }
