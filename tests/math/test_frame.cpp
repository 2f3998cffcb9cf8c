#include "math/MDL_Frame.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void expectNear(const v3& a, const v3& b, double eps = 1e-12)
{
    EXPECT_NEAR(a.x, b.x, eps);
    EXPECT_NEAR(a.y, b.y, eps);
    EXPECT_NEAR(a.z, b.z, eps);
}

void expectNear(const m33& a, const m33& b, double eps = 1e-12)
{
    for (int j = 0; j < 3; j++)
        expectNear(a.c[j], b.c[j], eps);
}

const double kPi = 3.141592653589793;

} // namespace

TEST(V3, NormalizeZeroAndNonZero)
{
    v3 z = {0, 0, 0};
    EXPECT_FALSE(v3::normalize(z));
    EXPECT_EQ(z.x, 0);
    EXPECT_EQ(z.y, 0);
    EXPECT_EQ(z.z, 0);

    v3 v = {3, 0, 4};
    EXPECT_TRUE(v3::normalize(v));
    expectNear(v, {0.6, 0, 0.8}, 1e-15);
}

TEST(V3, CrossAllowsAliasedOutput)
{
    v3 a = {1, 0, 0}, b = {0, 1, 0};
    v3::cross(a, a, b);
    expectNear(a, {0, 0, 1});
}

TEST(V3, RotateByCosSinTable)
{
    struct Case {
        v3 p, axis;
        double c, s;
        v3 want;
    } cases[] = {
        // The axis need not be unit length.
        {{1, 0, 0}, {0, 0, 2}, 0, 1, {0, 1, 0}},
        {{1, 0, 0}, {0, 0, 1}, -1, 0, {-1, 0, 0}},
        // A point on the axis stays put.
        {{0, 0, 5}, {0, 0, 3}, 0, 1, {0, 0, 5}},
        // A zero axis leaves the point unchanged (no division by zero).
        {{1, 2, 3}, {0, 0, 0}, 0, 1, {1, 2, 3}},
        // Quarter turn about x: y goes to z.
        {{0, 1, 0}, {5, 0, 0}, 0, 1, {0, 0, 1}},
    };
    for (const Case& k : cases) {
        v3 p = k.p;
        v3::rotateByCosSin(p, k.axis, k.c, k.s);
        expectNear(p, k.want);
    }
}

TEST(V3, RotateAroundCentre)
{
    v3 p = {2, 1, 0};
    v3::rotateAround(p, {1, 1, 0}, {0, 0, 1}, kPi / 2);
    expectNear(p, {1, 2, 0});
}

TEST(V3, SlerpCases)
{
    v3 out;
    // Non-parallel: endpoints and midpoint on the arc.
    v3 a = {1, 0, 0}, b = {0, 1, 0};
    v3::slerp(out, a, b, 0);
    expectNear(out, a);
    v3::slerp(out, a, b, 1);
    expectNear(out, b);
    v3::slerp(out, a, b, 0.5);
    expectNear(out, {std::sqrt(0.5), std::sqrt(0.5), 0});

    // Same direction: b for every t, even t = 0.
    v3::slerp(out, {1, 0, 0}, {2, 0, 0}, 0);
    expectNear(out, {2, 0, 0});
    // Opposite directions and a zero input both give -b.
    v3::slerp(out, {1, 0, 0}, {-3, 0, 0}, 0.25);
    expectNear(out, {3, 0, 0});
    v3::slerp(out, {0, 0, 0}, {0, 2, 0}, 0.5);
    expectNear(out, {0, -2, 0});
}

TEST(M33, MultiplyAndTransform)
{
    m33 A = {{{1, 2, 3}, {4, 5, 6}, {7, 8, 10}}};
    m33 B = {{{0, 1, 0}, {0, 0, 1}, {1, 0, 0}}};
    m33 out;
    m33::multiply(out, A, B);
    // Column j of A B is A applied to column j of B.
    expectNear(out, {{A.c[1], A.c[2], A.c[0]}});
    EXPECT_EQ(A.at(1, 2), 8);

    // preMultiply: M := A M, with the same result as multiply.
    m33 M = B;
    m33::preMultiply(M, A);
    expectNear(M, out);

    v3 v = {1, 1, 1};
    m33::transform(A, v);
    expectNear(v, {12, 15, 19});
}

TEST(M33, InverseRegularAndSingular)
{
    m33 A = {{{2, 0, 0}, {1, 3, 0}, {0, 1, 4}}};
    m33 inv, prod;
    m33::inverse(inv, A);
    m33::multiply(prod, A, inv);
    expectNear(prod, m33::identity(), 1e-14);

    // Two equal columns: determinant 0 gives the identity, not infinities.
    m33 S = {{{1, 2, 3}, {1, 2, 3}, {0, 0, 1}}};
    m33::inverse(inv, S);
    expectNear(inv, m33::identity(), 0);

    // Aliased output.
    m33 B = A;
    m33::inverse(B, B);
    m33::multiply(prod, A, B);
    expectNear(prod, m33::identity(), 1e-14);
}

TEST(M33, FromEulerAnglesMatchesRzRyRx)
{
    double x = 0.3, y = -0.7, z = 1.1;
    m33 R;
    m33::fromEulerAngles(R, x, y, z);
    m33 Rx = m33::identity(), Ry = m33::identity(), Rz = m33::identity();
    m33::rotate(Rx, {1, 0, 0}, x);
    m33::rotate(Ry, {0, 1, 0}, y);
    m33::rotate(Rz, {0, 0, 1}, z);
    m33 t, want;
    m33::multiply(t, Ry, Rx);
    m33::multiply(want, Rz, t);
    expectNear(R, want, 1e-14);
}

