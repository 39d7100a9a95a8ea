// Single-precision vector, quaternion and matrix operations.
//
// Every operation evaluates its terms in the order written in its comment:
// callers compare and print these results, so the rounding is part of the
// contract and no expression may be regrouped.
#include "math/vecmath.h"

#include <cmath>

Mat4 Mat4Identity() {
    return Mat4{{1.0f, 0.0f, 0.0f, 0.0f,
                 0.0f, 1.0f, 0.0f, 0.0f,
                 0.0f, 0.0f, 1.0f, 0.0f,
                 0.0f, 0.0f, 0.0f, 1.0f}};
}

Quat QuatIdentity() {
    return Quat{0.0f, 0.0f, 0.0f, 1.0f};
}

Vec3* Vec3Cross(Vec3* out, const Vec3* a, const Vec3* b) {
    // Read everything first so that out may alias either operand.
    const float x = a->y * b->z - a->z * b->y;
    const float y = a->z * b->x - a->x * b->z;
    const float z = a->x * b->y - a->y * b->x;
    *out = Vec3{x, y, z};
    return out;
}

float Vec3LengthSquared(const Vec3* v) {
    return v->x * v->x + v->y * v->y + v->z * v->z;
}

float Vec3Length(const Vec3* v) {
    const float squared = Vec3LengthSquared(v);
    return squared == 0.0f ? 0.0f : std::sqrt(squared);
}

Vec3* Vec3Normalize(Vec3* out, const Vec3* v) {
    const float length = Vec3Length(v);
    // NaN fails the comparison and gives the zero vector as well.
    if (length > kMathTolerance) {
        const float r = 1.0f / length;
        *out = Vec3{v->x * r, v->y * r, v->z * r};
    } else {
        *out = Vec3{0.0f, 0.0f, 0.0f};
    }
    return out;
}

int FloatNearlyEqual(float a, float b) {
    const float difference = a - b;
    return std::fabs(difference) < kMathTolerance ? 1 : 0;
}

int FloatNearlyZero(float a) {
    return std::fabs(a) < kMathTolerance ? 1 : 0;
}

int Vec3NearlyEqual(const Vec3* a, const Vec3* b) {
    return FloatNearlyEqual(a->x, b->x) && FloatNearlyEqual(a->y, b->y) &&
                   FloatNearlyEqual(a->z, b->z)
               ? 1
               : 0;
}

float QuatDot(const Quat* a, const Quat* b) {
    return (a->y * b->y + a->x * b->x) + a->z * b->z + a->w * b->w;
}

float QuatLengthSquared(const Quat* q) {
    return q->x * q->x + q->y * q->y + q->z * q->z + q->w * q->w;
}

float QuatLength(const Quat* q) {
    const float squared = QuatLengthSquared(q);
    return squared == 0.0f ? 0.0f : std::sqrt(squared);
}

void QuatInverse(const Quat* q, Quat* out) {
    const float n = QuatLength(q);
    if (n > 0.0f) {
        const float r = 1.0f / n;
        *out = Quat{-q->x * r, -q->y * r, -q->z * r, q->w * r};
    } else {
        *out = QuatIdentity();
    }
}

void QuatMultiply(const Quat* a, const Quat* b, Quat* out) {
    const float x = a->x * b->w + a->y * b->z - a->z * b->y + a->w * b->x;
    const float y = a->y * b->w - a->x * b->z + a->z * b->x + a->w * b->y;
    const float z = a->x * b->y - a->y * b->x + a->z * b->w + a->w * b->z;
    const float w = a->w * b->w - (a->x * b->x + a->y * b->y + a->z * b->z);
    *out = Quat{x, y, z, w};
}

void QuatFromAxisAngle(Quat* out, const Vec3* axis, float angle) {
    const double squared = static_cast<double>(Vec3LengthSquared(axis));
    if (!(squared > 0.0)) {
        *out = QuatIdentity();
        return;
    }
    // Half angle, sine and cosine in double; the axis length divides out here
    // so that a non-unit axis still gives a unit quaternion.
    const double half = static_cast<double>(angle) * -0.5;
    const float f = static_cast<float>(std::sin(half) / std::sqrt(squared));
    *out = Quat{f * axis->x, f * axis->y, f * axis->z,
                static_cast<float>(std::cos(half))};
}

