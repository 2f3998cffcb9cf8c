// Ear-clipping fill of a simple 2-D polygon, used for the fill of polyline
// overlays.
#pragma once

#include "base/CTRL_Array.h"
#include "math/MDL_Frame.h"

#include <cstdint>

// Appends one index by the growable-array rule (capacity 128, doubling).
bool VIEW_iIntArrayAppend(CTRL_Array<int32_t>& out, int32_t value);

// Appends three point indices per triangle to out, indices into points in
// their given order whatever the winding. False when there are fewer than
// three points or the polygon cannot be clipped completely (not simple,
// or degenerate); out may then hold a partial list.
bool VIEW_iTriangulate(const v2* points, int32_t count, CTRL_Array<int32_t>& out);

// Ear test of the corner (u, v, w) of the current order list of n entries.
bool VIEW_iSnip(const v2* points, int32_t u, int32_t v, int32_t w, int32_t n, const int32_t* order);

// Outline band of a polyline as whole triangles: every segment (the closing
// one too when closed) covered to halfWidth on each side of its centre line.
// Sharp joints get the miter point on their inner side and a rounded wedge
// on their outer side; an open line gets rounded caps. uvs hold one texture
// coordinate per vertex: along the stroke the distance times alongScale,
// across it 0 on the right side and 1 on the left. Both arrays are emptied
// first. False when memory runs out.
bool VIEW_iBuildStroke(const v2* points, int32_t count, bool closed, double halfWidth, double alongScale,
                       CTRL_Array<v2>& vertices, CTRL_Array<v2>& uvs);
