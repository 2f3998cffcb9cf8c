// Frame work that the controller hands to skinning, keyframe tracks, rigid
// bodies and videos.
#include "controller/CTRL_ModelHooks.h"
#include "media/VIEW_Stream.h"
#include "model/MDL_Animation.h"
#include "model/MDL_Mesh.h"
#include "physics/MDL_RigidBody.h"

// Skinning and keyframe tracks.
void MDL_iUpdateAnimatedMesh(MDL_Object* mesh)
{
    if (mesh && mesh->type == OBJECT_ANIMATED_MESH) static_cast<MDL_AnimatedMesh*>(mesh)->update(false);
}
void MDL_iUpdateAnimation(MDL_Animation* animation, double dt)
{
    if (animation && animation->playing) animation->update(dt);
}

// A dragged body rubs with the drag's friction for the frame; these save and
// restore its own.
double MDL_iGetBodyFriction(MDL_Object* body) {
  if (!body || body->type != OBJECT_RIGID_BODY) return 0;
  return static_cast<MDL_RigidBody*>(body)->friction;
}

void MDL_iSetBodyFriction(MDL_Object* body, double friction) {
  if (body && body->type == OBJECT_RIGID_BODY) static_cast<MDL_RigidBody*>(body)->friction = friction;
}

// Videos are reached through their interface, whose destructor is virtual.
void VIEW_iDestroyStream(VIEW_Stream* stream) { delete stream; }
