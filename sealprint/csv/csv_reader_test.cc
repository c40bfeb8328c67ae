#include "csv/csv_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "common/files.h"
#include "common/scratch.h"

namespace {

class CsvReader : public ::testing::Test {
protected:
    void write(const std::string& text) { ASSERT_TRUE(write_file(path_, text)) << path_; }
    // The value on result 1, otherwise "<result N>".
    std::string lookup(csv_category_e category, const char* key) {
        char value[CSV_VALUE_SIZE];
        int r = search_value_by_key(path_.c_str(), category, key, value);
        return r == 1 ? std::string(value) : "<result " + std::to_string(r) + ">";
    }

    scratch_dir_s scratch_{"csv_reader_test"};
    const std::string path_ = scratch_.file("result.csv");
};

const char* const kReport =
    "Cell count report\n"
    "=================\n"
    "Date,2024-03-01 10:15:32\n"
    "Instrument name,K2-0137\n"
    "Reanalysis,Yes,,2024\n"
    "Counting mode,Bright field cell counting\n"
    ",Total cell counting\n"
    "Serial number,\"ORK2,,0137\"\n"
    ",,User,,jdoe,\n"
    "\n"
    "Device setting\n"
    "--------------\n"
    "Slide type,3 channel slide\n"
    "\n"
    "Protocol\n"
    "Some note\n"
    "\n"
    "== Protocol -----------==\n"
    "Protocol name,\n"
    "Dilution factor,2\n"
    "\n"
    "Min. cell size,5 um\n"
    "\n"
    "Cell count results\n"
    "------------------\n"
    "Viability,92.4 %\n"
    "Graph\n"
    "-----\n"
    "Cluster Histogram,5,4,3,2,1,0,0,0,0\n"
    "\n"
    "Volume\n"
    "------\n"
    "416.6667,2,extra\n"
    "second,line\n";

TEST_F(CsvReader, FindsValuesWithStrtokFieldSemantics) {
    write(kReport);
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Date"), "2024-03-01 10:15:32");
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Reanalysis"), "Yes,2024");
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Serial number"), "\"ORK2,0137\"");
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "User"), "jdoe");
    EXPECT_EQ(lookup(CSV_DEVICE_SETTING, "Slide type"), "3 channel slide");
    EXPECT_EQ(lookup(CSV_PROTOCOL, "Protocol name"), "");
    EXPECT_EQ(lookup(CSV_PROTOCOL, "Dilution factor"), "2");
    EXPECT_EQ(lookup(CSV_GRAPH, "Cluster Histogram"), "5,4,3,2,1,0,0,0,0");
}

TEST_F(CsvReader, DeviceNameAlsoMatchesInstrumentNameButNotTheOtherWay) {
    write(kReport);
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Device name"), "K2-0137");
    write("Cell count report\n=====\nDevice name,A\n");
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Instrument name"), "<result -1>");
}

TEST_F(CsvReader, SectionDataEndsAtTheFirstBlankLine) {
    write(kReport);
    EXPECT_EQ(lookup(CSV_PROTOCOL, "Min. cell size"), "<result -1>");
    // Keys of other sections are not found, unless the next section follows without a blank.
    EXPECT_EQ(lookup(CSV_DEVICE_SETTING, "Date"), "<result -1>");
    EXPECT_EQ(lookup(CSV_CELL_COUNT_RESULTS, "Cluster Histogram"), "5,4,3,2,1,0,0,0,0");
    // The continuation line of "Counting mode" is an ordinary data line for other lookups.
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Total cell counting"), "");
}

TEST_F(CsvReader, VolumeIsTheFirstDataLineWhole) {
    write(kReport);
    EXPECT_EQ(lookup(CSV_VOLUME, "-"), "416.6667,2,extra");
    EXPECT_EQ(lookup(CSV_VOLUME, "anything"), "416.6667,2,extra");
}

