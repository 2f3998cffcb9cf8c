#include "math/MDL_Frame.h"

#include <cmath>

void v3::rotateByCosSin(v3& p, const v3& a, double c, double s)
{
    double L2 = dot(a, a);
    if (L2 == 0)
        return;
    double L = std::sqrt(L2);
    double ap = dot(a, p);
    v3 axp;
    cross(axp, a, p);
    v3 r = ((L2 * p - ap * a) * c + ap * a + (L * s) * axp) / L2;
    p = r;
}

void v3::rotateAround(v3& p, const v3& centre, const v3& axis, double angle)
{
    v3 d = p - centre;
    rotateByCosSin(d, axis, std::cos(angle), std::sin(angle));
    p = centre + d;
}

void v3::slerp(v3& out, const v3& a, const v3& b, double t)
{
    double c = dot(a, b) / std::sqrt(dot(b, b) * dot(a, a));
    if (c >= 1) {
        out = b;
    } else if (c > -1 && c < 1) {
        double s = std::sqrt(1 - c * c);
        double theta = std::atan2(s, c);
        out = (std::sin((1 - t) * theta) * a + std::sin(t * theta) * b) / s;
    } else {
        // Opposite directions, or c is NaN because a or b is zero.
        out = -b;
    }
}

void m33::transform(const m33& M, v3& v)
{
    v = apply(M, v);
}

void m33::preMultiply(m33& M, const m33& A)
{
    multiply(M, A, M);
}

double m33::determinant(const m33& M)
{
    v3 x;
    v3::cross(x, M.c[1], M.c[2]);
    return v3::dot(M.c[0], x);
}

void m33::inverse(m33& out, const m33& M)
{
    double det = determinant(M);
    if (det == 0) {
        out = identity();
        return;
    }
    // The rows of the inverse are the cross products of column pairs.
    v3 r0, r1, r2;
    v3::cross(r0, M.c[1], M.c[2]);
    v3::cross(r1, M.c[2], M.c[0]);
    v3::cross(r2, M.c[0], M.c[1]);
    m33 r;
    r.c[0] = v3{r0.x, r1.x, r2.x} / det;
    r.c[1] = v3{r0.y, r1.y, r2.y} / det;
    r.c[2] = v3{r0.z, r1.z, r2.z} / det;
    out = r;
}

void m33::fromEulerAngles(m33& out, double x, double y, double z)
{
    double cx = std::cos(x), sx = std::sin(x);
    double cy = std::cos(y), sy = std::sin(y);
    double cz = std::cos(z), sz = std::sin(z);
    out.c[0] = {cz * cy, sz * cy, -sy};
    out.c[1] = {cz * sy * sx - sz * cx, sz * sy * sx + cz * cx, cy * sx};
    out.c[2] = {cz * sy * cx + sz * sx, sz * sy * cx - cz * sx, cy * cx};
}

void m33::interpolateBasis(m33& out, const m33& A, const m33& B, double t)
{
    m33 r;
    for (int j = 0; j < 3; j++)
        v3::slerp(r.c[j], A.c[j], B.c[j], t);
    out = r;
}

bool m33::setScale(m33& M, const v3& s)
{
    const double k[3] = {s.x, s.y, s.z};
    bool last = false;
    for (int j = 0; j < 3; j++) {
        last = v3::normalize(M.c[j]);
        if (last)
            M.c[j] *= k[j];
    }
    return last;
}

void m33::rotate(m33& M, const v3& axis, double angle)
{
    double c = std::cos(angle), s = std::sin(angle);
    for (int j = 0; j < 3; j++)
        v3::rotateByCosSin(M.c[j], axis, c, s);
}

void m33::rotateAxis(m33& M, int k, double angle)
{
    if (k < 0 || k > 2)
        return;
    double c = std::cos(angle), s = std::sin(angle);
    v3 axis = M.c[k];
    for (int j = 0; j < 3; j++)
        if (j != k)
            v3::rotateByCosSin(M.c[j], axis, c, s);
}

bool m33::orthonormalize(m33& M, int k)
{
    if (k < 0 || k > 2)
        return false;
    // Column k keeps its direction; the next two are rebuilt in cyclic
    // order so that the result stays right-handed.
    int a = k, b = (k + 2) % 3, d = (k + 1) % 3;
    // k = 0: c2 := c0 x c1, c1 := c2 x c0
    // k = 1: c0 := c1 x c2, c2 := c0 x c1
    // k = 2: c1 := c2 x c0, c0 := c1 x c2
    if (!v3::normalize(M.c[a]))
        return false;
    v3::cross(M.c[b], M.c[a], M.c[d]);
    if (!v3::normalize(M.c[b]))
        return false;
    v3::cross(M.c[d], M.c[b], M.c[a]);
    return v3::normalize(M.c[d]);
}

bool m33::integrateRotation(m33& M, const v3& w, int k)
{
    for (int j = 0; j < 3; j++) {
        v3 d;
        v3::cross(d, w, M.c[j]);
        M.c[j] += d;
    }
    return orthonormalize(M, k);
}

void MDL_Frame::globalToLocalFrame(const MDL_Frame& A, MDL_Frame& B)
{
    validateInverse(A);
    v3 pos = m33::apply(A.inverse, B.position - A.position);
    m33::multiply(B.basis, A.inverse, B.basis);
    B.position = pos;
    B.inverseDirty = 1;
}

void MDL_Frame::localToGlobalPoint(const MDL_Frame& A, const v3& in, v3& out)
{
    out = m33::apply(A.basis, in) + A.position;
}

void MDL_Frame::localToGlobalPointInPlace(const MDL_Frame& A, v3& p)
{
    p = m33::apply(A.basis, p) + A.position;
}

void MDL_Frame::globalToLocalPoint(const MDL_Frame& A, const v3& in, v3& out)
{
    validateInverse(A);
    out = m33::apply(A.inverse, in - A.position);
}

void MDL_Frame::globalToLocalPointInPlace(const MDL_Frame& A, v3& p)
{
    globalToLocalPoint(A, p, p);
}

void MDL_Frame::rotateByCosSin(MDL_Frame& A, const v3& axis, double c, double s)
{
    for (int j = 0; j < 3; j++)
        v3::rotateByCosSin(A.basis.c[j], axis, c, s);
    A.inverseDirty = 1;
}
