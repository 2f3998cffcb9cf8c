// Stencil shadow volumes: choosing the shadow lamp and telling which meshes
// cast shadows. The volumes themselves are built by base/VIEW_ShadowGeometry.h.
#pragma once

#include "base/CTRL_Array.h"
#include "base/VIEW_ShadowGeometry.h"

#include <cstdint>

class MDL_Lamp;
class MDL_Object;

constexpr int32_t VIEW_MAX_LIGHTS = 8;

// The scene's shadow lamp: walks the lamps in order, each lamp that is on
// taking the next of the eight GL lights, and answers the first of those
// that has shadows (null when none), with its light index. The render
// driver (building volumes) and the scene drawing (compositing them) both
// choose through this, so they always agree.
MDL_Lamp* VIEW_iFindShadowLamp(const CTRL_Array<MDL_Object*>& lamps, int32_t* lightIndex);

// A visible mesh (or animated mesh) with triangles that throws a shadow: no
// material, or one that casts shadows and does not blend (a mirror never
// blends). The render driver rebuilds the volumes of these meshes and the
// shadow passes draw them.
bool VIEW_iCastsShadow(MDL_Object* object);
