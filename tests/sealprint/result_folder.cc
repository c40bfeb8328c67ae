#include "result_folder.h"

#include <gtest/gtest.h>

#include "common/files.h"

const char* const kInstrumentPdf = "%PDF-1.4\n% the instrument's report\n%%EOF\n";

const camera_images_s kBrightFieldImages{{"_01_RAW_BF.tif", "_01_TAG.tif"}};
const camera_images_s kFluorescenceImages{
    {"_01_RAW_BF.tif", "_01_RAW_GFP.tif", "_01_RAW_RFP.tif", "_01_TAG_ALL.tif"}};
const camera_images_s kEmptyBrightFieldImages{kBrightFieldImages.suffixes, false};

namespace {

// Title and underline of each section, in file order.
const char* const kSections[][2] = {
    {"Cell count report", "================="},
    {"Device setting", "--------------"},
    {"Protocol", "--------"},
    {"Cell count results", "------------------"},
    {"Graph", "-----"},
    {"Volume", "------"},
};
constexpr int kVolume = 5;  // its one line holds the two volume factors and no key

}  // namespace

std::string counts(int n, int value) {
    return join(std::vector<int>(static_cast<size_t>(n), value));
}

std::string join(const std::vector<int>& counts) {
    std::string text;
    for (size_t i = 0; i < counts.size(); ++i)
        text += (i ? "," : "") + std::to_string(counts[i]);
    return text;
}

result_file_s::result_file_s() {
    lines_ = {
        {0, "Date", "2024-03-01 11:30:04"},
        {0, "Security", "Level 2"},
        {0, "User", "lab7"},
        {0, "Device name", "K2-0137"},
        {0, "File name", "K2-0137_20240301_113004.csv"},
        {0, "Reanalysis", "No"},
        {0, "Counting mode", "Bright field cell counting,Total cell counting"},
        {0, "Serial number", "ORK2-0137"},
        {0, "Firmware version", "2.1.4"},
        {0, "Software version", "1.3.5"},
        {1, "Slide type", "1 channel slide"},
        {1, "Counted chamber area", "Full"},
        {1, "Combine result", "Off"},
        {1, "Autofocusing channel in FL", "GF"},
        {1, "Autofocused counting", "On"},
        {1, "Autofocus offset", "3"},
        {1, "Autofocus upon slide insertion", "Off"},
        {1, "Last calibration", "2024-02-12"},
        {1, "Calibration setting", "1.0,1.1"},
        {1, "Calibration value", "0.9,1.2"},
        {1, "Pixel shift", "2,-1"},
        {2, "Protocol name", "P1"},
        {2, "Min. search size", "4 um"},
        {2, "Max. search size", "50 um"},
        {2, "Min. cell size", "6 um"},
        {2, "Max. cell size", "45 um"},
        {2, "Cell detection sensitivity", "5"},
        {2, "Live cell sensitivity", "7"},
        {2, "Noise reduction", "4"},
        {2, "Dilution factor", "2"},
        {2, "GF exposure level", "3"},
        {2, "RF exposure level", "6"},
        {2, "GF threshold level", "31"},
        {2, "RF threshold level", "36"},
        {2, "Cell size calculation", "On"},
        {2, "Declumping sensitivity", "8"},
        {2, "Min. FL intensity", "25"},
        {2, "Min. roundness", "55"},
        {2, "Size gating", "5 ~ 20 um"},
        {3, "[Total cell]", "9.65e5 cells/mL"},
        {3, "[Live cell]", "9.0e5 cells/mL"},
        {3, "[Dead cell]", "6.5e4 cells/mL"},
        {3, "Viability", "93.3 %"},
        {3, "Avg. size", "11.8"},
        {3, "Total cell number", "1158"},
        {3, "Live cell number", "1080"},
        {3, "Dead cell number", "78"},
        {4, "Total Histogram", counts(91, 4)},
        {4, "Live Histogram", counts(91, 3)},
        {4, "Dead Histogram", counts(91, 1)},
        {4, "Cluster Histogram", counts(9, 2)},
        {kVolume, "", "416.6667,2"},
    };
}

result_file_s& result_file_s::set(const std::string& key, const std::string& value) {
    for (line_s& line : lines_) {
        if (line.key == key)
            line.value = value;
    }
    return *this;
}

result_file_s& result_file_s::drop(const std::string& key) {
    for (auto it = lines_.begin(); it != lines_.end();) {
        it = it->key == key ? lines_.erase(it) : it + 1;
    }
    return *this;
}

std::string result_file_s::csv() const {
    std::string text;
    for (int section = 0; section <= kVolume; ++section) {
        std::string lines;
        for (const line_s& line : lines_) {
            if (line.section != section)
                continue;
            if (section == kVolume) {
                lines += line.value + "\n";
            } else if (line.key == "Counting mode") {
                const size_t comma = line.value.find(',');
                lines += "Counting mode," + line.value.substr(0, comma) + "\n," +
                         line.value.substr(comma + 1) + "\n";
            } else {
                lines += line.key + "," + line.value + "\n";
            }
        }
        if (lines.empty())
            continue;
        if (!text.empty())
            text += "\n";  // a blank line between sections
        text += std::string(kSections[section][0]) + "\n" + kSections[section][1] + "\n" + lines;
    }
    return text;
}

const std::string& tag_picture() {
    static const std::string picture = tiff_rgb(1280, 960, [](int x, int y) {
        return x >= 320 && x < 960 && y >= 240 && y < 720 ? kTagGreen : kTagBlue;
    });
    return picture;
}

void add_result(const std::string& folder, const result_file_s& result,
                const camera_images_s& images, const std::string& stem) {
    const std::string base = folder + "/" + stem;
    ASSERT_TRUE(fresh_dir(folder)) << folder;
    ASSERT_TRUE(write_file(base + ".pdf", kInstrumentPdf));
    ASSERT_TRUE(write_file(base + ".csv", result.csv()));
    for (const std::string& suffix : images.suffixes) {
        const bool tag = images.pictures && suffix.find("_TAG") != std::string::npos;
        ASSERT_TRUE(write_file(base + suffix, tag ? tag_picture() : ""));
    }
}

result_paths_s add_bright_field_result(const std::string& folder, const std::string& stem) {
    add_result(folder, result_file_s(), kBrightFieldImages, stem);
    const std::string base = folder + "/" + stem;
    return {folder, base + ".pdf", base + ".csv", base + "_01_TAG.tif"};
}
