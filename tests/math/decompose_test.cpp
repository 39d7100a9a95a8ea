#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <random>

#include "math/vecmath.h"

namespace {

// Column-vector affine matrix from a linear 3x3 part (row-major) and a translation.
Mat4 Affine(const float (&l)[9], float tx = 0.0f, float ty = 0.0f, float tz = 0.0f) {
    return Mat4{{l[0], l[1], l[2], tx, l[3], l[4], l[5], ty, l[6], l[7], l[8], tz, 0.0f, 0.0f, 0.0f, 1.0f}};
}

Mat4 Diagonal(float x, float y, float z) { return Affine({x, 0, 0, 0, y, 0, 0, 0, z}); }

Mat4 RotationOf(const float* q) {
    const Quat quat{q[0], q[1], q[2], q[3]};
    Mat4 m;
    QuatToMatrix(&quat, &m);
    return m;
}

float Dot4(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3]; }

// Decomposes `m` and expects T * F * R * U * K * U^T to give it back, with
// unit quaternions and a sign of +-1.
AffineParts ExpectReassembles(const Mat4& m, float tolerance) {
    AffineParts p;
    DecomposeAffine(&m, &p);
    const Mat4 u = RotationOf(p.u), k = Diagonal(p.k[0], p.k[1], p.k[2]);
    Mat4 ut, r = RotationOf(p.q);
    Mat4Transpose(&ut, &u);
    for (const Mat4* factor : std::initializer_list<const Mat4*>{&u, &k, &ut}) Mat4Multiply(&r, &r, factor);
    for (int i = 0; i < 16; ++i) {
        const float expected = i % 4 == 3 && i < 12 ? p.t[i / 4] : i < 12 ? p.f * r.m[i] : r.m[i];
        EXPECT_NEAR(expected, m.m[i], tolerance) << "element " << i;
    }
    EXPECT_TRUE(p.f == 1.0f || p.f == -1.0f);
    EXPECT_NEAR(Dot4(p.q, p.q), 1.0f, 1e-5f);
    EXPECT_NEAR(Dot4(p.u, p.u), 1.0f, 1e-5f);
    EXPECT_EQ(p.k[3], 1.0f);
    return p;
}

