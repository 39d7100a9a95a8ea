#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "math/vecmath.h"

namespace {

// Column-vector affine matrix from a linear 3x3 part (row-major) and a translation.
Mat4 Affine(const float (&l)[9], float tx = 0.0f, float ty = 0.0f, float tz = 0.0f) {
    return Mat4{{l[0], l[1], l[2], tx, l[3], l[4], l[5], ty, l[6], l[7], l[8], tz,
                 0.0f, 0.0f, 0.0f, 1.0f}};
}

Mat4 Diagonal(float x, float y, float z) {
    Mat4 m = Mat4Identity();
    m.m[0] = x;
    m.m[5] = y;
    m.m[10] = z;
    return m;
}

Mat4 RotationOf(const float* q) {
    const Quat quat{q[0], q[1], q[2], q[3]};
    Mat4 m;
    QuatToMatrix(&quat, &m);
    return m;
}

// T * F * R * U * K * U^T.
Mat4 Reassemble(const AffineParts& p) {
    const Mat4 u = RotationOf(p.u);
    Mat4 ut;
    Mat4Transpose(&ut, &u);
    const Mat4 k = Diagonal(p.k[0], p.k[1], p.k[2]);
    Mat4 m = RotationOf(p.q);
    Mat4Multiply(&m, &m, &u);
    Mat4Multiply(&m, &m, &k);
    Mat4Multiply(&m, &m, &ut);
    for (int i = 0; i < 12; ++i) m.m[i] *= p.f;
    m.m[3] = p.t[0];
    m.m[7] = p.t[1];
    m.m[11] = p.t[2];
    return m;
}

void ExpectReassembles(const Mat4& m, const AffineParts& p, float tolerance) {
    const Mat4 r = Reassemble(p);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(r.m[i], m.m[i], tolerance) << "element " << i;
    EXPECT_TRUE(p.f == 1.0f || p.f == -1.0f);
}

float Norm4(const float* q) { return std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]); }

void ExpectQuatEq(const float* q, float x, float y, float z, float w) {
    EXPECT_NEAR(q[0], x, 1e-6f);
    EXPECT_NEAR(q[1], y, 1e-6f);
    EXPECT_NEAR(q[2], z, 1e-6f);
    EXPECT_NEAR(q[3], w, 1e-6f);
}

void ExpectK(const AffineParts& p, float x, float y, float z) {
    EXPECT_NEAR(p.k[0], x, 1e-6f);
    EXPECT_NEAR(p.k[1], y, 1e-6f);
    EXPECT_NEAR(p.k[2], z, 1e-6f);
    EXPECT_EQ(p.k[3], 1.0f);
}

TEST(DecomposeAffine, UniformScalesGiveIdentityRotations) {
    // The identity, and a scale by 2 with a translation (all-equal snuggle).
    const float cases[2][4] = {{1.0f, 0.0f, 0.0f, 0.0f}, {2.0f, 5.0f, 6.0f, 7.0f}};
    for (const auto& c : cases) {
        const Mat4 m = Affine({c[0], 0, 0, 0, c[0], 0, 0, 0, c[0]}, c[1], c[2], c[3]);
        AffineParts p;
        DecomposeAffine(&m, &p);
        SCOPED_TRACE(c[0]);
        ExpectQuatEq(p.t, c[1], c[2], c[3], 0.0f);
        ExpectQuatEq(p.q, 0.0f, 0.0f, 0.0f, 1.0f);
        ExpectQuatEq(p.u, 0.0f, 0.0f, 0.0f, 1.0f);
        ExpectK(p, c[0], c[0], c[0]);
        EXPECT_EQ(p.f, 1.0f);
    }
}

TEST(DecomposeAffine, DistinctAxisScalesKeepTheirOrder) {
    const Mat4 m = Diagonal(2.0f, 3.0f, 4.0f);
    AffineParts p;
    DecomposeAffine(&m, &p);
    ExpectK(p, 2.0f, 3.0f, 4.0f);
    EXPECT_NEAR(std::fabs(p.u[3]), 1.0f, 1e-6f);
    EXPECT_NEAR(std::fabs(p.q[3]), 1.0f, 1e-6f);
}

TEST(DecomposeAffine, MirrorGivesNegativeSignAndPositiveStretch) {
    const Mat4 m = Diagonal(-1.0f, 1.0f, 1.0f);
    AffineParts p;
    DecomposeAffine(&m, &p);
    EXPECT_EQ(p.f, -1.0f);
    ExpectK(p, 1.0f, 1.0f, 1.0f);
    ExpectReassembles(m, p, 1e-6f);
}

