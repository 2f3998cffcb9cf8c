// Springs and joints: links between two rigid bodies of one world, or between
// a body and a fixed point. The world owns them, applies every spring at the
// start of a step and enforces every joint after the integration callback.
//
// Anchors and axes are kept in the body's own axes, or in world coordinates
// when that side has no body. When a body is freed, the world first turns the
// side's anchor (and axis) into world coordinates at the body's last pose and
// clears the pointer, so the link then holds to a fixed point.
#pragma once

#include <cstdint>

#include "math/MDL_Frame.h"

class LMP_Proxy;
using MDL_Proxy = LMP_Proxy*;

class MDL_RigidBody;

enum MDL_JointType : uint32_t {
  JOINT_POINT_POINT = 0,        // anchor A on anchor B (ball joint)
  JOINT_AXIS_AXIS = 1,          // axis A parallel to axis B
  JOINT_POINT_AXIS = 2,         // anchor A on the line through anchor B along axis B
  JOINT_POINT_ABOVE_PLANE = 3,  // anchor A not below the plane through anchor B, normal axis B
  JOINT_POINT_ON_PLANE = 4,     // anchor A on that plane
};

class MDL_Spring {
 public:
  MDL_Spring() = default;
  MDL_Spring(const MDL_Spring&) = delete;
  MDL_Spring& operator=(const MDL_Spring&) = delete;
  // Releases the proxy link.
  ~MDL_Spring();

  // Applies the spring impulse for one step of dt.
  void step(double dt);
  // Lets go of a body that is about to be freed (see above).
  void detachBody(MDL_RigidBody* body);

  MDL_Proxy proxy = nullptr;
  double stiffness = 1.0;     // force per unit of stretch
  double damping = 0.5;       // force per unit of relative speed along the spring
  double restPosition = 0.0;  // rest length
  MDL_RigidBody* objectA = nullptr;
  MDL_RigidBody* objectB = nullptr;
  v3 pointA{0, 0, 0};
  v3 pointB{0, 0, 0};
};

class MDL_Joint {
 public:
  MDL_Joint() = default;
  MDL_Joint(const MDL_Joint&) = delete;
  MDL_Joint& operator=(const MDL_Joint&) = delete;
  // Releases the proxy link.
  ~MDL_Joint();

  // Enforces the joint once by its type; unknown types do nothing.
  void solve();
  // One velocity impulse along n and one position correction bringing the
  // global points PA and PB together; rB is B's lever arm in B's axes.
  void solvePair(const v3& n, const v3& rB, const v3& PA, const v3& PB, double e);
  // Lets go of a body that is about to be freed (see above).
  void detachBody(MDL_RigidBody* body);

  MDL_Proxy proxy = nullptr;
  uint32_t type = JOINT_POINT_POINT;
  MDL_RigidBody* objectA = nullptr;
  MDL_RigidBody* objectB = nullptr;
  v3 pointA{0, 0, 0};
  v3 pointB{0, 0, 0};
  v3 axisA{1, 0, 0};
  v3 axisB{1, 0, 0};  // the plane normal of the plane types
};
