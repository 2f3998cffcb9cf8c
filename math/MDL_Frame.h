// Double-precision vector, basis and rigid-frame arithmetic shared by the
// whole native side: objects, physics, navigation, picking and the script
// value types all work in these types.
#pragma once

#include <cmath>
#include <cstdint>

struct v2 {
    double x, y;
};

struct v3 {
    double x, y, z;

    // v := v / |v| when |v| > 0 (true); a zero vector is left alone (false).
    static bool normalize(v3& v)
    {
        const double L = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
        if (!(L > 0))
            return false;
        v.x /= L;
        v.y /= L;
        v.z /= L;
        return true;
    }
    static void cross(v3& out, const v3& a, const v3& b)
    {
        const v3 r = {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
        out = r;
    }
    // Rodrigues rotation about an axis of any length; a zero axis leaves p.
    static void rotateByCosSin(v3& p, const v3& axis, double c, double s);
    // p := centre + (p - centre) turned by angle (radians) about axis.
    static void rotateAround(v3& p, const v3& centre, const v3& axis, double angle);
    static void slerp(v3& out, const v3& a, const v3& b, double t);

    static double dot(const v3& a, const v3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
    static double length(const v3& a) { return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z); }
};

inline v3 operator+(const v3& a, const v3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline v3 operator-(const v3& a, const v3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline v3 operator-(const v3& a) { return {-a.x, -a.y, -a.z}; }
inline v3 operator*(const v3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline v3 operator*(double s, const v3& a) { return {a.x * s, a.y * s, a.z * s}; }
inline v3 operator/(const v3& a, double s) { return {a.x / s, a.y / s, a.z / s}; }
inline v3& operator+=(v3& a, const v3& b) { a.x += b.x; a.y += b.y; a.z += b.z; return a; }
inline v3& operator-=(v3& a, const v3& b) { a.x -= b.x; a.y -= b.y; a.z -= b.z; return a; }
inline v3& operator*=(v3& a, double s) { a.x *= s; a.y *= s; a.z *= s; return a; }

// Three columns c[0], c[1], c[2] (the basis axes); element (row i, column j)
// is double index 3 j + i. M v = c0 v.x + c1 v.y + c2 v.z.
struct m33 {
    v3 c[3];

    double& at(int row, int col) { return (&c[col].x)[row]; }
    double at(int row, int col) const { return (&c[col].x)[row]; }

    static m33 identity() { return {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}; }
    static v3 apply(const m33& M, const v3& v) { return M.c[0] * v.x + M.c[1] * v.y + M.c[2] * v.z; }

    static void transform(const m33& M, v3& v);
    static void multiply(m33& out, const m33& A, const m33& B)      // out := A B
    {
        const m33 r = {{apply(A, B.c[0]), apply(A, B.c[1]), apply(A, B.c[2])}};
        out = r;
    }
    static void preMultiply(m33& M, const m33& A);                  // M := A M
    static double determinant(const m33& M);
    // Adjugate over determinant; a determinant of exactly 0 gives the identity.
    static void inverse(m33& out, const m33& M);
    static void fromEulerAngles(m33& out, double x, double y, double z);   // Rz Ry Rx
    static void interpolateBasis(m33& out, const m33& A, const m33& B, double t);
    // Columns normalised then scaled by s; answers whether column 2 could be.
    static bool setScale(m33& M, const v3& s);
    static void rotate(m33& M, const v3& axis, double angle);
    // Turns the two columns other than column k about column k.
    static void rotateAxis(m33& M, int k, double angle);
    // Gram-Schmidt by cross products keeping the direction of column k.
    static bool orthonormalize(m33& M, int k);
    // M := M + W M (W the cross-product matrix of w), then orthonormalize(M, k).
    static bool integrateRotation(m33& M, const v3& w, int k);
};

// A rigid frame: position and basis, with a lazily rebuilt inverse basis.
// The cache is mutable so that readers of a const frame can still map
// global points into it.
struct MDL_Frame {
    v3 position;
    m33 basis;
    mutable m33 inverse;
    mutable uint8_t inverseDirty;

    static MDL_Frame identity() { return {{0, 0, 0}, m33::identity(), m33::identity(), 0}; }

    // Rebuilds the inverse basis when the dirty flag is set.
    static void validateInverse(const MDL_Frame& A)
    {
        if (A.inverseDirty) {
            m33::inverse(A.inverse, A.basis);
            A.inverseDirty = 0;
        }
    }

    static void localToGlobalFrame(const MDL_Frame& A, MDL_Frame& B)    // B := A o B
    {
        const v3 pos = m33::apply(A.basis, B.position) + A.position;
        m33::multiply(B.basis, A.basis, B.basis);
        B.position = pos;
        B.inverseDirty = 1;
    }
    static void globalToLocalFrame(const MDL_Frame& A, MDL_Frame& B);   // B := A^-1 o B
    static void localToGlobalPoint(const MDL_Frame& A, const v3& in, v3& out);
    static void localToGlobalPointInPlace(const MDL_Frame& A, v3& p);
    static void globalToLocalPoint(const MDL_Frame& A, const v3& in, v3& out);
    static void globalToLocalPointInPlace(const MDL_Frame& A, v3& p);
    static void rotateByCosSin(MDL_Frame& A, const v3& axis, double c, double s);
};
