#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "math/vecmath.h"

namespace {

constexpr float kHalfRoot2 = 0.70710678f;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

void ExpectVec(const Vec3& v, float x, float y, float z) {
    EXPECT_NEAR(v.x, x, 1e-6f);
    EXPECT_NEAR(v.y, y, 1e-6f);
    EXPECT_NEAR(v.z, z, 1e-6f);
}

void ExpectQuat(const Quat& q, float x, float y, float z, float w) {
    EXPECT_NEAR(q.x, x, 1e-6f);
    EXPECT_NEAR(q.y, y, 1e-6f);
    EXPECT_NEAR(q.z, z, 1e-6f);
    EXPECT_NEAR(q.w, w, 1e-6f);
}

Mat4 Translation(float x, float y, float z) {
    Mat4 m = Mat4Identity();
    m.m[12] = x;
    m.m[13] = y;
    m.m[14] = z;
    return m;
}

TEST(Tolerance, ComparisonsAreStrictInSinglePrecision) {
    EXPECT_EQ(FloatNearlyEqual(1.0f, 1.0001f), 0);  // difference just above the tolerance
    EXPECT_EQ(FloatNearlyEqual(1.0f, 1.00005f), 1);
    EXPECT_EQ(FloatNearlyEqual(-2.0f, -2.00005f), 1);
    EXPECT_EQ(FloatNearlyEqual(0.0f, kMathTolerance), 0);
    EXPECT_EQ(FloatNearlyEqual(kNaN, kNaN), 0);
    EXPECT_EQ(FloatNearlyEqual(kNaN, 1.0f), 0);
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(FloatNearlyEqual(inf, inf), 0);
    EXPECT_EQ(FloatNearlyZero(-0.00005f), 1);
    EXPECT_EQ(FloatNearlyZero(kMathTolerance), 0);
    EXPECT_EQ(FloatNearlyZero(kNaN), 0);

    const Vec3 a{1.0f, 2.0f, 3.0f};
    const Vec3 closeToA{1.00005f, 2.0f, 2.99995f};
    const Vec3 zOff{1.0f, 2.0f, 3.001f};
    const Vec3 nanX{kNaN, 2.0f, 3.0f};
    EXPECT_EQ(Vec3NearlyEqual(&a, &closeToA), 1);
    EXPECT_EQ(Vec3NearlyEqual(&a, &zOff), 0);
    EXPECT_EQ(Vec3NearlyEqual(&a, &nanX), 0);
}

TEST(Vec3, NormalizeGivesZeroAtOrBelowTheTolerance) {
    const Vec3 tiny{0.00005f, 0.0f, 0.0f};
    Vec3 out{9.0f, 9.0f, 9.0f};
    ExpectVec(*Vec3Normalize(&out, &tiny), 0.0f, 0.0f, 0.0f);

    const Vec3 small{0.0002f, 0.0f, 0.0f};
    ExpectVec(*Vec3Normalize(&out, &small), 1.0f, 0.0f, 0.0f);

    Vec3 v{0.0f, 3.0f, 4.0f};
    ExpectVec(*Vec3Normalize(&v, &v), 0.0f, 0.6f, 0.8f);  // in place

    const Vec3 nan{kNaN, 0.0f, 0.0f};
    ExpectVec(*Vec3Normalize(&out, &nan), 0.0f, 0.0f, 0.0f);
    const Vec3 zero{0.0f, 0.0f, 0.0f};
    EXPECT_EQ(Vec3Length(&zero), 0.0f);
}

TEST(Vec3, CrossIsRightHandedAndMayAliasItsOperands) {
    Vec3 x{1.0f, 0.0f, 0.0f};
    const Vec3 y{0.0f, 1.0f, 0.0f};
    Vec3Cross(&x, &x, &y);
    ExpectVec(x, 0.0f, 0.0f, 1.0f);
}

TEST(Quat, InverseOfDegenerateAndNonUnitQuaternions) {
    Quat out;
    const Quat zero{0.0f, 0.0f, 0.0f, 0.0f};
    QuatInverse(&zero, &out);
    ExpectQuat(out, 0.0f, 0.0f, 0.0f, 1.0f);
    const Quat twoW{0.0f, 0.0f, 0.0f, 2.0f};
    QuatInverse(&twoW, &out);
    ExpectQuat(out, 0.0f, 0.0f, 0.0f, 1.0f);
    const Quat zw{0.0f, 0.0f, 1.0f, 1.0f};
    QuatInverse(&zw, &out);
    ExpectQuat(out, 0.0f, 0.0f, -kHalfRoot2, kHalfRoot2);
    const Quat nan{kNaN, 0.0f, 0.0f, 1.0f};
    QuatInverse(&nan, &out);
    ExpectQuat(out, 0.0f, 0.0f, 0.0f, 1.0f);
}

TEST(Quat, MultiplyByIdentityAndByInverse) {
    const Quat q{0.1f, -0.5f, 0.3f, 0.8f};
    const float r = 1.0f / QuatLength(&q);
    const Quat unit{q.x * r, q.y * r, q.z * r, q.w * r};

    const Quat identity = QuatIdentity();
    Quat out;
    QuatMultiply(&identity, &unit, &out);
    ExpectQuat(out, unit.x, unit.y, unit.z, unit.w);

    Quat inverse;
    QuatInverse(&unit, &inverse);
    Quat product = unit;
    QuatMultiply(&product, &inverse, &product);  // out aliases a
    ExpectQuat(product, 0.0f, 0.0f, 0.0f, 1.0f);
    EXPECT_NEAR(QuatDot(&unit, &unit), 1.0f, 1e-6f);
}

TEST(Quat, MultiplyAppliesTheRightOperandFirst) {
    Quat aboutZ;
    Quat aboutX;
    const Vec3 z{0.0f, 0.0f, 1.0f};
    const Vec3 x{1.0f, 0.0f, 0.0f};
    QuatFromAxisAngle(&aboutZ, &z, 1.0f);
    QuatFromAxisAngle(&aboutX, &x, 0.5f);
    Quat product;
    QuatMultiply(&aboutX, &aboutZ, &product);
    Mat4 mz, mx, combined, expected;
    QuatToMatrix(&aboutZ, &mz);
    QuatToMatrix(&aboutX, &mx);
    QuatToMatrix(&product, &combined);
    Mat4Multiply(&expected, &mx, &mz);  // column vectors: z first, then x
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(combined.m[i], expected.m[i], 1e-6f) << i;
}

TEST(Quat, FromAxisAngleRotatesByMinusAngleAboutAnUnnormalisedAxis) {
    Quat q;
    const Vec3 axis{0.0f, 0.0f, 2.0f};
    QuatFromAxisAngle(&q, &axis, 1.5707963f);
    ExpectQuat(q, 0.0f, 0.0f, -kHalfRoot2, kHalfRoot2);

    const Vec3 zero{0.0f, 0.0f, 0.0f};
    QuatFromAxisAngle(&q, &zero, 1.0f);
    ExpectQuat(q, 0.0f, 0.0f, 0.0f, 1.0f);
    const Vec3 nan{kNaN, 0.0f, 0.0f};
    QuatFromAxisAngle(&q, &nan, 1.0f);
    ExpectQuat(q, 0.0f, 0.0f, 0.0f, 1.0f);
}

TEST(Quat, ToMatrixIsColumnVectorForm) {
    const Quat q{0.0f, 0.0f, kHalfRoot2, kHalfRoot2};
    Mat4 m;
    QuatToMatrix(&q, &m);
    // Column vector (1, 0, 0) -> column 0 of m.
    ExpectVec(Vec3{m.m[0], m.m[4], m.m[8]}, 0.0f, 1.0f, 0.0f);
    EXPECT_EQ(m.m[15], 1.0f);
    EXPECT_EQ(m.m[3], 0.0f);
    EXPECT_EQ(m.m[12], 0.0f);
}

TEST(Mat4, MultiplyMayWriteIntoAnOperand) {
    Mat4 a = Translation(1.0f, 2.0f, 3.0f);
    a.m[1] = 0.5f;
    const Mat4 b = Translation(-4.0f, 0.0f, 1.0f);
    Mat4 separate;
    Mat4Multiply(&separate, &a, &b);
    Mat4Multiply(&a, &a, &b);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(a.m[i], separate.m[i]) << i;
    EXPECT_EQ(separate.m[12], -3.0f);
    EXPECT_EQ(separate.m[14], 4.0f);
}

TEST(Mat4, InverseAffineOfSingularTranslationAndGeneralMatrices) {
    Mat4 zeroRow = Translation(5.0f, 6.0f, 7.0f);
    zeroRow.m[4] = zeroRow.m[5] = zeroRow.m[6] = 0.0f;
    Mat4 out;
    Mat4InverseAffine(&out, &zeroRow);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out.m[i], Mat4Identity().m[i]) << i;

