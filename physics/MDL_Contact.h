// Pieces of the contact code shared by the world's contact pass, the bounds,
// the rigid bodies and the joints.
#pragma once

#include <cstdint>

#include "math/MDL_Frame.h"

class MDL_Object;
class MDL_RigidBody;
class MDL_CollisionVolume;
class MDL_Scene;
class CTRL_ScriptEngine;

// One side of a contact in its body's axes: lever arm, direction, velocity,
// angular momentum, inverse inertia and inverse mass. A side without a body
// is all zeros and contributes nothing.
struct MDL_ContactSide {
  v3 r, n, v, L, inverseInertia;
  double inverseMass;
};

// Fills a side for a body (null: the zero side) at a global lever point and a
// global direction.
void MDL_iMakeSide(MDL_RigidBody* body, const v3& point, const v3& n, MDL_ContactSide& out);
// The same side along another global direction.
void MDL_iSideDirection(MDL_RigidBody* body, const v3& n, MDL_ContactSide& side);
// Weight of a side along its direction: inverse mass plus the rotational part.
double MDL_iSideWeight(const MDL_ContactSide& s);
// Two-body impulse magnitude along the sides' direction; 0 when neither side
// can move.
double MDL_iContactImpulse(const MDL_ContactSide& a, const MDL_ContactSide& b, double e);
// The same with the sides' summed weights W already at hand.
double MDL_iContactImpulse(const MDL_ContactSide& a, const MDL_ContactSide& b, double e, double W);
// One-body impulse magnitude against something immovable.
double MDL_iBodyImpulse(const MDL_ContactSide& s, double e);

// Fires a collision callback through the world's proxy. A world without a
// script side accepts every contact; otherwise the script's answer.
bool MDL_iFireContact(MDL_Scene* world, CTRL_ScriptEngine* engine, int id, const v3& point, const v3& normal,
                      double value, MDL_Object* bodyA, MDL_Object* volumeA, MDL_Object* bodyB, MDL_Object* volumeB);

// Lowest and highest point along one axis, with the object that gave each.
struct MDL_Extremes {
  v3 low, high;
  MDL_Object* lowObject = nullptr;
  MDL_Object* highObject = nullptr;
  bool hasLow = false, hasHigh = false;
  void take(const v3& p, int k, MDL_Object* from);
};
// Over the subtrees of root's children: the shapes of the volumes whose mask
// has bit 0 set.
void MDL_iShapeExtremes(MDL_Object* root, int k, MDL_Extremes& out);
// Over the subtrees of root's children: the vertices of the meshes that carry
// collision volumes (meshes without geometry give none).
void MDL_iVertexExtremes(MDL_Object* root, int k, MDL_Extremes& out);

// True when every quantity the contact code reads from the body is finite.
bool MDL_iBodyIsFinite(const MDL_RigidBody* body);

// Bounding radius of a volume from its global frame (other kinds keep theirs).
void MDL_iUpdateBoundingRadius(MDL_CollisionVolume* volume);

// Observer of the contact pass, for tests: called with both volumes of every
// pair the narrow phase finds touching, before the pre-collision callback.
// Null (the default) costs one test per contact.
extern void (*MDL_contactProbe)(MDL_CollisionVolume* a, MDL_CollisionVolume* b, void* data);
extern void* MDL_contactProbeData;
// When set, a pass whose responses or handlers may move any volume takes
// every slot anew after each pair instead of only the volumes that changed
// (tests compare the two).
extern bool MDL_contactRetakesEverySlot;
// The sweep's sphere tests use 256-bit registers where the processor has
// them (the same answers); tests turn them off to check the other path.
// Returns whether the wide path is now taken.
bool MDL_iSetWideSweep(bool allow);
