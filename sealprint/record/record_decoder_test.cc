#include "record/record_decoder.h"

#include <gtest/gtest.h>

namespace {

TEST(RecordDecoder, ReanalysisGetsABlankAfterItsFirstComma) {
    pdfData_s r;
    EXPECT_EQ(set_value_by_key(r, "Reanalysis", "Yes,2024-03-01 10:00"), 0);
    EXPECT_EQ(r.reanalysis, "Yes, 2024-03-01 10:00");
    set_value_by_key(r, "Reanalysis", "No");
    EXPECT_EQ(r.reanalysis, " No");
    set_value_by_key(r, "Reanalysis", "a,b,c");
    EXPECT_EQ(r.reanalysis, "a, b,c");
}

TEST(RecordDecoder, CountingModeSplitsIntoModeAndMethod) {
    pdfData_s r;
    set_value_by_key(r, "Counting mode", "Bright field cell counting,Total cell counting,extra");
    EXPECT_EQ(r.counting_mode, "Bright field cell counting");
    EXPECT_EQ(r.counting_method, "Total cell counting");
    // A lost continuation line must not leave the previous result's method behind.
    set_value_by_key(r, "Counting mode", "Fluorescence cell counting");
    EXPECT_EQ(r.counting_mode, "Fluorescence cell counting");
    EXPECT_EQ(r.counting_method, "");
    set_value_by_key(r, "Counting mode", ",,");
    EXPECT_EQ(r.counting_mode, "");
    EXPECT_EQ(r.counting_method, "");
}

TEST(RecordDecoder, SizeGatingBoundsInBothForms) {
    pdfData_s r;
    EXPECT_TRUE(size_gating_parser(r, "  5 ~ 50 um "));
    EXPECT_EQ(r.size_gating, "5 ~ 50 um");
    EXPECT_EQ(r.size_gating_min, "5");
    EXPECT_EQ(r.size_gating_max, "50");
    set_value_by_key(r, "Size gating", "10 \xE2\x89\xA4 x < 100 \xCE\xBCm");  // ≤ and μ
    EXPECT_EQ(r.size_gating_min, "10");
    EXPECT_EQ(r.size_gating_max, "100");
    EXPECT_TRUE(size_gating_parser(r, "7x12um"));
    EXPECT_EQ(r.size_gating_min, "7");
    EXPECT_EQ(r.size_gating_max, "12");
}

TEST(RecordDecoder, SizeGatingWithoutBoundsKeepsTheFormerBounds) {
    pdfData_s r;
    size_gating_parser(r, "5 ~ 50 um");
    EXPECT_FALSE(size_gating_parser(r, "10-20 um"));  // a hyphen joins no bounds
    EXPECT_EQ(r.size_gating, "10-20 um");
    EXPECT_FALSE(size_gating_parser(r, "10 ~ 20"));          // the unit is required
    EXPECT_FALSE(size_gating_parser(r, "\xD9\xA1 ~ 2 um"));  // Arabic-Indic digit one
    EXPECT_TRUE(size_gating_parser(r, "   "));
    EXPECT_EQ(r.size_gating, "");
    EXPECT_EQ(r.size_gating_min, "5");
    EXPECT_EQ(r.size_gating_max, "50");
}

TEST(RecordDecoder, ResultsKeepTheirUnitsOnlyWhenCombineIsOff) {
    pdfData_s r;
    r.live_cell_list = QStringList{"kept"};
    set_value_by_key(r, "Combine result", "Off");
    set_value_by_key(r, "[Live cell]", "1.25e6 cells/mL");
    set_value_by_key(r, "Viability", "92.4 %");
    set_value_by_key(r, "Avg. size", "12.3 um");
    set_value_by_key(r, "Total cell number", "1523");
    EXPECT_EQ(r.live_cell, "1.25e6");
    EXPECT_EQ(r.viability, "92.4 %");
    EXPECT_EQ(r.avg_size, "12.3 um");
    EXPECT_EQ(r.total_cell_number, "1523");
    EXPECT_EQ(r.live_cell_list, QStringList{"kept"});
    EXPECT_TRUE(r.viability_list.isEmpty());
}

TEST(RecordDecoder, CombinedResultsFillTheirLists) {
    pdfData_s r;
    set_value_by_key(r, "Combine result", "On");
    set_value_by_key(r, "[Total cell]", "1.25e6 cells/mL,3.1e4 cells/mL,2.5 %");
    set_value_by_key(r, "Avg. size", "12.3 um,1.1 um,8.9 %");
    set_value_by_key(r, "Viability", "92.4 %,1.2 %,1.3 %");
    set_value_by_key(r, "Dead cell number", "12,,3 %");
    EXPECT_EQ(r.total_cell, "1.25e6,3.1e4,2.5");
    EXPECT_EQ(r.total_cell_list, (QStringList{"1.25e6", "3.1e4", "2.5"}));
    EXPECT_EQ(r.avg_size_list, (QStringList{"12.3", "1.1", "8.9"}));
    EXPECT_EQ(r.viability_list, (QStringList{"92.4", "1.2", "1.3"}));
    EXPECT_EQ(r.dead_cell_number_list, (QStringList{"12", "", "3"}));
    // A result without "Combine result" (empty) counts as combined: a single value, one entry.
    pdfData_s single;
    set_value_by_key(single, "Live cell number", "880");
    EXPECT_EQ(single.live_cell_number_list, QStringList{"880"});
}

TEST(RecordDecoder, VolumeNeedsTwoParts) {
    pdfData_s r;
    set_value_by_key(r, "-", "416.6667");
    EXPECT_EQ(r.volume_factor_1, "");
    set_value_by_key(r, "-", "416.6667,,2,9");
    EXPECT_EQ(r.volume_factor_1, "416.6667");
    EXPECT_EQ(r.volume_factor_2, "2");
    set_value_by_key(r, "-", "1");
    EXPECT_EQ(r.volume_factor_1, "416.6667");
    EXPECT_EQ(r.volume_factor_2, "2");
}

TEST(RecordDecoder, KnownKeysStoreUtf8AndUnknownKeysChangeNothing) {
    pdfData_s r;
    EXPECT_EQ(set_value_by_key(r, "Instrument name", "K2-\xC3\x9C"), 0);
    EXPECT_EQ(r.device_name, QString::fromUtf8("K2-\xC3\x9C"));
    EXPECT_EQ(set_value_by_key(r, "Calibration value", "0.98,1.02"), 0);
    EXPECT_EQ(r.calibration_value, "0.98,1.02");
    EXPECT_EQ(set_value_by_key(r, "device name", "x"), -1);
    EXPECT_EQ(set_value_by_key(r, "Counting method", "x"), -1);
    EXPECT_EQ(r.device_name, QString::fromUtf8("K2-\xC3\x9C"));
    EXPECT_EQ(r.counting_method, "");
}

TEST(RecordDecoder, JobFormWritesTheProgramRecord) {
    set_value_by_key("Serial number", "ORK2-0137");
    EXPECT_EQ(g_data.serial_number, "ORK2-0137");
}

}  // namespace