TEST(DecomposeAffine, QuarterTurnAboutZ) {
    const Mat4 m = Affine({0, -1, 0, 1, 0, 0, 0, 0, 1});
    AffineParts p;
    DecomposeAffine(&m, &p);
    ExpectQuatEq(p.q, 0.0f, 0.0f, 0.7071068f, 0.7071068f);
    ExpectK(p, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(p.f, 1.0f);
}

TEST(DecomposeAffine, SingularMatricesTakeTheFallbacks) {
    AffineParts p;
    // Rank 2: a zero scale on one axis after a rotation.
    const Mat4 plane = Affine({0, -2, 0, 3, 0, 0, 0, 0, 0}, 1.0f, 2.0f, 3.0f);
    DecomposeAffine(&plane, &p);
    ExpectReassembles(plane, p, 1e-5f);
    EXPECT_NEAR(Norm4(p.q), 1.0f, 1e-6f);

    // Rank 1 whose row and column directions differ: the factor must be a
    // true rotation, not the identity.
    const Mat4 line = Affine({0, 0, 0, 0, 0, 0, 2, 0, 0});
    DecomposeAffine(&line, &p);
    ExpectReassembles(line, p, 1e-5f);
    EXPECT_NEAR(Norm4(p.q), 1.0f, 1e-6f);

    const Mat4 zero = Affine({0, 0, 0, 0, 0, 0, 0, 0, 0}, 4.0f, 0.0f, 0.0f);
    DecomposeAffine(&zero, &p);
    ExpectQuatEq(p.q, 0.0f, 0.0f, 0.0f, 1.0f);
    ExpectK(p, 0.0f, 0.0f, 0.0f);
    EXPECT_EQ(p.t[0], 4.0f);
}

void RandomUnitQuat(std::mt19937& rng, float* q) {
    std::normal_distribution<float> normal(0.0f, 1.0f);
    float n = 0.0f;
    while (n < 1e-3f) {
        for (int i = 0; i < 4; ++i) q[i] = normal(rng);
        n = Norm4(q);
    }
    for (int i = 0; i < 4; ++i) q[i] /= n;
}

TEST(DecomposeAffine, ReassemblesRandomAffineMatrices) {
    std::mt19937 rng(20240611u);
    std::uniform_real_distribution<float> scale(0.05f, 20.0f);
    std::uniform_real_distribution<float> offset(-100.0f, 100.0f);
    for (int n = 0; n < 2000; ++n) {
        float r[4];
        RandomUnitQuat(rng, r);
        const bool mirror = n % 2 == 1;
        // Every third matrix has two equal factors to exercise the axis snuggle.
        const float sx = scale(rng);
        const float sy = n % 3 == 0 ? sx : scale(rng);
        const Mat4 k = Diagonal(mirror ? -sx : sx, sy, scale(rng));
        Mat4 m = RotationOf(r);
        Mat4Multiply(&m, &m, &k);
        m.m[3] = offset(rng);
        m.m[7] = offset(rng);
        m.m[11] = offset(rng);

        AffineParts p;
        DecomposeAffine(&m, &p);
        SCOPED_TRACE(n);
        EXPECT_EQ(p.f, mirror ? -1.0f : 1.0f);
        EXPECT_NEAR(Norm4(p.q), 1.0f, 1e-5f);
        EXPECT_NEAR(Norm4(p.u), 1.0f, 1e-5f);
        for (int i = 0; i < 3; ++i) EXPECT_GT(p.k[i], 0.0f);
        ExpectReassembles(m, p, 2e-4f * 20.0f);
        if (!mirror) {
            // Rotation times positive diagonal: the essential rotation is r itself.
            const float dot = p.q[0] * r[0] + p.q[1] * r[1] + p.q[2] * r[2] + p.q[3] * r[3];
            EXPECT_NEAR(std::fabs(dot), 1.0f, 1e-4f);
        }
    }
}

TEST(DecomposeAffine, ExtremeScalesStayAccurate) {
    // Cofactors of these overflow or underflow single precision.
    const float r[4] = {0.2f, -0.4f, 0.4f, 0.8f};
    for (float s : {1e25f, 1e-20f}) {
        Mat4 m = RotationOf(r);
        const Mat4 k = Diagonal(s, 2.0f * s, 3.0f * s);
        Mat4Multiply(&m, &m, &k);
        AffineParts p;
        DecomposeAffine(&m, &p);
        SCOPED_TRACE(s);
        const float dot = p.q[0] * r[0] + p.q[1] * r[1] + p.q[2] * r[2] + p.q[3] * r[3];
        EXPECT_NEAR(std::fabs(dot), 1.0f, 1e-5f);
        EXPECT_NEAR(p.k[0] / s, 1.0f, 1e-5f);
        EXPECT_NEAR(p.k[1] / s, 2.0f, 1e-5f);
        EXPECT_NEAR(p.k[2] / s, 3.0f, 1e-5f);
    }
}

TEST(DecomposeAffine, HostileInputTerminatesDeterministically) {
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
        AffineParts first;
        AffineParts second;
        std::memset(&first, 0x11, sizeof first);
        std::memset(&second, 0x22, sizeof second);
        DecomposeAffine(&m, &first);
        DecomposeAffine(&m, &second);
        EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0);
        EXPECT_TRUE(first.f == 1.0f || first.f == -1.0f);
    }
    // The ill-conditioned but finite diagonal still gives a rotation.
    AffineParts p;
    DecomposeAffine(&inputs[4], &p);
    ExpectQuatEq(p.q, 0.0f, 0.0f, 0.0f, 1.0f);
}

}  // namespace