void QuatToMatrix(const Quat* q, Mat4* out) {
    const float x = q->x, y = q->y, z = q->z, w = q->w;
    float* m = out->m;
    m[0] = 1.0f - 2.0f * y * y - 2.0f * z * z;
    m[1] = 2.0f * x * y - 2.0f * w * z;
    m[2] = 2.0f * x * z + 2.0f * w * y;
    m[3] = 0.0f;
    m[4] = 2.0f * x * y + 2.0f * w * z;
    m[5] = 1.0f - 2.0f * x * x - 2.0f * z * z;
    m[6] = 2.0f * y * z - 2.0f * w * x;
    m[7] = 0.0f;
    m[8] = 2.0f * x * z - 2.0f * w * y;
    m[9] = 2.0f * y * z + 2.0f * w * x;
    m[10] = 1.0f - 2.0f * x * x - 2.0f * y * y;
    m[11] = 0.0f;
    m[12] = 0.0f;
    m[13] = 0.0f;
    m[14] = 0.0f;
    m[15] = 1.0f;
}

Mat4* Mat4Transpose(Mat4* out, const Mat4* m) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) out->m[4 * r + c] = m->m[4 * c + r];
    }
    return out;
}

void Mat4Multiply(Mat4* out, const Mat4* a, const Mat4* b) {
    Mat4 product;
    for (int r = 0; r < 4; ++r) {
        const float* row = a->m + 4 * r;
        for (int c = 0; c < 4; ++c) {
            product.m[4 * r + c] = row[0] * b->m[c] + row[1] * b->m[4 + c] +
                                   row[2] * b->m[8 + c] + row[3] * b->m[12 + c];
        }
    }
    *out = product;
}

void Mat4InverseAffine(Mat4* out, const Mat4* m) {
    const float* a = m->m;
    const float det = a[0] * (a[5] * a[10] - a[6] * a[9]) -
                      a[1] * (a[4] * a[10] - a[6] * a[8]) +
                      a[2] * (a[4] * a[9] - a[5] * a[8]);
    if (det == 0.0f) {
        *out = Mat4Identity();
        return;
    }
    const float r = 1.0f / det;
    Mat4 inverse;
    float* o = inverse.m;
    o[0] = (a[5] * a[10] - a[6] * a[9]) * r;
    o[1] = -(a[1] * a[10] - a[2] * a[9]) * r;
    o[2] = (a[1] * a[6] - a[2] * a[5]) * r;
    o[3] = 0.0f;
    o[4] = -(a[4] * a[10] - a[6] * a[8]) * r;
    o[5] = (a[0] * a[10] - a[2] * a[8]) * r;
    o[6] = -(a[0] * a[6] - a[2] * a[4]) * r;
    o[7] = 0.0f;
    o[8] = (a[4] * a[9] - a[5] * a[8]) * r;
    o[9] = -(a[0] * a[9] - a[1] * a[8]) * r;
    o[10] = (a[0] * a[5] - a[1] * a[4]) * r;
    o[11] = 0.0f;
    o[12] = -(a[12] * o[0] + a[13] * o[4] + a[14] * o[8]);
    o[13] = -(a[12] * o[1] + a[13] * o[5] + a[14] * o[9]);
    o[14] = -(a[12] * o[2] + a[13] * o[6] + a[14] * o[10]);
    o[15] = 1.0f;
    *out = inverse;
}

void Mat4InverseTransformPoint(Vec3* out, const Vec3* p, const Mat4* m) {
    const float* a = m->m;
    const float dx = p->x - a[3];
    const float dy = p->y - a[7];
    const float dz = p->z - a[11];
    *out = Vec3{dx * a[0] + dy * a[4] + dz * a[8],
                dx * a[1] + dy * a[5] + dz * a[9],
                dx * a[2] + dy * a[6] + dz * a[10]};
}

Mat4* Mat4RebuildBasisFromZ(Mat4* out, const Mat4* m) {
    const Vec3 z{m->m[2], m->m[6], m->m[10]};
    // An up vector parallel to z would give a zero cross product; the two
    // vertical directions get a horizontal up instead.
    static constexpr Vec3 kUp{0.0f, 1.0f, 0.0f};
    static constexpr Vec3 kDown{0.0f, -1.0f, 0.0f};
    Vec3 up = kUp;
    if (Vec3NearlyEqual(&kUp, &z)) {
        up = Vec3{0.0f, 0.0f, -1.0f};
    } else if (Vec3NearlyEqual(&kDown, &z)) {
        up = Vec3{0.0f, 0.0f, 1.0f};
    }
    Vec3 x;
    Vec3 y;
    Vec3Cross(&x, &up, &z);
    Vec3Cross(&y, &z, &x);
    Vec3Normalize(&x, &x);
    Vec3Normalize(&y, &y);

    Mat4 rebuilt = *m;
    rebuilt.m[0] = x.x;
    rebuilt.m[4] = x.y;
    rebuilt.m[8] = x.z;
    rebuilt.m[1] = y.x;
    rebuilt.m[5] = y.y;
    rebuilt.m[9] = y.z;
    *out = rebuilt;
    return out;
}
