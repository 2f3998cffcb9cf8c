// 4 by 4 double matrix for projections and model-views: 16 doubles in
// column-major order (element (row r, column c) at index 4 c + r), the
// layout glLoadMatrixd takes.
#pragma once

#include "math/MDL_Frame.h"

struct m44 {
    double m[16];

    double& at(int row, int col) { return m[4 * col + row]; }
    double at(int row, int col) const { return m[4 * col + row]; }

    static m44 identity() { return {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}; }
    // Basis axes as the first three columns, position as the translation.
    static void fromFrame(m44& out, const MDL_Frame& frame);

    static void multiply(m44& out, const m44& a, const m44& b);   // out := a b
    // (x, y, z, 1) times M, divided by w; the divide is skipped when w is
    // exactly 0.
    static void transformPoint(const m44& M, const v3& in, v3& out);
    static double determinant(const m44& M);
    // Adjugate over determinant. A singular matrix (determinant exactly 0)
    // has no inverse; the result is then the identity.
    static bool inverse(m44& out, const m44& M);
};