TEST(M33, SetScale)
{
    m33 M = {{{2, 0, 0}, {0, 0, 0}, {0, 0, 5}}};
    EXPECT_TRUE(m33::setScale(M, {3, 4, 0.5}));
    expectNear(M, {{{3, 0, 0}, {0, 0, 0}, {0, 0, 0.5}}});
    // Result tells only about the third column.
    m33 N = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 0}}};
    EXPECT_FALSE(m33::setScale(N, {1, 1, 1}));
}

TEST(M33, RotateAxisKeepsColumnK)
{
    m33 M = m33::identity();
    m33::rotateAxis(M, 2, kPi / 2);
    expectNear(M, {{{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}}});
    m33 N = m33::identity();
    m33::rotateAxis(N, 7, 1.0);   // no such column
    expectNear(N, m33::identity(), 0);
}

TEST(M33, OrthonormalizeKeepsColumnK)
{
    for (int k = 0; k < 3; k++) {
        m33 M = {{{1, 0.2, 0.1}, {0.1, 2, 0.3}, {0.2, -0.1, 3}}};
        v3 dir = M.c[k];
        v3::normalize(dir);
        ASSERT_TRUE(m33::orthonormalize(M, k)) << k;
        expectNear(M.c[k], dir, 1e-15);
        for (int i = 0; i < 3; i++) {
            EXPECT_NEAR(v3::dot(M.c[i], M.c[i]), 1, 1e-14);
            EXPECT_NEAR(v3::dot(M.c[i], M.c[(i + 1) % 3]), 0, 1e-14);
        }
        EXPECT_NEAR(m33::determinant(M), 1, 1e-14) << "stays right-handed";
    }
    // Column 0 parallel to the kept column 2 cannot be rebuilt.
    m33 P = {{{0, 0, 2}, {0, 1, 0}, {0, 0, 1}}};
    EXPECT_FALSE(m33::orthonormalize(P, 2));
    m33 Q = {{{3, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    EXPECT_FALSE(m33::orthonormalize(Q, 3));
    EXPECT_EQ(Q.c[0].x, 3) << "unknown column leaves M unchanged";
}

TEST(M33, IntegrateRotationSmallStep)
{
    m33 M = m33::identity();
    const double h = 1e-4;
    // Many small steps about z add up to the total angle.
    for (int i = 0; i < 10000; i++)
        ASSERT_TRUE(m33::integrateRotation(M, {0, 0, h}, 2));
    m33 want = m33::identity();
    m33::rotate(want, {0, 0, 1}, 1.0);
    expectNear(M, want, 1e-4);
}

TEST(M33, InterpolateBasisColumnwise)
{
    m33 A = m33::identity();
    m33 B = m33::identity();
    m33::rotate(B, {0, 0, 1}, kPi / 2);
    m33 out;
    m33::interpolateBasis(out, A, B, 0.5);
    m33 want = m33::identity();
    m33::rotate(want, {0, 0, 1}, kPi / 4);
    expectNear(out, want);
}

TEST(Frame, LocalGlobalRoundTrip)
{
    MDL_Frame A = MDL_Frame::identity();
    m33::fromEulerAngles(A.basis, 0.4, 0.2, -1.3);
    m33::setScale(A.basis, {2, 2, 2});
    A.position = {1, -2, 3};
    A.inverseDirty = 1;

    v3 local = {0.5, 0.25, -4}, global, back;
    MDL_Frame::localToGlobalPoint(A, local, global);
    MDL_Frame::globalToLocalPoint(A, global, back);
    expectNear(back, local, 1e-13);
    EXPECT_EQ(A.inverseDirty, 0) << "reading back rebuilt the cache";

    v3 p = local;
    MDL_Frame::localToGlobalPointInPlace(A, p);
    expectNear(p, global, 0);
    MDL_Frame::globalToLocalPointInPlace(A, p);
    expectNear(p, local, 1e-13);

    // Composition and its undoing.
    MDL_Frame B = MDL_Frame::identity();
    m33::fromEulerAngles(B.basis, 0.1, 0.9, 0.3);
    B.position = {4, 5, 6};
    MDL_Frame orig = B;
    MDL_Frame::localToGlobalFrame(A, B);
    EXPECT_EQ(B.inverseDirty, 1);
    v3 viaFrames, viaPoints;
    MDL_Frame::localToGlobalPoint(B, local, viaFrames);
    MDL_Frame::localToGlobalPoint(orig, local, viaPoints);
    MDL_Frame::localToGlobalPointInPlace(A, viaPoints);
    expectNear(viaFrames, viaPoints, 1e-13);
    MDL_Frame::globalToLocalFrame(A, B);
    expectNear(B.position, orig.position, 1e-13);
    expectNear(B.basis, orig.basis, 1e-13);
}

TEST(Frame, StaleCacheIsRebuiltAfterBasisChange)
{
    MDL_Frame A = MDL_Frame::identity();
    v3 out;
    MDL_Frame::globalToLocalPoint(A, {1, 0, 0}, out);
    MDL_Frame::rotateByCosSin(A, {0, 0, 1}, 0, 1);
    EXPECT_EQ(A.inverseDirty, 1);
    MDL_Frame::globalToLocalPoint(A, {0, 1, 0}, out);
    expectNear(out, {1, 0, 0});
}
