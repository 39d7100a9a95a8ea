// Polar decomposition of affine matrices: M = T * F * R * U * K * U^T.
//
// The linear part is split by a scaled Newton iteration into an orthogonal
// and a symmetric factor; the symmetric factor is diagonalised by cyclic
// Jacobi rotations; the stretch rotation is finally "snuggled" to the member
// of its axis-permutation family closest to the identity. Matrices,
// quaternions and results are single precision; the Newton scalars, the
// Jacobi sweep and the snuggle magnitudes run in double. The order of every
// sum matters to the last bit and must not be changed.
#include <cmath>

#include "math/vecmath.h"

namespace {

// Working matrix, [row][column]. Only rows and columns 0 to 2 take part in
// the arithmetic; row and column 3 ride along as the identity's.
struct Grid {
    float e[4][4];
};

constexpr double kSqrtHalf = 0.7071067811865476;
constexpr float kSqrtHalfF = static_cast<float>(kSqrtHalf);
constexpr double kPolarTolerance = 1.0e-6;
constexpr int kJacobiSweeps = 20;
// Magnitudes whose squares and triple products stay well inside the normal
// single-precision range. Steps that are invariant under scaling run on a
// copy rescaled by a power of two when their input falls outside it.
constexpr float kSafeRangeLow = 0x1p-20f;
constexpr float kSafeRangeHigh = 0x1p20f;

Grid IdentityGrid() {
    Grid g{};
    for (int i = 0; i < 4; ++i) g.e[i][i] = 1.0f;
    return g;
}

Grid Transpose3(const Grid& m) {
    Grid t = IdentityGrid();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) t.e[i][j] = m.e[j][i];
    }
    return t;
}

float Dot3(const float* a, const float* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

void Cross3(const float* a, const float* b, float* out) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// Largest absolute row sum (columns = false) or column sum (true) of the
// 3x3 part; 0 for a zero matrix. NaN sums never replace the maximum.
float SumNorm(const Grid& m, bool columns) {
    float largest = 0.0f;
    for (int i = 0; i < 3; ++i) {
        const double a = std::fabs(static_cast<double>(columns ? m.e[0][i] : m.e[i][0]));
        const double b = std::fabs(static_cast<double>(columns ? m.e[1][i] : m.e[i][1]));
        const double c = std::fabs(static_cast<double>(columns ? m.e[2][i] : m.e[i][2]));
        const float sum = static_cast<float>(a + b + c);
        if (largest < sum) largest = sum;
    }
    return largest;
}

float RowSumNorm(const Grid& m) { return SumNorm(m, false); }
float ColumnSumNorm(const Grid& m) { return SumNorm(m, true); }

// Column of the entry of largest magnitude (first one on ties), or -1 when
// every entry is zero or NaN.
int FindMaxColumn(const Grid& m) {
    float largest = 0.0f;
    int column = -1;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const float magnitude = std::fabs(m.e[i][j]);
            if (magnitude > largest) {
                largest = magnitude;
                column = j;
            }
        }
    }
    return column;
}

// Exponent e such that magnitude * 2^-e lies in [0.5, 1) when a positive,
// finite magnitude lies outside the range in which squares and triple
// products stay normal single-precision numbers; 0 otherwise.
int RescaleExponent(float magnitude) {
    if (!(magnitude > 0.0f) || !std::isfinite(magnitude) ||
        (magnitude >= kSafeRangeLow && magnitude <= kSafeRangeHigh)) {
        return 0;
    }
    int exponent = 0;
    std::frexp(magnitude, &exponent);
    return exponent;
}

