#include "render/concentration.h"

#include "record/pdf_data.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

// With both volume factors at 1 and a dilution of 1 the product is the count itself.
class Concentration : public testing::Test {
protected:
    void SetUp() override {
        g_data.volume_factor_1 = "1";
        g_data.volume_factor_2 = "1";
    }
    void TearDown() override {
        g_data.volume_factor_1.clear();
        g_data.volume_factor_2.clear();
    }
    static std::pair<float, int> of(int count, float dilution = 1.0f) {
        float mantissa = 123.0f;
        int exponent = 123;
        getConcentration(count, dilution, mantissa, exponent);
        return {mantissa, exponent};
    }
};

}  // namespace

TEST(Round3, RoundsToOneDecimalOnlyAboveNinetyNinePointNine) {
    EXPECT_EQ(round3(99.9f), 99.9f);
    EXPECT_EQ(round3(123.45f), 123.5f);
    EXPECT_EQ(round3(99.99f), 100.0f);
    EXPECT_EQ(round3(5.55f), 5.55f);
    EXPECT_EQ(round3(-12345.67f), -12345.67f);
    // Ten times this is beyond the range of int; the rounding must not overflow.
    EXPECT_FLOAT_EQ(round3(3e9f), 3e9f);
}

TEST_F(Concentration, NormalisesWithRepeatedRounding) {
    EXPECT_EQ(of(1234567), std::make_pair(1.235f, 6));
    EXPECT_EQ(of(9999), std::make_pair(1.0f, 4));  // 99.99 rounds up to 100.0 on the way
    EXPECT_EQ(of(999), std::make_pair(9.99f, 2));
    EXPECT_EQ(of(5000000), std::make_pair(5.0f, 6));
    EXPECT_EQ(of(10), std::make_pair(1.0f, 1));
    EXPECT_EQ(of(7), std::make_pair(7.0f, 0));
}

TEST_F(Concentration, SmallZeroAndNegativeCounts) {
    EXPECT_EQ(of(1, 0.5f), std::make_pair(0.0f, 0));
    EXPECT_EQ(of(1), std::make_pair(0.0f, 0));
    EXPECT_EQ(of(0), std::make_pair(0.0f, 0));
    EXPECT_EQ(of(-1), std::make_pair(-1.0f, -1));
}

TEST_F(Concentration, MultipliesCountByBothFactorsAndDilution) {
    g_data.volume_factor_1 = "2.5";
    g_data.volume_factor_2 = "1000 extra";  // read as far as it is a number
    EXPECT_EQ(of(200, 2.0f), std::make_pair(1.0f, 6));
    g_data.volume_factor_2 = "abc";
    EXPECT_EQ(of(200, 2.0f), std::make_pair(0.0f, 0));
}

TEST_F(Concentration, ProductBeyondFloatRangeGivesZeroInsteadOfLoopingForever) {
    g_data.volume_factor_1 = "1e30";
    g_data.volume_factor_2 = "1e30";
    EXPECT_EQ(of(5), std::make_pair(0.0f, 0));
    EXPECT_EQ(of(5, std::numeric_limits<float>::quiet_NaN()), std::make_pair(0.0f, 0));
}

TEST(TotalConcentration, AlignsExponentsAndRenormalises) {
    const auto sum = [](float m1, int e1, float m2, int e2) {
        float m = 0;
        int e = 0;
        getTotalConcentration(m1, e1, m2, e2, m, e);
        return std::make_pair(m, e);
    };
    EXPECT_EQ(sum(5.0f, 6, 2.0f, 5), std::make_pair(5.2f, 6));
    EXPECT_EQ(sum(2.0f, 5, 5.0f, 6), std::make_pair(5.2f, 6));
    EXPECT_EQ(sum(9.0f, 6, 2.0f, 6), std::make_pair(1.1f, 7));
    EXPECT_EQ(sum(4.0f, 3, 6.0f, 3), std::make_pair(1.0f, 4));
    EXPECT_EQ(sum(9.0f, 2, 0.5f, 2), std::make_pair(9.5f, 2));  // integer part 9 stays
}
