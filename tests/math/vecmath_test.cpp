#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <limits>

#include "math/vecmath.h"

namespace {

constexpr float kHalfRoot2 = 0.70710678f;
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// Element-wise comparison of vectors, quaternions and matrices.
template <class T>
void ExpectNear(const T& actual, const T& expected, float tolerance = 1e-6f) {
    float a[sizeof(T) / sizeof(float)], e[sizeof(T) / sizeof(float)];
    std::memcpy(a, &actual, sizeof a);
    std::memcpy(e, &expected, sizeof e);
    for (size_t i = 0; i < std::size(a); ++i) EXPECT_NEAR(a[i], e[i], tolerance) << "element " << i;
}

Mat4 Translation(float x, float y, float z) { return Mat4{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1}}; }

// Comparisons are strict in single precision: differences just above the
// tolerance, the tolerance itself, NaN and infinity are not near. Each
// vector component in turn holds the pair.
TEST(Tolerance, ComparisonsAreStrictInSinglePrecision) {
    const struct { float a, b; int equal; } pairs[] = {{1.0f, 1.0001f, 0}, {1.0f, 1.00005f, 1}, {-2.0f, -2.00005f, 1},
                                                       {0.0f, kMathTolerance, 0}, {kNaN, kNaN, 0}, {kNaN, 1.0f, 0},
                                                       {kInf, kInf, 0}};
    float Vec3::*const axes[] = {&Vec3::x, &Vec3::y, &Vec3::z};
    for (size_t i = 0; i < std::size(pairs); ++i) {
        const auto& p = pairs[i];
        EXPECT_EQ(FloatNearlyEqual(p.a, p.b), p.equal) << p.a << " " << p.b;
        EXPECT_EQ(FloatNearlyZero(p.a - p.b), p.equal) << p.a << " " << p.b;
        Vec3 a{1.0f, 2.0f, 3.0f}, b = a;
        a.*axes[i % 3] = p.a;
        b.*axes[i % 3] = p.b;
        EXPECT_EQ(Vec3NearlyEqual(&a, &b), p.equal) << p.a << " " << p.b;
    }
}

TEST(Vec3, NormalizeGivesZeroAtOrBelowTheToleranceAndMayWorkInPlace) {
    const struct { Vec3 in, out; } cases[] = {{{0.00005f, 0, 0}, {0, 0, 0}}, {{0.0002f, 0, 0}, {1, 0, 0}},
                                              {{kNaN, 0, 0}, {0, 0, 0}}, {{0, 3, 4}, {0, 0.6f, 0.8f}}};
    for (const auto& c : cases) {
        Vec3 out{9.0f, 9.0f, 9.0f}, v = c.in;
        ExpectNear<Vec3>(*Vec3Normalize(&out, &c.in), c.out);
        ExpectNear<Vec3>(*Vec3Normalize(&v, &v), c.out);
    }
}

// Degenerate quaternions and axes give the identity; the inverse of a
// non-unit quaternion is that of its unit form; a quarter turn about an
// unnormalised axis gives the rotation by minus the angle.
TEST(Quat, InverseAndAxisAngleOfDegenerateAndNonUnitInputs) {
    const struct { Quat in, out; } inverses[] = {{{0, 0, 0, 0}, {0, 0, 0, 1}},
                                                 {{0, 0, 0, 2}, {0, 0, 0, 1}},
                                                 {{0, 0, 1, 1}, {0, 0, -kHalfRoot2, kHalfRoot2}},
                                                 {{kNaN, 0, 0, 1}, {0, 0, 0, 1}}};
    for (const auto& c : inverses) {
        Quat out;
        QuatInverse(&c.in, &out);
        ExpectNear(out, c.out);
    }
    const struct { Vec3 axis; float angle; Quat out; } turns[] = {{{0, 0, 2}, 1.5707963f, {0, 0, -kHalfRoot2, kHalfRoot2}},
                                                                  {{0, 0, 0}, 1.0f, {0, 0, 0, 1}},
                                                                  {{kNaN, 0, 0}, 1.0f, {0, 0, 0, 1}}};
    for (const auto& c : turns) {
        Quat q;
        QuatFromAxisAngle(&q, &c.axis, c.angle);
        ExpectNear(q, c.out);
    }
}

