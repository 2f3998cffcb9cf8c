// Frame set-up shared by the object records.
#pragma once

#include "math/MDL_Frame.h"

// Position (0,0,0), identity basis, inverse cache zero and marked stale.
void MDL_iResetFrame(MDL_Frame& frame);
// Writes a frame from a 4x4 matrix stored column by column: numbers 0-2 are
// the x axis, 4-6 the y axis, 8-10 the z axis and 12-14 the position.
void MDL_iSetFrameFromColumns(MDL_Frame& frame, const double m[16]);