// Householder vector u (|u|^2 = 2) of the reflection that maps v onto the
// z axis; the sign choice avoids cancellation in u[2]. u may be v.
void MakeReflector(const float* v, float* u) {
    float w[3] = {v[0], v[1], v[2]};
    float largest = 0.0f;
    for (float c : w) largest = std::fabs(c) > largest ? std::fabs(c) : largest;
    if (!(largest > 0.0f)) {
        // Any reflection maps a zero vector onto the axis; take the one a
        // vanishing z vector tends to rather than divide by zero.
        u[0] = 0.0f;
        u[1] = 0.0f;
        u[2] = static_cast<float>(std::sqrt(2.0));
        return;
    }
    // u does not depend on the length of v, and a power-of-two scaling is
    // exact: far from 1 the squares below would overflow or underflow.
    const int exponent = RescaleExponent(largest);
    if (exponent != 0) {
        for (float& c : w) c = std::ldexp(c, -exponent);
    }
    const float s = std::sqrt(Dot3(w, w));
    u[0] = w[0];
    u[1] = w[1];
    u[2] = w[2] + (w[2] < 0.0f ? -s : s);
    const float scale = static_cast<float>(std::sqrt(2.0 / Dot3(u, u)));
    u[0] *= scale;
    u[1] *= scale;
    u[2] *= scale;
}

// m := H * m, H = I - u u^T: reflects every column.
void ReflectColumns(Grid& m, const float* u) {
    for (int i = 0; i < 3; ++i) {
        const float s = u[0] * m.e[0][i] + u[1] * m.e[1][i] + u[2] * m.e[2][i];
        for (int j = 0; j < 3; ++j) m.e[j][i] -= u[j] * s;
    }
}

// m := m * H, H = I - u u^T: reflects every row.
void ReflectRows(Grid& m, const float* u) {
    for (int i = 0; i < 3; ++i) {
        const float s = Dot3(u, m.e[i]);
        for (int j = 0; j < 3; ++j) m.e[i][j] -= u[j] * s;
    }
}

// Orthogonal factor q of a 3x3 part m of rank 1 or 0 (identity for rank 0).
// m is reduced in place; q must be separate storage.
void LineFallback(Grid& m, Grid& q) {
    q = IdentityGrid();
    const int column = FindMaxColumn(m);
    if (column < 0) return;
    float ra[3] = {m.e[0][column], m.e[1][column], m.e[2][column]};
    MakeReflector(ra, ra);
    ReflectColumns(m, ra);
    float rb[3] = {m.e[2][0], m.e[2][1], m.e[2][2]};
    MakeReflector(rb, rb);
    ReflectRows(m, rb);
    if (m.e[2][2] < 0.0f) q.e[2][2] = -1.0f;
    ReflectColumns(q, ra);
    ReflectRows(q, rb);
}

// Replaces mk, whose 3x3 part has rank 2 or less, by its orthogonal factor.
// madjT is the transposed adjoint of mk.
void PlaneFallback(Grid& mk, const Grid& madjT) {
    const int column = FindMaxColumn(madjT);
    if (column < 0) {
        // A zero adjoint means rank 1 or 0. The line fallback reads the
        // matrix while it builds the factor, so the two need their own
        // storage; sharing it would reduce every such matrix to the identity.
        Grid q;
        LineFallback(mk, q);
        mk = q;
        return;
    }
    float ra[3] = {madjT.e[0][column], madjT.e[1][column], madjT.e[2][column]};
    MakeReflector(ra, ra);
    ReflectColumns(mk, ra);
    float rb[3];
    Cross3(mk.e[0], mk.e[1], rb);
    MakeReflector(rb, rb);
    ReflectRows(mk, rb);

    // What is left is a 2x2 block; its closest rotation or reflection.
    const float w = mk.e[0][0], x = mk.e[0][1], y = mk.e[1][0], z = mk.e[1][1];
    if (w * z > x * y) {
        float c = z + w;
        float s = y - x;
        const float d = std::sqrt(c * c + s * s);
        c = c / d;
        s = s / d;
        mk.e[0][0] = mk.e[1][1] = c;
        mk.e[1][0] = s;
        mk.e[0][1] = -s;
    } else {
        float c = z - w;
        float s = y + x;
        const float d = std::sqrt(c * c + s * s);
        c = c / d;
        s = s / d;
        mk.e[1][1] = c;
        mk.e[0][0] = -c;
        mk.e[0][1] = mk.e[1][0] = s;
    }
    mk.e[0][2] = mk.e[2][0] = mk.e[1][2] = mk.e[2][1] = 0.0f;
    mk.e[2][2] = 1.0f;
    ReflectColumns(mk, ra);
    ReflectRows(mk, rb);
}

