// A viewport: a rectangle of the drawing area through which one camera shows
// its scene and one listener hears it, with the orbit navigation state and
// the projection between viewport and scene coordinates.
//
// Origin and size are in widths of the drawing area from its top-left
// corner. Viewport coordinates run from 0 to 1 across the viewport and from
// 0 to height / width down it; depth runs from 0 at the camera's clip start
// to 1 at its clip end.
#pragma once

#include <cfloat>
#include <cstdint>

#include "math/MDL_Frame.h"

class MDL_Camera;
class MDL_Mike;

// A record's link to its script proxy (the same alias as script/LMP_Proxy.h).
class LMP_Proxy;
using MDL_Proxy = LMP_Proxy*;

constexpr int32_t NAVIGATION_FREE = 0;
constexpr int32_t NAVIGATION_FIXED = 1;
constexpr int32_t NAVIGATION_MIXED = 2;
constexpr int32_t NAVIGATION_GLASSBALL = 3;

constexpr int32_t SHADOW_2D = 0;  // shadowed pixels darkened by a black overlay
constexpr int32_t SHADOW_3D = 1;  // opaque pass redrawn there with the shadow lamp dimmed

class MDL_Viewport {
 public:
  MDL_Viewport(double x, double y, double w, double h);
  MDL_Viewport(const MDL_Viewport&) = delete;
  MDL_Viewport& operator=(const MDL_Viewport&) = delete;
  // Releases the proxy link.
  ~MDL_Viewport();

  bool isOrbitMode() const { return navigationMode == NAVIGATION_MIXED || navigationMode == NAVIGATION_GLASSBALL; }

  // In the orbit modes: clamps radius, azimuth and elevation into their
  // ranges and places the camera on its orbit (in its local frame, keeping
  // its scale). Otherwise, or without a camera, nothing.
  void updateNavigation();
  // Viewport point (x, y, depth) to a global scene point. Without a camera
  // the output is left untouched.
  void toScene(const v3& in, v3& out);
  // Global scene point to viewport (x, y, depth). A point in the camera's
  // own plane gives the viewport centre at a depth below 0.
  void fromScene(const v3& in, v3& out);
  // origin := toScene(x, y, 0); direction := toScene(x, y, 1) - origin.
  void getPickRay(double x, double y, v3& origin, v3& direction);

  MDL_Proxy proxy = nullptr;  // the script proxy, holding one count of it
  v3 navPosition = {0, 0, 0};
  double navRadius = 0;
  double navElevation = 0;  // radians
  double navAzimuth = 0;    // radians
  double radiusMin = 0, radiusMax = DBL_MAX;
  double elevationMin = -DBL_MAX, elevationMax = DBL_MAX;
  double azimuthMin = -DBL_MAX, azimuthMax = DBL_MAX;
  MDL_Camera* camera = nullptr;  // not owned
  MDL_Mike* listener = nullptr;  // not owned
  double width, height;
  double originX, originY;
  double background[4] = {0, 0, 0, 0};
  uint8_t active = 1;
  int32_t navigationMode = NAVIGATION_FREE;
  int32_t shadowRendering = SHADOW_3D;
};