    Mat4 t = Translation(1.0f, 2.0f, 3.0f);
    Mat4InverseAffine(&t, &t);  // in place
    const Mat4 expected = Translation(-1.0f, -2.0f, -3.0f);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(t.m[i], expected.m[i]) << i;

    Mat4 general{{2.0f, 0.5f, 0.0f, 9.0f, -1.0f, 3.0f, 0.25f, 9.0f,
                  0.0f, 1.0f, 4.0f, 9.0f, 7.0f, -8.0f, 2.0f, 1.0f}};
    Mat4InverseAffine(&out, &general);
    Mat4 product;
    general.m[3] = general.m[7] = general.m[11] = 0.0f;  // column 3 is ignored
    Mat4Multiply(&product, &general, &out);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(product.m[i], Mat4Identity().m[i], 1e-5f) << i;
}

TEST(Mat4, InverseTransformPointUndoesARigidTransform) {
    Quat q;
    const Vec3 axis{1.0f, 2.0f, -1.0f};
    QuatFromAxisAngle(&q, &axis, 0.7f);
    Mat4 m;
    QuatToMatrix(&q, &m);
    m.m[3] = 4.0f;
    m.m[7] = -5.0f;
    m.m[11] = 6.0f;
    const Vec3 p{0.5f, -1.5f, 2.0f};
    Vec3 moved{m.m[0] * p.x + m.m[1] * p.y + m.m[2] * p.z + m.m[3],
               m.m[4] * p.x + m.m[5] * p.y + m.m[6] * p.z + m.m[7],
               m.m[8] * p.x + m.m[9] * p.y + m.m[10] * p.z + m.m[11]};
    Mat4InverseTransformPoint(&moved, &moved, &m);
    EXPECT_NEAR(moved.x, p.x, 1e-5f);
    EXPECT_NEAR(moved.y, p.y, 1e-5f);
    EXPECT_NEAR(moved.z, p.z, 1e-5f);
}

