// Turning the largest bin count of a histogram into a concentration (cells per mL) shown as a
// mantissa with two decimals and a power of ten. The precisions (float against double) are
// part of the result: the labels must show the same digits the instrument shows.
#pragma once

// x rounded to one decimal, halves up, when 10·x exceeds 999; otherwise x unchanged.
float round3(float x);

// count × volume factor 1 × dilution × volume factor 2 (factors read from g_data on every
// call) as mantissa × 10^exponent with 1 <= mantissa < 10. A product of 1 or less (or one
// that is not finite) gives 0 and 0; a negative count gives -1 and -1.
void getConcentration(int count, float dilution, float& mantissa, int& exponent);

// (m1 × 10^e1) + (m2 × 10^e2), renormalised so that the mantissa's integer part is at most 9.
void getTotalConcentration(float m1, int e1, float m2, int e2, float& mantissa, int& exponent);
