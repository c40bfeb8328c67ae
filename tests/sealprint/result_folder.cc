#include "result_folder.h"

#include <gtest/gtest.h>

#include "common/files.h"
#include "page1_pictures.h"

const char* const kInstrumentPdfBytes = "%PDF-1.4\n% the instrument's report\n%%EOF\n";

namespace {

std::string zeros(int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += i ? ",0" : "0";
    return text;
}

}  // namespace

result_paths_s write_bright_field_result(const std::string& folder, const std::string& stem) {
    result_paths_s p{folder, folder + "/" + stem + ".pdf", folder + "/" + stem + ".csv",
                     folder + "/" + stem + "_01_TAG.tif"};
    EXPECT_TRUE(fresh_dir(folder));
    const std::string bins = "0,0,0,0,0,0,0,0,0,0,5,20,60,90,120,90,60,20,5," + zeros(72);
    const std::string csv =
        "Cell count report\n=================\n"
        "Date,2024-04-05 09:00:00\nSecurity,Level 2\nUser,jdoe\nDevice name,K2-0999\n"
        "File name," + stem + ".csv\nReanalysis,No\n"
        "Counting mode,Bright field cell counting\n,Cell lines & Primary cells\n"
        "Serial number,ORK2-21-0999\nFirmware version,2.1.4\nSoftware version,1.3.5\n\n"
        "Device setting\n--------------\nSlide type,1 channel slide\nCounted chamber area,Full\n"
        "Last calibration,2024-02-12 09:30:00\nCalibration setting,1.000,1.000,1.000\n"
        "Calibration value,0.982,1.017,1.003\nPixel shift,2,-1\n\n"
        "Protocol\n--------\nProtocol name,Saving\nDilution factor,2\n\n"
        "Graph\n-----\n"
        "Total Histogram," + bins + "\nLive Histogram," + bins + "\n"
        "Dead Histogram," + zeros(91) + "\nCluster Histogram,900,60,20,10,5,3,1,1,0\n\n"
        "Volume\n------\n416.6667,2\n";
    EXPECT_TRUE(write_file(p.csv, csv));
    EXPECT_TRUE(write_file(p.pdf, kInstrumentPdfBytes));
    const std::string tiff = tiff_rgb(64, 48, [](int, int) { return pixel_s{128, 128, 128, 255}; });
    EXPECT_TRUE(write_file(folder + "/" + stem + "_01_RAW_BF.tif", tiff));
    EXPECT_TRUE(write_file(p.tag, tiff));
    return p;
}