Mat4 WithColumn2(float x, float y, float z) {
    Mat4 m = Translation(0.0f, 0.0f, 0.0f);
    m.m[2] = x;
    m.m[6] = y;
    m.m[10] = z;
    m.m[3] = 7.0f;
    m.m[12] = 8.0f;
    return m;
}

TEST(Mat4, RebuildBasisFromZChoosesAnUpVectorAwayFromZ) {
    struct Case {
        Vec3 z, x, y;
    };
    const Case cases[] = {
        {{0.0f, 0.0f, 1.0f}, {1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}},
        {{0.0f, 0.0f, 2.0f}, {1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}},
        {{0.0f, 1.0f, 0.0f}, {1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, -1.0f}},     // up (0, 0, -1)
        {{0.0f, 1.00005f, 0.0f}, {1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, -1.0f}},  // nearly vertical
        {{0.0f, -1.0f, 0.0f}, {1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f}},     // up (0, 0, 1)
    };
    for (const Case& c : cases) {
        const Mat4 m = WithColumn2(c.z.x, c.z.y, c.z.z);
        Mat4 out;
        Mat4RebuildBasisFromZ(&out, &m);
        ExpectVec(Vec3{out.m[0], out.m[4], out.m[8]}, c.x.x, c.x.y, c.x.z);
        ExpectVec(Vec3{out.m[1], out.m[5], out.m[9]}, c.y.x, c.y.y, c.y.z);
        for (int i : {2, 3, 6, 7, 10, 11, 12, 13, 14, 15}) EXPECT_EQ(out.m[i], m.m[i]) << i;
    }
}

}  // namespace
