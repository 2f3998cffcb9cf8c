// The world's step stages for springs, bodies, joints, contacts and bounds,
// and the life of springs and joints in a world.
#include "physics/MDL_RigidBody.h"
#include "physics/MDL_Scene.h"
#include "physics/MDL_SceneStages.h"
#include "physics/MDL_Spring.h"

void MDL_iStepSpring(MDL_Spring* spring, double dt) {
  if (spring) spring->step(dt);
}

void MDL_iIntegrateBody(MDL_RigidBody* body, double dt, const MDL_Scene& world) {
  if (body) body->integrate(dt, world.gravity);
}

bool MDL_iIntegrateBodies(MDL_RigidBody* a, MDL_RigidBody* b, double dt, const MDL_Scene& world) {
  if (!MDL_RigidBody::integratesApart(a, b)) return false;
  MDL_RigidBody::integrateBoth(a, b, dt, world.gravity);
  return true;
}

void MDL_iSolveJoint(MDL_Joint* joint) {
  if (joint) joint->solve();
}

void MDL_iResolveContacts(MDL_Scene& world, CTRL_ScriptEngine* engine) { world.resolveContacts(engine); }

void MDL_iClampBodyToBounds(MDL_Scene& world, MDL_RigidBody* body, int axis, CTRL_ScriptEngine* engine) {
  if (!body || body->deleted || axis < 0 || axis > 2) return;
  body->clampToBounds(engine, axis, world.bounds[2 * axis], world.bounds[2 * axis + 1], world.elasticity,
                      world.friction);
}

MDL_Spring* MDL_iNewSpring() { return new MDL_Spring(); }
MDL_Joint* MDL_iNewJoint() { return new MDL_Joint(); }
void MDL_iDestroySpring(MDL_Spring* spring) { delete spring; }
void MDL_iDestroyJoint(MDL_Joint* joint) { delete joint; }

void MDL_iDropDeletedBodies(MDL_Scene& world) {
  // Each link pins a side whose body goes to where the body last was.
  for (int i = 0; i < world.springs.count; ++i) {
    MDL_Spring* s = world.springs.data[i];
    if (s->objectA && s->objectA->deleted) s->detachBody(s->objectA);
    if (s->objectB && s->objectB->deleted) s->detachBody(s->objectB);
  }
  for (int i = 0; i < world.joints.count; ++i) {
    MDL_Joint* j = world.joints.data[i];
    if (j->objectA && j->objectA->deleted) j->detachBody(j->objectA);
    if (j->objectB && j->objectB->deleted) j->detachBody(j->objectB);
  }
}

MDL_Object* MDL_iCloneRigidBody(MDL_Object* source) {
  if (!source || source->type != OBJECT_RIGID_BODY) return nullptr;
  return new MDL_RigidBody(*static_cast<MDL_RigidBody*>(source));
}
