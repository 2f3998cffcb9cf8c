#include "math/m44.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void expectNear(const m44& a, const m44& b, double eps)
{
    for (int i = 0; i < 16; i++)
        EXPECT_NEAR(a.m[i], b.m[i], eps) << "index " << i;
}

m44 sampleMatrix()
{
    // A rotated, scaled and translated frame with a projective last row.
    MDL_Frame f = MDL_Frame::identity();
    m33::fromEulerAngles(f.basis, 0.3, -0.5, 1.2);
    m33::setScale(f.basis, {2, 0.5, 3});
    f.position = {4, -1, 7};
    m44 M;
    m44::fromFrame(M, f);
    M.at(3, 0) = 0.1;
    M.at(3, 2) = -0.2;
    return M;
}

} // namespace

TEST(M44, ColumnMajorLayoutAndMultiply)
{
    m44 T = m44::identity();
    T.at(0, 3) = 5;   // translation x
    EXPECT_EQ(T.m[12], 5);
    m44 S = m44::identity();
    S.at(0, 0) = 2;
    // T S scales first, then translates.
    m44 TS;
    m44::multiply(TS, T, S);
    v3 p;
    m44::transformPoint(TS, {1, 1, 1}, p);
    EXPECT_DOUBLE_EQ(p.x, 7);
    EXPECT_DOUBLE_EQ(p.y, 1);
    m44 ST;
    m44::multiply(ST, S, T);
    m44::transformPoint(ST, {1, 1, 1}, p);
    EXPECT_DOUBLE_EQ(p.x, 12);

    // Aliased output.
    m44 A = T;
    m44::multiply(A, A, S);
    expectNear(A, TS, 0);
}

TEST(M44, TransformPointDividesByW)
{
    m44 P = m44::identity();
    P.at(3, 2) = 1;   // w := z + 1
    P.at(3, 3) = 1;
    v3 out;
    m44::transformPoint(P, {2, 4, 1}, out);
    EXPECT_DOUBLE_EQ(out.x, 1);
    EXPECT_DOUBLE_EQ(out.y, 2);
    EXPECT_DOUBLE_EQ(out.z, 0.5);

    // w exactly 0: the point comes back undivided, not as infinities.
    m44 Z = m44::identity();
    Z.at(3, 3) = 0;
    m44::transformPoint(Z, {2, 4, 6}, out);
    EXPECT_EQ(out.x, 2);
    EXPECT_EQ(out.y, 4);
    EXPECT_EQ(out.z, 6);
}

TEST(M44, InverseOfRegularMatrix)
{
    m44 M = sampleMatrix();
    m44 inv, prod;
    ASSERT_TRUE(m44::inverse(inv, M));
    m44::multiply(prod, M, inv);
    expectNear(prod, m44::identity(), 1e-12);
    m44::multiply(prod, inv, M);
    expectNear(prod, m44::identity(), 1e-12);

    // The inverse of a rigid frame maps its points back.
    MDL_Frame f = MDL_Frame::identity();
    m33::fromEulerAngles(f.basis, 1, 2, 3);
    f.position = {1, 2, 3};
    m44 F, Fi;
    m44::fromFrame(F, f);
    ASSERT_TRUE(m44::inverse(Fi, F));
    v3 g, back;
    m44::transformPoint(F, {0.5, -2, 9}, g);
    m44::transformPoint(Fi, g, back);
    EXPECT_NEAR(back.x, 0.5, 1e-12);
    EXPECT_NEAR(back.y, -2, 1e-12);
    EXPECT_NEAR(back.z, 9, 1e-12);
}

TEST(M44, SingularMatrixGivesIdentityNotGarbage)
{
    m44 zero = {};
    m44 rankThree = m44::identity();
    rankThree.at(2, 2) = 0;
    m44 equalColumns = {{1, 2, 3, 4, 1, 2, 3, 4, 0, 0, 1, 0, 5, 6, 7, 1}};
    for (const m44* M : {&zero, &rankThree, &equalColumns}) {
        m44 inv;
        EXPECT_EQ(m44::determinant(*M), 0);
        EXPECT_FALSE(m44::inverse(inv, *M));
        for (double v : inv.m)
            ASSERT_TRUE(std::isfinite(v));
        expectNear(inv, m44::identity(), 0);
    }
}
