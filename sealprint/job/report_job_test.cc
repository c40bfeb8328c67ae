// Runs with TZ=UTC (set by the test registration).
#include "job/report_job.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "common/files.h"
#include "common/scratch.h"

namespace {

TEST(ApprovalSlots, UnderscoreIdLeavesTheSlotEmpty) {
    pdfData_s r;
    fill_approval_slots(r, {"_", "416e6e", "1709288132", "_", "_", "", "_", "", "x"}, "now");
    EXPECT_EQ(r.L1_approval_id, "");
    EXPECT_EQ(r.L1_approval_name_hex, "");
    EXPECT_EQ(r.L1_approval_name, "");
    EXPECT_EQ(r.L1_approval_date, "");
    EXPECT_EQ(r.L2_approval_name, "");
    EXPECT_EQ(r.L3_approval_date, "");
}

TEST(ApprovalSlots, DatesOfSignedSlots) {
    pdfData_s r;
    fill_approval_slots(
        r, {"u1", "_", "", "u2", "4a6f73c3a9", "1709288132", "u3", "416e6e", "yesterday"},
        "02 Mar 2024 08:00:00");
    EXPECT_EQ(r.L1_approval_id, "u1");
    EXPECT_EQ(r.L1_approval_name_hex, "_");
    EXPECT_EQ(r.L1_approval_name, "_");
    EXPECT_EQ(r.L1_approval_date, "02 Mar 2024 08:00:00");
    EXPECT_EQ(r.L2_approval_name_hex, "4a6f73c3a9");
    EXPECT_EQ(r.L2_approval_name, QString::fromUtf8("Jos\xC3\xA9"));
    EXPECT_EQ(r.L2_approval_date, "01 Mar 2024 10:15:32");
    EXPECT_EQ(r.L3_approval_date, "yesterday");

    fill_approval_slots(r, {"u1", "", "-86400", "u2", "", "+0", "u3", "", "9223372036854775807"},
                        "now");
    EXPECT_EQ(r.L1_approval_date, "31 Dec 1969 00:00:00");
    EXPECT_EQ(r.L2_approval_date, "01 Jan 1970 00:00:00");
    // Beyond what a date can hold: shown as given rather than blank.
    EXPECT_EQ(r.L3_approval_date, "9223372036854775807");
}

TEST(ApprovalSlots, DateAtTheEdgeOfTheRangeEastOfUtcStaysAsGiven) {
    // Fourteen hours east: adding the offset would carry the instant past what Qt can count.
    setenv("TZ", "XST-14", 1);
    tzset();
    pdfData_s r;
    fill_approval_slots(r, {"u1", "", "9223372036851175", "_", "", "", "_", "", ""}, "now");
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(r.L1_approval_date, "9223372036851175");
}

TEST(ApprovalSlots, EmptyIdKeepsTheDateAsGiven) {
    pdfData_s r;
    fill_approval_slots(r, {"", "416e6e", "1709288132", "", "", "", "_", "", ""}, "now");
    EXPECT_EQ(r.L1_approval_id, "");
    EXPECT_EQ(r.L1_approval_name, "Ann");
    EXPECT_EQ(r.L1_approval_date, "1709288132");
    EXPECT_EQ(r.L2_approval_date, "");
}

TEST(ReadResult, KeyMissingFromALaterResultKeepsTheEarlierValue) {
    const scratch_dir_s scratch("read_result");
    const std::string first = scratch.file("1.csv"), second = scratch.file("2.csv");
    ASSERT_TRUE(
        write_file(first,
                   "Cell count report\n=====\nDate,D1\nSerial number,ORK2-0137\n\n"
                   "Device setting\n-----\nCalibration value,0.98,1.02,1.00\nPixel shift,2,-1\n"));
    ASSERT_TRUE(write_file(second, "Cell count report\n=====\nDate,D2\n"));
    ::testing::internal::CaptureStdout();
    read_result(QString::fromStdString(first));
    read_result(QString::fromStdString(second));
    const std::string log = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("<sealprint> Serial number : search fail ! \n"), std::string::npos) << log;
    EXPECT_EQ(g_data.date, "D2");
    EXPECT_EQ(g_data.serial_number, "ORK2-0137");
    EXPECT_EQ(g_data.calibration_value, "0.98 / 1.02 / 1.00");
    EXPECT_EQ(g_data.pixel_shift, "2 / -1");
}

}  // namespace