// Rows are row1 x row2, row2 x row0, row0 x row1: the cofactor matrix.
void AdjointTranspose(const Grid& m, Grid& madjT) {
    Cross3(m.e[1], m.e[2], madjT.e[0]);
    Cross3(m.e[2], m.e[0], madjT.e[1]);
    Cross3(m.e[0], m.e[1], madjT.e[2]);
}

// Polar decomposition of the 3x3 part of m: m = q * s with q orthogonal and
// s symmetric positive semi-definite (row and column 3 of both from the
// identity). Returns the determinant of the last Newton iterate, whose sign
// is that of det(m). Always returns after at most kPolarIterationLimit
// passes (the last iterate stands if the tolerance is not met by then); NaN
// or infinite input gives a deterministic but meaningless result.
float PolarDecompose(const Grid& m, Grid& q, Grid& s) {
    Grid mk = Transpose3(m);
    float det = 0.0f;
    for (int pass = 0; pass < kPolarIterationLimit; ++pass) {
        Grid step = mk;
        float mOne = ColumnSumNorm(step);
        float mInf = RowSumNorm(step);
        const int exponent = RescaleExponent(mOne);
        if (exponent != 0) {
            // Power-of-two scaling is exact, and the new iterate does not
            // depend on it: the result equals the unscaled step wherever
            // that one neither overflows nor underflows.
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) step.e[i][j] = std::ldexp(step.e[i][j], -exponent);
            }
            mOne = ColumnSumNorm(step);
            mInf = RowSumNorm(step);
        }

        Grid madjT = IdentityGrid();
        AdjointTranspose(step, madjT);
        det = Dot3(step.e[0], madjT.e[0]);
        if (det == 0.0f) {
            PlaneFallback(step, madjT);
            mk = step;
            break;
        }
        const double madjTOne = ColumnSumNorm(madjT);
        const double madjTInf = RowSumNorm(madjT);
        const double gamma =
            std::sqrt(std::sqrt((madjTOne * madjTInf) / (static_cast<double>(mOne) * mInf)) /
                      std::fabs(static_cast<double>(det)));
        const double g1 = gamma * 0.5;
        const double g2 = 0.5 / (gamma * det);
        if (!std::isfinite(g1) || !std::isfinite(g2)) {
            // NaN or infinite entries (finite ones were brought into range
            // above): keep the last iterate rather than spread NaN through
            // it. The result is meaningless but deterministic.
            break;
        }

        Grid next = mk;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                next.e[i][j] = static_cast<float>(g1 * step.e[i][j] + g2 * madjT.e[i][j]);
            }
        }
        Grid change = mk;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) change.e[i][j] -= next.e[i][j];
        }
        mk = next;
        const double eOne = ColumnSumNorm(change);
        const double newOne = ColumnSumNorm(mk);
        if (!(eOne > newOne * kPolarTolerance)) break;
    }

    q = Transpose3(mk);
    s = IdentityGrid();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            s.e[i][j] = mk.e[i][0] * m.e[0][j] + mk.e[i][1] * m.e[1][j] + mk.e[i][2] * m.e[2][j];
        }
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = i; j < 3; ++j) s.e[i][j] = s.e[j][i] = 0.5f * (s.e[i][j] + s.e[j][i]);
    }
    return det;
}