TEST_F(CsvReader, CountingModeJoinsItsContinuationLine) {
    write(kReport);
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Counting mode"),
              "Bright field cell counting,Total cell counting");
    write("Cell count report\n=====\nCounting mode,Fluorescence cell counting\n\nDate,x\n");
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Counting mode"), "Fluorescence cell counting");
    write("Cell count report\n=====\nCounting mode,Fluorescence cell counting\n");
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Counting mode"), "<result 0>");
}

TEST_F(CsvReader, CountingModeAndContinuationAreCutToTheBuffer) {
    const std::string mode(400, 'M'), method(300, 'T');
    write("Cell count report\n=====\nCounting mode," + mode + "\n," + method + "\n");
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Counting mode"), (mode + "," + method).substr(0, 511));
}

TEST_F(CsvReader, InstrumentSettingServesOnlyWhenDeviceSettingIsAbsent) {
    write("Instrument setting\n-----\nSlide type,1 channel slide\n");
    EXPECT_EQ(lookup(CSV_DEVICE_SETTING, "Slide type"), "1 channel slide");
    write("Instrument setting\n-----\nSlide type,old\n\nDevice setting\n-----\nPixel shift,2,1\n");
    EXPECT_EQ(lookup(CSV_DEVICE_SETTING, "Pixel shift"), "2,1");
    EXPECT_EQ(lookup(CSV_DEVICE_SETTING, "Slide type"), "<result -1>");
    // Only section 1 has a second title.
    write("Instrument setting\n-----\nDate,x\n");
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Date"), "<result -1>");
}

TEST_F(CsvReader, TitleMustMatchTheWholeLineExactly) {
    write("Cell count report \n=====\nDate,x\n");
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Date"), "<result -1>");
    write("cell count report\n=====\nDate,x\n");
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Date"), "<result -1>");
    write("Cell count report\r\n=====\r\nDate,x\r\n");
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Date"), "<result -1>");
    // A title without its underline opens nothing.
    write("Cell count report\nDate,x\n");
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Date"), "<result -1>");
}

TEST_F(CsvReader, LastLineWithoutLineFeedKeepsAllItsCharacters) {
    write("Cell count report\n=====\nDate,2024-03-01");
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Date"), "2024-03-01");
    write("Volume\n-----\n416.6667,2");
    EXPECT_EQ(lookup(CSV_VOLUME, "-"), "416.6667,2");
}

TEST_F(CsvReader, LinesLongerThanTheBufferArriveInPieces) {
    // 510 characters plus the line feed still fit one read.
    std::string fits = "Total Histogram,";
    while (fits.size() < 510)
        fits += "1,";
    fits.resize(510);
    fits[509] = '7';  // no trailing comma
    write("Graph\n-----\n" + fits + "\n");
    EXPECT_EQ(lookup(CSV_GRAPH, "Total Histogram"), fits.substr(16));

    std::string counts;
    for (int i = 0; i < 91; ++i)
        counts += (i ? "," : "") + std::to_string(10000 + i);
    const std::string line = "Total Histogram," + counts;  // 561 characters
    ASSERT_GT(line.size(), 511u);
    write("Graph\n-----\n" + line + "\nLive Histogram,1,2\n");
    EXPECT_EQ(lookup(CSV_GRAPH, "Total Histogram"), line.substr(16, 511 - 16));
    // The rest of the cut line is a line of its own; the section goes on after it.
    EXPECT_EQ(lookup(CSV_GRAPH, "Live Histogram"), "1,2");
}

TEST_F(CsvReader, FailsOnMissingFileAndUnknownSection) {
    EXPECT_EQ(lookup(CSV_CELL_COUNT_REPORT, "Date"), "<result -1>");
    write(kReport);
    EXPECT_EQ(lookup(static_cast<csv_category_e>(6), "Date"), "<result -1>");
    EXPECT_EQ(lookup(CSV_END_OF_ITEMS, "Date"), "<result -1>");
}

}  // namespace
