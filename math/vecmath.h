// Single-precision vectors, quaternions and 4x4 matrices, and the polar
// decomposition of affine matrices.
//
// Plain records and free functions: none allocates, fails or keeps state.
// Output first where a function has one. Angles are in radians.
//
// Two matrix conventions meet here. Row-vector form (p' = p * M) keeps the
// translation in row 3 (elements 12, 13, 14): the node matrices of ASE files.
// Column-vector form (p' = M * p) keeps it in column 3 (elements 3, 7, 11):
// QuatToMatrix and DecomposeAffine. A transpose turns one into the other.
#pragma once

struct Vec3 {
    float x, y, z;
};

// x, y, z, w; the identity is (0, 0, 0, 1).
struct Quat {
    float x, y, z, w;
};

// Sixteen floats, row-major: element (r, c) at index 4r + c.
struct Mat4 {
    float m[16];
};

// The comparison tolerance: the single-precision value nearest 0.0001.
inline constexpr float kMathTolerance = 0.0001f;

Mat4 Mat4Identity();
Quat QuatIdentity();

Vec3* Vec3Cross(Vec3* out, const Vec3* a, const Vec3* b);
float Vec3LengthSquared(const Vec3* v);
// 0 when the squared length is exactly 0, else its square root.
float Vec3Length(const Vec3* v);
// Unit vector when the length exceeds the tolerance, else (0, 0, 0). out may be v.
Vec3* Vec3Normalize(Vec3* out, const Vec3* v);

// 1 when |a - b| < tolerance (single precision, strict; NaN gives 0).
int FloatNearlyEqual(float a, float b);
// 1 when |a| < tolerance.
int FloatNearlyZero(float a);
// FloatNearlyEqual on x, then y, then z.
int Vec3NearlyEqual(const Vec3* a, const Vec3* b);

// (a.y*b.y + a.x*b.x) + a.z*b.z + a.w*b.w, summed in that order.
float QuatDot(const Quat* a, const Quat* b);
float QuatLengthSquared(const Quat* q);
float QuatLength(const Quat* q);
// Conjugate divided by the length; (0, 0, 0, 1) for a zero quaternion.
void QuatInverse(const Quat* q, Quat* out);
// Hamilton product a * b (b first, then a). out may be a or b.
void QuatMultiply(const Quat* a, const Quat* b, Quat* out);
// The rotation by -angle about axis (axis need not be unit length; a zero
// axis gives the identity).
void QuatFromAxisAngle(Quat* out, const Vec3* axis, float angle);
// Column-vector rotation matrix of a unit quaternion.
void QuatToMatrix(const Quat* q, Mat4* out);

// out and m must be distinct.
Mat4* Mat4Transpose(Mat4* out, const Mat4* m);
// out = a * b; out may be a or b.
void Mat4Multiply(Mat4* out, const Mat4* a, const Mat4* b);
// Inverse of a row-vector affine matrix; the identity for a singular one.
// out may be m.
void Mat4InverseAffine(Mat4* out, const Mat4* m);
// R^T * (p - t) for a column-vector rigid matrix. out may be p.
void Mat4InverseTransformPoint(Vec3* out, const Vec3* p, const Mat4* m);
// Makes columns 0 and 1 of m orthonormal to its column 2, keeping column 2,
// the translation and row 3.
Mat4* Mat4RebuildBasisFromZ(Mat4* out, const Mat4* m);

// The parts of an affine matrix M = T * F * R * U * K * U^T.
struct AffineParts {
    float t[4];  // translation x, y, z, 0
    float q[4];  // essential rotation (x, y, z, w)
    float u[4];  // stretch rotation (x, y, z, w)
    float k[4];  // stretch factors x, y, z, 1
    float f;     // sign of the determinant: 1 or -1
};

// Upper bound on the polar iteration. Well-conditioned matrices converge in
// a handful of steps; the bound only keeps crafted input from spinning.
inline constexpr int kPolarIterationLimit = 100;

// Splits a column-vector affine matrix (row 3 taken as 0, 0, 0, 1) into its
// parts with the polar decomposition. Fills every float of `parts`.
void DecomposeAffine(const Mat4* m, AffineParts* parts);