// Eigen-decomposition of a symmetric 3x3 part s by cyclic Jacobi rotations:
// u receives the eigenvectors as columns, k the eigenvalues (k[3] = 1).
void SpectralDecompose(const Grid& s, Grid& u, float* k) {
    static constexpr int kNext[3] = {1, 2, 0};
    u = IdentityGrid();
    double diag[3] = {s.e[0][0], s.e[1][1], s.e[2][2]};
    // offD[i] is the off-diagonal element that omits index i.
    double offD[3] = {s.e[1][2], s.e[2][0], s.e[0][1]};
    for (int sweep = 0; sweep < kJacobiSweeps; ++sweep) {
        const float sum = static_cast<float>(std::fabs(offD[0]) + std::fabs(offD[1]) + std::fabs(offD[2]));
        if (sum == 0.0f) break;
        for (int i = 2; i >= 0; --i) {
            const int p = kNext[i];
            const int q = kNext[p];
            const double absOffD = std::fabs(offD[i]);
            if (!(absOffD > 0.0)) continue;
            const double g = 100.0 * absOffD;
            const double h = diag[q] - diag[p];
            const double absH = std::fabs(h);
            double t;
            if (absH + g == absH) {
                t = offD[i] / h;
            } else {
                const double theta = 0.5 * h / offD[i];
                t = 1.0 / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                if (theta < 0.0) t = -t;
            }
            const double c = 1.0 / std::sqrt(t * t + 1.0);
            const double sn = t * c;
            const double tau = sn / (c + 1.0);
            const double ta = t * offD[i];
            offD[i] = 0.0;
            diag[p] -= ta;
            diag[q] += ta;
            const double oldOffDq = offD[q];
            offD[q] -= sn * (offD[p] + tau * offD[q]);
            offD[p] += sn * (oldOffDq - tau * offD[p]);
            for (int j = 2; j >= 0; --j) {
                const double a = u.e[j][p];
                const double b = u.e[j][q];
                u.e[j][p] = static_cast<float>(u.e[j][p] - sn * (b + tau * a));
                u.e[j][q] = static_cast<float>(u.e[j][q] + sn * (a - tau * b));
            }
        }
    }
    k[0] = static_cast<float>(diag[0]);
    k[1] = static_cast<float>(diag[1]);
    k[2] = static_cast<float>(diag[2]);
    k[3] = 1.0f;
}

// Unit quaternion of the rotation in the 3x3 part of m (scaled by
// 1/sqrt(m[3][3]) when that is not 1). Starts from the largest of w, x, y, z
// to keep the square root away from zero.
Quat QuaternionFromMatrix(const Grid& m) {
    float c[4];  // x, y, z, w
    const double trace = m.e[0][0] + m.e[1][1] + m.e[2][2];
    if (trace >= 0.0) {
        double s = std::sqrt(trace + m.e[3][3]);
        c[3] = static_cast<float>(s * 0.5);
        s = 0.5 / s;
        c[0] = static_cast<float>((m.e[2][1] - m.e[1][2]) * s);
        c[1] = static_cast<float>((m.e[0][2] - m.e[2][0]) * s);
        c[2] = static_cast<float>((m.e[1][0] - m.e[0][1]) * s);
    } else {
        int h = 0;
        if (m.e[1][1] > m.e[0][0]) h = 1;
        if (m.e[2][2] > m.e[h][h]) h = 2;
        const int i = h;
        const int j = (h + 1) % 3;
        const int k = (h + 2) % 3;
        double s = std::sqrt(static_cast<double>((m.e[i][i] - (m.e[j][j] + m.e[k][k])) + m.e[3][3]));
        c[i] = static_cast<float>(s * 0.5);
        s = 0.5 / s;
        c[j] = static_cast<float>((m.e[i][j] + m.e[j][i]) * s);
        c[k] = static_cast<float>((m.e[k][i] + m.e[i][k]) * s);
        c[3] = static_cast<float>((m.e[k][j] - m.e[j][k]) * s);
    }
    if (m.e[3][3] != 1.0f) {
        const float scale = static_cast<float>(1.0 / std::sqrt(static_cast<double>(m.e[3][3])));
        for (float& v : c) v *= scale;
    }
    return Quat{c[0], c[1], c[2], c[3]};
}

