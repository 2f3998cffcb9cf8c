// Placeholders until animated meshes and keyframe tracks have their own
// code: no record of these kinds can exist yet, so there is nothing to skin
// or advance. Each definition moves to its record's own file when that record
// is built.
#include "controller/CTRL_ModelHooks.h"
#include "media/VIEW_Stream.h"
#include "physics/MDL_RigidBody.h"

void MDL_iUpdateAnimatedMesh(MDL_Object*) {}
void MDL_iUpdateAnimation(MDL_Animation*, double) {}

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
