// Stages that have no records yet: springs, joints, bodies, contacts and
// animations cannot be made so far, so their lists stay empty and these do
// nothing.
#include "physics/MDL_SceneStages.h"

#include "model/MDL_Animation.h"
#include "model/MDL_Object.h"

void MDL_iStepSpring(MDL_Spring*, double) {}
void MDL_iIntegrateBody(MDL_RigidBody*, double, const MDL_Scene&) {}
void MDL_iSolveJoint(MDL_Joint*) {}
void MDL_iResolveContacts(MDL_Scene&, CTRL_ScriptEngine*) {}
void MDL_iClampBodyToBounds(MDL_Scene&, MDL_RigidBody*, int, CTRL_ScriptEngine*) {}
MDL_Spring* MDL_iNewSpring() { return nullptr; }
MDL_Joint* MDL_iNewJoint() { return nullptr; }
void MDL_iDestroySpring(MDL_Spring*) {}
void MDL_iDestroyJoint(MDL_Joint*) {}
void MDL_iDestroyAnimation(MDL_Animation* animation) { delete animation; }
bool MDL_iAnimationTargetDeleted(const MDL_Animation* animation)
{
  return animation && (!animation->target || animation->target->deleted);
}
void MDL_iDropDeletedBodies(MDL_Scene&) {}
MDL_Object* MDL_iCloneRigidBody(MDL_Object*) { return nullptr; }
