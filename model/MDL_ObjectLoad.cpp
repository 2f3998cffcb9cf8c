#include "model/MDL_ObjectLoad.h"

void MDL_iResetFrame(MDL_Frame& frame) {
  frame.position = v3{0, 0, 0};
  frame.basis = m33::identity();
  frame.inverse = m33{};
  frame.inverseDirty = 1;
}

void MDL_iSetFrameFromColumns(MDL_Frame& frame, const double m[16]) {
  frame.basis.c[0] = v3{m[0], m[1], m[2]};
  frame.basis.c[1] = v3{m[4], m[5], m[6]};
  frame.basis.c[2] = v3{m[8], m[9], m[10]};
  frame.position = v3{m[12], m[13], m[14]};
  frame.inverseDirty = 1;
}
