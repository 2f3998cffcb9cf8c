// The parts of a world step, of cloning and of the purge that belong to rigid
// bodies, contacts, springs, joints and animations.
// The world calls them in its fixed order; each acts on one element so that
// the world's own loops decide the order and survive lists that grow while
// script handlers run.
#pragma once

#include <cstdint>

#include "base/CTRL_Array.h"

class MDL_Scene;
class MDL_Object;
class MDL_RigidBody;
class MDL_Spring;
class MDL_Joint;
class MDL_Animation;
class CTRL_ScriptEngine;

void MDL_iStepSpring(MDL_Spring* spring, double dt);
void MDL_iIntegrateBody(MDL_RigidBody* body, double dt, const MDL_Scene& world);
// Steps two bodies together, each as MDL_iIntegrateBody would, when neither
// can touch the other's state; false, with nothing done, otherwise.
bool MDL_iIntegrateBodies(MDL_RigidBody* a, MDL_RigidBody* b, double dt, const MDL_Scene& world);
void MDL_iSolveJoint(MDL_Joint* joint);
void MDL_iResolveContacts(MDL_Scene& world, CTRL_ScriptEngine* engine);
// Holds the body inside the world's bounds on one axis (0 x, 1 y, 2 z).
void MDL_iClampBodyToBounds(MDL_Scene& world, MDL_RigidBody* body, int axis, CTRL_ScriptEngine* engine);

MDL_Spring* MDL_iNewSpring();
MDL_Joint* MDL_iNewJoint();
// Releases the record's proxy link and frees it.
void MDL_iDestroySpring(MDL_Spring* spring);
void MDL_iDestroyJoint(MDL_Joint* joint);
void MDL_iDestroyAnimation(MDL_Animation* animation);
bool MDL_iAnimationTargetDeleted(const MDL_Animation* animation);
// Called before deleted objects are freed: springs and joints let go of
// bodies that are about to disappear.
void MDL_iDropDeletedBodies(MDL_Scene& world);

// Copy of a rigid body with every body field.
MDL_Object* MDL_iCloneRigidBody(MDL_Object* source);
