/*
 * Internal side of the colour database: its current values for modules and
 * tests that look at them without building the database, and the matrix
 * product the conversion state shares with the matrix operations.
 */
#ifndef ZEP_SRC_CONFIG_COLOUR_DB_H
#define ZEP_SRC_CONFIG_COLOUR_DB_H

namespace zep {

/* True from the start of a build until CLR_exit or a failed build. */
bool colour_is_built();

/* The current values. Before a build, and after a tear-down, they are the
 * built-in ones: 3 samples, 380 to 780 nm, 401 rows. */
int colour_default_samples();
float colour_min_wavelength();
float colour_max_wavelength();
int colour_resolution();

/* The resampled matching table: colour_resolution() rows of xbar, ybar,
 * zbar at min + j * d; null when the database is not built. */
const float *colour_resampled();

/* Rows in the tristimulus list: those of the file, plus the 81 built-in
 * ones when they were entered. */
int colour_row_count();

/* Number of sample-bin sets; 0 when the database is not built. */
int colour_set_count();

/* out = a . b for 3x3 matrices stored row by row; out may alias a or b. */
void colour_matrix_multiply(const float a[9], const float b[9], float out[9]);

} // namespace zep

#endif // ZEP_SRC_CONFIG_COLOUR_DB_H
