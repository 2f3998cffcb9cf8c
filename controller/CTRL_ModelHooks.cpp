// Placeholders until animated meshes, keyframe tracks, rigid bodies and
// videos have their own code: no record of these kinds can exist yet, so
// there is nothing to skin, advance, rub or free. Each definition moves to
// its record's own file when that record is built.
#include "controller/CTRL_ModelHooks.h"
#include "media/VIEW_Stream.h"
#include "model/MDL_Animation.h"
#include "model/MDL_Mesh.h"

// Skinning and keyframe tracks are built: these two are the real calls.
void MDL_iUpdateAnimatedMesh(MDL_Object* mesh)
{
    if (mesh && mesh->type == OBJECT_ANIMATED_MESH) static_cast<MDL_AnimatedMesh*>(mesh)->update(false);
}
void MDL_iUpdateAnimation(MDL_Animation* animation, double dt)
{
    if (animation && animation->playing) animation->update(dt);
}
double MDL_iGetBodyFriction(MDL_Object*) { return 0; }
void MDL_iSetBodyFriction(MDL_Object*, double) {}
// Videos are reached through their interface, whose destructor is virtual.
void VIEW_iDestroyStream(VIEW_Stream* stream) { delete stream; }
