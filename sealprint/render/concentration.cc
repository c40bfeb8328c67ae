#include "render/concentration.h"

#include "record/pdf_data.h"

#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace {

// The factors are written with a decimal point whatever locale the process runs in (the GUI
// application adopts the user's locale), so they are read in the C locale.
double leading_number(const QString& text) {
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return strtod_l(text.toUtf8().constData(), nullptr, c_locale);
}

}  // namespace

float round3(float x) {
    const float tenfold = 10.0f * x;
    if (tenfold > 999.0f) {
        // std::trunc rather than a cast to int: the same digits, and no overflow for huge values.
        return static_cast<float>(std::trunc(static_cast<double>(tenfold) + 0.5)) / 10.0f;
    }
    return x;
}

void getConcentration(int count, float dilution, float& mantissa, int& exponent) {
    const double f1 = leading_number(g_data.volume_factor_1);
    const double f2 = leading_number(g_data.volume_factor_2);
    float product = static_cast<float>(static_cast<double>(static_cast<float>(count)) * f1 *
                                       static_cast<double>(dilution) * f2);
    if (count < 0) {
        mantissa = -1.0f;
        exponent = -1;
        return;
    }
    exponent = 0;
    mantissa = 0.0f;
    // An infinite product would never shrink below 10.
    while (product > 1.0f && std::isfinite(product)) {
        mantissa = round3(product / 10.0f);
        if (mantissa < 1.0f) {
            mantissa = product;
            return;
        }
        ++exponent;
        product = mantissa;
    }
}

void getTotalConcentration(float m1, int e1, float m2, int e2, float& mantissa, int& exponent) {
    if (e1 > e2) {
        exponent = e1;
        m2 = m2 * static_cast<float>(std::pow(0.1, e1 - e2));
    } else if (e1 < e2) {
        exponent = e2;
        m1 = m1 * static_cast<float>(std::pow(0.1, e2 - e1));
    } else {
        exponent = e2;
    }
    float m = m1 + m2;
    int steps = 0;
    const float tenth = static_cast<float>(std::pow(0.1, 1));
    while (std::isfinite(m) && std::trunc(m) > 9.0f) {
        m = m * tenth;
        ++steps;
    }
    mantissa = m;
    exponent += steps;
}