// a * b, the rotation b first, then a.
Quat Product(const Quat& a, const Quat& b) {
    return Quat{a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
                a.w * b.y + a.y * b.w + a.z * b.x - a.x * b.z,
                a.w * b.z + a.z * b.w + a.x * b.y - a.y * b.x,
                a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

Quat Conjugate(const Quat& q) { return Quat{-q.x, -q.y, -q.z, q.w}; }

void Swap(float* a, int i, int j) {
    const float t = a[i];
    a[i] = a[j];
    a[j] = t;
}

// (x, y, z) -> (y, z, x) when left, else (z, x, y).
void Rotate(float* a, bool left) {
    if (left) {
        const float t = a[0];
        a[0] = a[1];
        a[1] = a[2];
        a[2] = t;
    } else {
        const float t = a[2];
        a[2] = a[1];
        a[1] = a[0];
        a[0] = t;
    }
}

// Snuggle for two equal stretch factors: only the odd axis is fixed, any
// rotation about it may be folded into p. ka is x, y, z.
Quat SnuggleAxis(Quat q, float* ka, int odd) {
    static constexpr Quat kXToZ{0.0f, kSqrtHalfF, 0.0f, kSqrtHalfF};
    static constexpr Quat kYToZ{kSqrtHalfF, 0.0f, 0.0f, kSqrtHalfF};
    static constexpr Quat kPpmm{0.5f, 0.5f, -0.5f, -0.5f};
    static constexpr Quat kPppp{0.5f, 0.5f, 0.5f, 0.5f};
    static constexpr Quat kMpmm{-0.5f, 0.5f, -0.5f, -0.5f};
    static constexpr Quat kPppm{0.5f, 0.5f, 0.5f, -0.5f};
    static constexpr Quat k0001{0.0f, 0.0f, 0.0f, 1.0f};
    static constexpr Quat k1000{1.0f, 0.0f, 0.0f, 0.0f};

    Quat toZ = k0001;
    if (odd == 0) {
        toZ = kXToZ;
        q = Product(q, toZ);
        Swap(ka, 0, 2);
    } else if (odd == 1) {
        toZ = kYToZ;
        q = Product(q, toZ);
        Swap(ka, 1, 2);
    }
    q = Conjugate(q);
    double mag[3] = {
        static_cast<double>(q.z) * q.z + static_cast<double>(q.w) * q.w - 0.5,
        static_cast<double>(q.x) * q.z - static_cast<double>(q.y) * q.w,
        static_cast<double>(q.y) * q.z + static_cast<double>(q.x) * q.w,
    };
    bool negative[3];
    for (int i = 0; i < 3; ++i) {
        negative[i] = mag[i] < 0.0;
        if (negative[i]) mag[i] = -mag[i];
    }
    int win;
    if (mag[0] > mag[1]) {
        win = mag[0] > mag[2] ? 0 : 2;
    } else {
        win = mag[1] > mag[2] ? 1 : 2;
    }
    Quat p;
    if (win == 0) {
        p = negative[0] ? k1000 : k0001;
    } else if (win == 1) {
        p = negative[1] ? kPpmm : kPppp;
        Rotate(ka, false);
    } else {
        p = negative[2] ? kMpmm : kPppm;
        Rotate(ka, true);
    }
    const Quat qp = Product(q, p);
    const double t = std::sqrt(mag[win] + 0.5);
    p = Product(p, Quat{0.0f, 0.0f, static_cast<float>(-qp.z / t), static_cast<float>(qp.w / t)});
    return Product(toZ, Conjugate(p));
}

// Snuggle for three distinct stretch factors: p is one of the 24 rotations
// that permute and flip the axes. ka is x, y, z.
Quat SnuggleGeneral(const Quat& q, float* ka) {
    float qa[4] = {q.x, q.y, q.z, q.w};
    float pa[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    bool negative[4];
    bool odd = false;
    for (int i = 0; i < 4; ++i) {
        negative[i] = qa[i] < 0.0f;
        if (negative[i]) qa[i] = -qa[i];
        odd = odd != negative[i];
    }
    auto withSign = [&](int i, float v) { return negative[i] ? -v : v; };

    // The two largest magnitudes: hi the largest, lo the runner-up.
    int lo = qa[0] > qa[1] ? 0 : 1;
    int hi = qa[2] > qa[3] ? 2 : 3;
    if (qa[lo] > qa[hi]) {
        if (qa[lo ^ 1] > qa[hi]) {
            hi = lo;
            lo ^= 1;
        } else {
            const int t = hi;
            hi = lo;
            lo = t;
        }
    } else if (qa[hi ^ 1] > qa[lo]) {
        lo = hi ^ 1;
    }
    const double all = (qa[0] + qa[1] + qa[2] + qa[3]) * 0.5;
    const double two = (qa[hi] + qa[lo]) * kSqrtHalf;
    const double big = qa[hi];
    if (all > two) {
        if (all > big) {
            for (int i = 0; i < 4; ++i) pa[i] = withSign(i, 0.5f);
            Rotate(ka, odd);
        } else {
            pa[hi] = withSign(hi, 1.0f);
        }
    } else if (two > big) {
        pa[hi] = withSign(hi, kSqrtHalfF);
        pa[lo] = withSign(lo, kSqrtHalfF);
        if (lo > hi) {
            const int t = hi;
            hi = lo;
            lo = t;
        }
        if (hi == 3) {
            static constexpr int kAxisAfter[3] = {1, 2, 0};
            hi = kAxisAfter[lo];
            lo = 3 - hi - lo;
        }
        Swap(ka, hi, lo);
    } else {
        pa[hi] = withSign(hi, 1.0f);
    }
    return Quat{-pa[0], -pa[1], -pa[2], pa[3]};
}

// Chooses, among the rotations that permute and flip the stretch axes, the
// one p that brings q closest to the identity, and permutes k (x, y, z) to
// match. Equal factors are detected by exact comparison.
Quat Snuggle(const Quat& q, float* k) {
    float ka[3] = {k[0], k[1], k[2]};
    Quat p;
    if (ka[0] == ka[1] && ka[0] == ka[2]) {
        p = Conjugate(q);
    } else if (ka[0] == ka[1]) {
        p = SnuggleAxis(q, ka, 2);
    } else if (ka[0] == ka[2]) {
        p = SnuggleAxis(q, ka, 1);
    } else if (ka[1] == ka[2]) {
        p = SnuggleAxis(q, ka, 0);
    } else {
        p = SnuggleGeneral(q, ka);
    }
    k[0] = ka[0];
    k[1] = ka[1];
    k[2] = ka[2];
    return p;
}

void Store(const Quat& q, float* out) {
    out[0] = q.x;
    out[1] = q.y;
    out[2] = q.z;
    out[3] = q.w;
}

}  // namespace

void DecomposeAffine(const Mat4* m, AffineParts* parts) {
    Grid a;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) a.e[r][c] = m->m[4 * r + c];
    }
    parts->t[0] = a.e[0][3];
    parts->t[1] = a.e[1][3];
    parts->t[2] = a.e[2][3];
    parts->t[3] = 0.0f;

    Grid q;
    Grid s;
    const float det = PolarDecompose(a, q, s);
    if (det < 0.0f) {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) q.e[i][j] = -q.e[i][j];
        }
        parts->f = -1.0f;
    } else {
        parts->f = 1.0f;
    }
    const Quat rotation = QuaternionFromMatrix(q);
    Store(rotation, parts->q);

    Grid u;
    SpectralDecompose(s, u, parts->k);
    const Quat stretch = QuaternionFromMatrix(u);
    const Quat p = Snuggle(stretch, parts->k);
    Store(Product(stretch, p), parts->u);
}
