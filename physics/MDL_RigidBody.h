// The dynamic object of a physics world. Its global frame is the body's pose:
// the position is the centre of mass, the basis gives the body axes. Volumes,
// meshes and other objects hang below it and move with it. A body keeps its
// linear velocity and angular momentum, integrates them exactly under constant
// force, torque and exponential damping, falls asleep after resting long
// enough, and takes impulses at points from contacts, springs, joints and the
// pointer drag.
#pragma once

#include <cstdint>

#include "model/MDL_Object.h"

class CTRL_ScriptEngine;

// Rest thresholds (single-precision constants widened): below both for longer
// than the body's still delay, it falls asleep.
constexpr double MDL_STILL_ANGULAR_SPEED2 = static_cast<double>(0.1f);
constexpr double MDL_STILL_SPEED2 = static_cast<double>(0.01f);

class MDL_RigidBody : public MDL_Object {
 public:
  MDL_RigidBody();
  // Every body field of the source; links as for any object copy.
  MDL_RigidBody(const MDL_RigidBody& source) = default;

  // Principal inertia per body axis: stores the reciprocals (0 stays 0) and
  // picks the basis column kept when the basis is re-orthonormalised.
  void setInertia(const v3& inertia);
  // Angular velocity (global), rebuilt from the momentum when stale.
  const v3* getAngularSpeed();
  // Sets the momentum that gives the angular velocity w (global).
  void setAngularSpeed(const v3& w);
  // Velocity of the global point p.
  void velocityAt(const v3& p, v3& out);
  // Impulse J (global) at the global point p; wakes the body when it leaves
  // it above a rest threshold.
  void applyImpulse(const v3& p, const v3& J);
  // Position correction: moves the point p by D weighted by mass and inertia.
  void displace(const v3& p, const v3& D);
  // Both corrections, each as displace gives it, for two bodies neither of
  // which lies below the other; their turns overlap.
  static void displaceBoth(MDL_RigidBody* a, const v3& pa, const v3& Da, MDL_RigidBody* b, const v3& pb,
                           const v3& Db);
  // Gives the point p (body axes) the global velocity t with one impulse.
  void setSpeed(const v3& p, const v3& t);
  // One damped step under constant force, torque and gravity.
  void integrate(double dt, const v3& gravity);
  // True when two bodies can be stepped together by integrateBoth, which
  // gives each what integrate gives it (no body lies below another, both are
  // awake and keep the same column); integrateBoth overlaps their turns.
  static bool integratesApart(const MDL_RigidBody* a, const MDL_RigidBody* b);
  static void integrateBoth(MDL_RigidBody* a, MDL_RigidBody* b, double dt, const v3& gravity);
 private:
  // The two halves of a step around the turn of the basis.
  struct Spin;
  void integrateMotion(double dt, const v3& gravity, Spin& spin);
  void integrateRest(const Spin& spin);
  MDL_Frame* displaceMotion(const v3& p, const v3& D, v3& theta);

 public:
  // Mass and box inertia from the extents of the meshes that carry the
  // collision volumes below the body.
  void computeMassAndInertia(double density);

  // Holds the body inside [lower, upper] on one axis (0 x, 1 y, 2 z) against
  // something of elasticity e and friction f; true when a contact was handled.
  bool clampToBounds(CTRL_ScriptEngine* engine, int axis, double lower, double upper, double e, double f);
  // Impulse and friction against something immovable; the normal points into
  // the body's side. False when no normal impulse was applied.
  bool resolveStaticContact(CTRL_ScriptEngine* engine, const v3& point, const v3& normal, double e, double f,
                            MDL_Object* ownVolume, MDL_Object* otherVolume);
  void correctBoundsPenetration(const v3& point, const v3& normal, double depth);

  // The body as a side of a contact: the weight along a direction (global)
  // for a lever arm (global); 0 is immovable.
  double weightAlong(const v3& arm, const v3& n);
  // Wakes the body when its speeds are above a rest threshold.
  void wakeIfMoving();

  v3 force{0, 0, 0};            // constant force, global axes
  v3 speed{0, 0, 0};            // velocity of the centre, global axes
  double inverseMass = 1.0;     // 0: immovable by forces and impulses
  v3 torque{0, 0, 0};           // constant torque, global axes
  v3 angularMomentum{0, 0, 0};  // global axes
  v3 angularSpeed{0, 0, 0};     // cached angular velocity, global axes
  v3 inverseInertia{100, 100, 100};  // per body axis; 0: no rotation about it
  double damping = static_cast<double>(0.2f);
  double angularDamping = static_cast<double>(0.2f);
  double elasticity = static_cast<double>(0.6f);
  double friction = static_cast<double>(0.8f);
  uint8_t still = 0;
  uint8_t verticesGroundCollision = 0;
  uint8_t angularSpeedDirty = 0;
  double stillTimer = 0.0;
  double stillDelay = 2.0;
  int32_t axisIndex = 0;
};
