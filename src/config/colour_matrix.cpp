/*
 * The 3x3 matrix operations of the colour database: the RGB-to-XYZ matrix of
 * a set of primaries, inversion by Gauss-Jordan elimination with partial
 * pivoting, and the product. Matrices are stored row by row and apply to row
 * vectors. One template serves the single-precision interface and the double
 * precision that the primaries are worked out in.
 */
#include <cmath>
#include <cstring>

#include <zep/colour.h>

#include "config/colour_db.h"
#include "config/colour_tables.h"

namespace {

/* Below this the primaries are taken as not independent. */
constexpr double kMinDeterminant = 1e-6;

/* Inverts m into inverse; false when a pivot is zero (inverse untouched). */
template <typename T> bool invert(const T m[9], T inverse[9])
{
    T a[3][3], b[3][3];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            a[r][c] = m[3 * r + c];
            b[r][c] = r == c ? T(1) : T(0);
        }
    for (int col = 0; col < 3; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 3; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
        if (a[pivot][col] == 0) return false;
        if (pivot != col)
            for (int c = 0; c < 3; ++c) {
                T t = a[col][c];
                a[col][c] = a[pivot][c];
                a[pivot][c] = t;
                t = b[col][c];
                b[col][c] = b[pivot][c];
                b[pivot][c] = t;
            }
        const T p = a[col][col];
        for (int c = 0; c < 3; ++c) {
            a[col][c] /= p;
            b[col][c] /= p;
        }
        for (int r = 0; r < 3; ++r) {
            if (r == col) continue;
            const T f = a[r][col];
            if (f == 0) continue;
            for (int c = 0; c < 3; ++c) {
                a[r][c] -= f * a[col][c];
                b[r][c] -= f * b[col][c];
            }
        }
    }
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            inverse[3 * r + c] = b[r][c];
    return true;
}

} // namespace

int CLR_matrix_from_primaries(const float chromaticities[8], float m[9])
{
    double p[9]; /* rows: x, y, z of red, green, blue */
    for (int i = 0; i < 3; ++i) {
        const double x = chromaticities[2 * i], y = chromaticities[2 * i + 1];
        p[3 * i] = x;
        p[3 * i + 1] = y;
        p[3 * i + 2] = 1 - x - y;
    }
    const double xw = chromaticities[6], yw = chromaticities[7];
    /* The determinant is twice the area of the triangle the primaries span
     * in the chromaticity plane. Primaries on one line give zero, or, from
     * rounded single-precision inputs, a few units of 1e-8. */
    const double det = p[0] * (p[4] * p[8] - p[5] * p[7]) - p[1] * (p[3] * p[8] - p[5] * p[6]) +
                       p[2] * (p[3] * p[7] - p[4] * p[6]);
    double inverse[9];
    if (yw == 0 || !(std::fabs(det) > kMinDeterminant) || !invert(p, inverse)) {
        std::memset(m, 0, 9 * sizeof(float));
        return 0;
    }
    /* [sr sg sb] . P = white at Y = 1, so [sr sg sb] = white . P^-1 */
    const double white[3] = {xw / yw, 1, (1 - xw - yw) / yw};
    for (int i = 0; i < 3; ++i) {
        double s = 0;
        for (int k = 0; k < 3; ++k)
            s += white[k] * inverse[3 * k + i];
        for (int c = 0; c < 3; ++c)
            m[3 * i + c] = zep::colour::narrow(s * p[3 * i + c]);
    }
    return 1;
}

int CLR_matrix_invert(const float m[9], float inverse[9]) { return invert(m, inverse) ? 1 : 0; }

namespace zep {

void colour_matrix_multiply(const float a[9], const float b[9], float out[9])
{
    float r[9];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double s = 0;
            for (int k = 0; k < 3; ++k)
                s += static_cast<double>(a[3 * i + k]) * b[3 * k + j];
            r[3 * i + j] = colour::narrow(s);
        }
    std::memcpy(out, r, sizeof r);
}

} // namespace zep