// Simple and degenerate matrices: scales, a mirror, a quarter turn, and the
// singular ones that take the fallbacks (rank 2; rank 1 whose row and
// column directions differ, where the factor must be a true rotation and
// not the identity; zero). NaN in an expectation means "any".
TEST(DecomposeAffine, SimpleAndDegenerateMatrices) {
    const float any = std::numeric_limits<float>::quiet_NaN();
    const struct {
        const char* name;
        Mat4 m;
        float f;
        float q[4];
        float k[3];
    } cases[] = {
        {"uniform scale and translation", Affine({2, 0, 0, 0, 2, 0, 0, 0, 2}, 5, 6, 7), 1, {0, 0, 0, 1}, {2, 2, 2}},
        {"distinct axis scales keep their order", Diagonal(2, 3, 4), 1, {0, 0, 0, 1}, {2, 3, 4}},
        {"mirror", Diagonal(-1, 1, 1), -1, {any}, {1, 1, 1}},
        {"quarter turn about z", Affine({0, -1, 0, 1, 0, 0, 0, 0, 1}), 1, {0, 0, 0.7071068f, 0.7071068f}, {1, 1, 1}},
        {"rank 2", Affine({0, -2, 0, 3, 0, 0, 0, 0, 0}, 1, 2, 3), 1, {any}, {any}},
        {"rank 1", Affine({0, 0, 0, 0, 0, 0, 2, 0, 0}), 1, {any}, {any}},
        {"zero", Affine({0, 0, 0, 0, 0, 0, 0, 0, 0}, 4, 0, 0), 1, {0, 0, 0, 1}, {0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const AffineParts p = ExpectReassembles(c.m, 1e-5f);
        EXPECT_EQ(p.f, c.f);
        for (int i = 0; i < 4 && !std::isnan(c.q[0]); ++i) EXPECT_NEAR(p.q[i], c.q[i], 1e-6f) << "q " << i;
        for (int i = 0; i < 3 && !std::isnan(c.k[0]); ++i) EXPECT_NEAR(p.k[i], c.k[i], 1e-6f) << "k " << i;
        // Diagonal stretches need no stretch rotation.
        EXPECT_NEAR(std::isnan(c.k[0]) ? 1.0f : std::fabs(p.u[3]), 1.0f, 1e-6f);
    }
}

TEST(DecomposeAffine, ReassemblesRandomAffineMatrices) {
    std::mt19937 rng(20240611u);
    std::uniform_real_distribution<float> scale(0.05f, 20.0f);
    std::uniform_real_distribution<float> offset(-100.0f, 100.0f);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    for (int n = 0; n < 2000; ++n) {
        float r[4];
        for (float& c : r) c = normal(rng);
        const float length = std::sqrt(Dot4(r, r));
        for (float& c : r) c /= length;
        const bool mirror = n % 2 == 1;
        // Every third matrix has two equal factors to exercise the axis snuggle.
        const float sx = scale(rng);
        const float sy = n % 3 == 0 ? sx : scale(rng);
        const Mat4 k = Diagonal(mirror ? -sx : sx, sy, scale(rng));
        Mat4 m = RotationOf(r);
        Mat4Multiply(&m, &m, &k);
        for (int i : {3, 7, 11}) m.m[i] = offset(rng);
        SCOPED_TRACE(n);
        const AffineParts p = ExpectReassembles(m, 2e-4f * 20.0f);
        EXPECT_EQ(p.f, mirror ? -1.0f : 1.0f);
        for (int i = 0; i < 3; ++i) EXPECT_GT(p.k[i], 0.0f);
        // Rotation times positive diagonal: the essential rotation is r itself.
        EXPECT_NEAR(mirror ? 1.0f : std::fabs(Dot4(p.q, r)), 1.0f, 1e-4f);
    }
}

// NaN, infinities and magnitudes whose cofactors overflow or underflow single
// precision: the result does not depend on what the output held before, and
// finite extremes still give the rotation and stretch they were made of.
TEST(DecomposeAffine, HostileAndExtremeInputs) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Mat4 inputs[] = {
        Affine({nan, nan, nan, nan, nan, nan, nan, nan, nan}),
        Affine({1, 0, 0, 0, nan, 0, 0, 0, 1}),
        Affine({inf, 0, 0, 0, 1, 0, 0, 0, 1}),
        Affine({inf, -inf, 0, 1, inf, 0, 0, 0, nan}),
        Affine({1e30f, 0, 0, 0, 1, 0, 0, 0, 1e-30f}),
        Affine({1e30f, 1e30f, 0, 1e30f, 1e30f, 1e-30f, 0, 0, 1e-38f}),
        Affine({3e38f, 3e38f, 3e38f, -3e38f, 3e38f, 1, 1e-45f, 0, 3e38f}),
    };
    for (const Mat4& m : inputs) {
        AffineParts first, second;
        std::memset(&first, 0x11, sizeof first);
        std::memset(&second, 0x22, sizeof second);
        DecomposeAffine(&m, &first);
        DecomposeAffine(&m, &second);
        EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0);
        EXPECT_TRUE(first.f == 1.0f || first.f == -1.0f);
    }
    AffineParts p;
    DecomposeAffine(&inputs[4], &p);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(p.q[i], i == 3 ? 1.0f : 0.0f, 1e-6f);
    const float r[4] = {0.2f, -0.4f, 0.4f, 0.8f};
    for (float s : {1e25f, 1e-20f}) {
        Mat4 m = RotationOf(r);
        const Mat4 k = Diagonal(s, 2.0f * s, 3.0f * s);
        Mat4Multiply(&m, &m, &k);
        DecomposeAffine(&m, &p);
        SCOPED_TRACE(s);
        EXPECT_NEAR(std::fabs(Dot4(p.q, r)), 1.0f, 1e-5f);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(p.k[i] / s, i + 1.0f, 1e-5f);
    }
}

}  // namespace