TEST(Quat, MultiplyByInverseAndInOrder) {
    const Quat q{0.1f, -0.5f, 0.3f, 0.8f};
    const float r = 1.0f / QuatLength(&q);
    Quat product{q.x * r, q.y * r, q.z * r, q.w * r}, inverse;
    QuatInverse(&product, &inverse);
    QuatMultiply(&product, &inverse, &product);  // the result aliases an operand
    ExpectNear(product, QuatIdentity());

    // The right operand applies first: column vectors, z then x.
    Quat aboutZ, aboutX;
    const Vec3 z{0.0f, 0.0f, 1.0f}, x{1.0f, 0.0f, 0.0f};
    QuatFromAxisAngle(&aboutZ, &z, 1.0f);
    QuatFromAxisAngle(&aboutX, &x, 0.5f);
    QuatMultiply(&aboutX, &aboutZ, &product);
    Mat4 mz, mx, combined, expected;
    QuatToMatrix(&aboutZ, &mz);
    QuatToMatrix(&aboutX, &mx);
    QuatToMatrix(&product, &combined);
    Mat4Multiply(&expected, &mx, &mz);
    ExpectNear(combined, expected);
}

TEST(Mat4, InverseAffineOfSingularTranslationAndGeneralMatrices) {
    Mat4 zeroRow = Translation(5.0f, 6.0f, 7.0f);
    zeroRow.m[4] = zeroRow.m[5] = zeroRow.m[6] = 0.0f;
    Mat4 out;
    Mat4InverseAffine(&out, &zeroRow);
    ExpectNear(out, Mat4Identity(), 0.0f);

    Mat4 t = Translation(1.0f, 2.0f, 3.0f);
    Mat4InverseAffine(&t, &t);  // in place
    ExpectNear(t, Translation(-1.0f, -2.0f, -3.0f), 0.0f);

    // Column 3 is ignored; the product is formed in place.
    Mat4 general{{2.0f, 0.5f, 0.0f, 9.0f, -1.0f, 3.0f, 0.25f, 9.0f, 0.0f, 1.0f, 4.0f, 9.0f, 7.0f, -8.0f, 2.0f, 1.0f}};
    Mat4InverseAffine(&out, &general);
    general.m[3] = general.m[7] = general.m[11] = 0.0f;
    Mat4Multiply(&general, &general, &out);
    ExpectNear(general, Mat4Identity(), 1e-5f);
}

// The up vector is (0, 1, 0) unless Z is nearly along it, then (0, 0, -1)
// or (0, 0, 1) against Z's sign; every element but the first two columns is
// kept. (The basis is made of cross products, right-handed.)
TEST(Mat4, RebuildBasisFromZChoosesAnUpVectorAwayFromZ) {
    const struct { Vec3 z, x, y; } cases[] = {{{0, 0, 2}, {1, 0, 0}, {0, 1, 0}},
                                              {{0, 1.00005f, 0}, {1, 0, 0}, {0, 0, -1}},
                                              {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}}};
    for (const auto& c : cases) {
        Mat4 m = Mat4Identity();
        m.m[2] = c.z.x;
        m.m[6] = c.z.y;
        m.m[10] = c.z.z;
        m.m[3] = 7.0f;
        m.m[12] = 8.0f;
        Mat4 out;
        Mat4RebuildBasisFromZ(&out, &m);
        ExpectNear<Vec3>({out.m[0], out.m[4], out.m[8]}, c.x);
        ExpectNear<Vec3>({out.m[1], out.m[5], out.m[9]}, c.y);
        for (int i : {2, 3, 6, 7, 10, 11, 12, 13, 14, 15}) EXPECT_EQ(out.m[i], m.m[i]) << i;
    }
}

}  // namespace
