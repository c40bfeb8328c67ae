// Page 2 of the saved report: which histogram pictures it holds, where, in which colours, and
// when a result's histograms are refused. Read back with the PDF tools.
#include <regex>

#include "common/files.h"
#include "page_reader.h"
#include "result_folder.h"
#include "sealprint_run.h"

namespace {

const char* const kSizeError = "[Error] Histogram size error !!! ";

// A bell of `peak` cells at `centre` µm over 91 bins.
std::vector<int> bell(int centre, int peak) {
    std::vector<int> bins(91, 0);
    for (int i = 0; i < 91; ++i) {
        const int d = i - centre;
        if (d * d < 30)
            bins[i] = peak - 3 * d * d;
    }
    return bins;
}

const char* const kBrightField = "Bright field cell counting";
const char* const kFluorescence = "Fluorescence cell counting";

// A result whose histograms page 2 draws: bells in all three, a falling cluster graph and no
// size gating to shade.
result_file_s histograms(const std::string& mode = kBrightField,
                         const std::string& method = "Cell lines & Primary cells") {
    return result_file_s()
        .set("Counting mode", mode + "," + method)
        .drop("Size gating")
        .set("Total Histogram", join(bell(14, 120)))
        .set("Live Histogram", join(bell(15, 100)))
        .set("Dead Histogram", join(bell(10, 30)))
        .set("Cluster Histogram", "900,60,20,10,5,3,1,1,0");
}

const int kInset = 4;  // pixels kept clear of a picture box's edges, where the artwork's frame is

// The pixels of the picture box in `column` of the row at `row_y`, `kInset` in from its edges,
// rendered at 300 dpi: one pixel a page unit.
page_pixels_s box_pixels(const std::string& pdf, int column, double row_y) {
    const box_s box = picture_box(column, row_y);
    const page_pixels_s px = render_page(
        pdf, 2, {box.x + kInset, box.y + kInset, box.w - 2 * kInset, box.h - 2 * kInset}, 300);
    EXPECT_TRUE(px.width == box.w - 2 * kInset && px.height == box.h - 2 * kInset)
        << "unexpected pdftoppm output " << px.width << "x" << px.height;
    return px;
}

using rgb_s = page_pixels_s::rgb_s;

// Within 16 of `c` on every channel: the inside of a bar, not the blend at its edges.
bool near(const rgb_s& p, const rgb_s& c) {
    return near(p, c, 16);
}

int count_near(const page_pixels_s& pixels, const rgb_s& c) {
    int n = 0;
    for (int row = 0; row < pixels.height; ++row) {
        for (int column = 0; column < pixels.width; ++column)
            n += near(pixels.pixel(column, row), c);
    }
    return n;
}

const rgb_s kOrange{255, 127, 0}, kGreen{0, 255, 0}, kRed{255, 0, 0}, kBlue{0, 0, 255};
// A picture shows a colour with hundreds of pixels of it; a box without it shows none.
constexpr int kShown = 300;

struct box_colours_s {
    int orange, green, red, blue;
};

box_colours_s colours_in(const std::string& pdf, double row_y, int column) {
    const page_pixels_s px = box_pixels(pdf, column, row_y);
    return {count_near(px, kOrange), count_near(px, kGreen), count_near(px, kRed),
            count_near(px, kBlue)};
}

// The placements of the 728 × 518 pictures on page 2, in drawing order, as "x y".
std::vector<std::string> picture_placements(const std::string& pdf) {
    const page_s page = read_page(pdf, 2);
    EXPECT_EQ(page.error, "");
    static const std::regex placed(R"(728 0 0 518 (\d+ \d+) cm\n)");
    std::vector<std::string> found;
    for (std::sregex_iterator it(page.content.begin(), page.content.end(), placed), end; it != end;
         ++it) {
        found.push_back((*it)[1]);
    }
    return found;
}

int pictures_listed(const std::string& pdf) {
    return images_listed(pdf, 2, R"(728\s+518\s+rgb\s+3\s+8\s)");
}

class SealprintPage2 : public SealprintTest {
protected:
    std::string pdf() const { return dir_ + "/result/r.pdf"; }
    // The result with the camera images that page 1 requires for its counting mode.
    void add(const std::string& mode, const result_file_s& result) {
        const bool fluorescence = mode == "Fluorescence cell counting";
        add_result(dir_ + "/result", result,
                   fluorescence ? kFluorescenceImages : kBrightFieldImages);
    }
    run_result_s run(const result_file_s& result, const std::string& mode = kBrightField) {
        add(mode, result);
        return run_sealprint(job_args(dir_));
    }
};

class TotalCounting : public SealprintPage2, public ::testing::WithParamInterface<const char*> {};

TEST_P(TotalCounting, DrawsTheTotalInOrangeTwiceAndTheClusterGraph) {
    run_result_s ran = run(histograms(GetParam(), "Total cell counting"), GetParam());
    ASSERT_EQ(ran.status, 0) << ran.out;

    EXPECT_EQ(pictures_listed(pdf()), 3);
    EXPECT_EQ(picture_placements(pdf()),
              (std::vector<std::string>{"92 1951", "92 1108", "92 350"}));
    for (double row_y : {kNumberRowY, kConcentrationRowY}) {
        const box_colours_s total = colours_in(pdf(), row_y, 0);
        EXPECT_GT(total.orange, kShown) << row_y;
        // The live and dead values exist but this method never draws them.
        EXPECT_EQ(total.green + total.red, 0) << row_y;
        for (int column : {1, 2}) {
            const box_colours_s empty = colours_in(pdf(), row_y, column);
            EXPECT_EQ(empty.orange + empty.green + empty.red + empty.blue, 0)
                << row_y << " " << column;
        }
    }
    EXPECT_GT(colours_in(pdf(), kClusterRowY, 0).blue, kShown);
}

// The method decides, not the counting mode: fluorescence shows the orange totals too.
INSTANTIATE_TEST_SUITE_P(, TotalCounting, ::testing::Values(kBrightField, kFluorescence),
                         [](const ::testing::TestParamInfo<const char*>& info) {
    return std::string(info.param).substr(0, 2) == "Br" ? "BrightField" : "Fluorescence";
});

TEST_F(SealprintPage2, ViabilityDrawsSevenPicturesLiveGreenDeadRed) {
    run_result_s ran = run(histograms(kFluorescence), kFluorescence);
    ASSERT_EQ(ran.status, 0) << ran.out;

    EXPECT_EQ(pictures_listed(pdf()), 7);
    EXPECT_EQ(picture_placements(pdf()),
              (std::vector<std::string>{"92 1951", "876 1951", "1660 1951", "92 1108", "876 1108",
                                        "1660 1108", "92 350"}));
    for (double row_y : {kNumberRowY, kConcentrationRowY}) {
        const box_colours_s total = colours_in(pdf(), row_y, 0);
        EXPECT_GT(total.green, kShown) << row_y;
        EXPECT_GT(total.red, kShown) << row_y;
        EXPECT_EQ(total.orange, 0) << row_y;
        const box_colours_s live = colours_in(pdf(), row_y, 1);
        EXPECT_GT(live.green, kShown) << row_y;
        EXPECT_EQ(live.red + live.orange, 0) << row_y;
        const box_colours_s dead = colours_in(pdf(), row_y, 2);
        EXPECT_GT(dead.red, kShown) << row_y;
        EXPECT_EQ(dead.green + dead.orange, 0) << row_y;
    }
    const box_colours_s cluster = colours_in(pdf(), kClusterRowY, 0);
    EXPECT_GT(cluster.blue, kShown);
    EXPECT_EQ(cluster.orange + cluster.green + cluster.red, 0);
}

TEST_F(SealprintPage2, DoubledCommaAndNonNumberKeepEveryBinInPlace) {
    // Bin 45 alone holds cells; a doubled comma right before it and a word in bin 3. Runs of
    // commas are merged on the way in and empty parts skipped on page 2: no bin moves.
    std::vector<int> bins(91, 0);
    bins[45] = 100;
    std::string live = join(std::vector<int>(bins.begin(), bins.begin() + 45)) + ",," +
                       join(std::vector<int>(bins.begin() + 45, bins.end()));
    live.replace(6, 1, "n/a");  // "0,0,0,0" -> bin 3
    run_result_s ran = run(histograms()
                               .set("Live Histogram", live)
                               .set("Dead Histogram", join(std::vector<int>(91, 0))));
    ASSERT_EQ(ran.status, 0) << ran.out;
    EXPECT_TRUE(lines_starting(ran.out, kSizeError).empty());

    // The live picture's green sits on bin 45: canvas columns 361..363 of a 528-wide canvas
    // (plot at 90, 4 per bin), scaled to 728. One bin more or less is 5.5 pixels away.
    const page_pixels_s px = box_pixels(pdf(), 1, kNumberRowY);
    double sum = 0;
    int n = 0;
    for (int row = 0; row < px.height; ++row) {
        for (int column = 0; column < px.width; ++column) {
            if (!near(px.pixel(column, row), kGreen))
                continue;
            sum += column + kInset + 0.5;
            ++n;
        }
    }
    ASSERT_GT(n, kShown);
    EXPECT_NEAR(sum / n, (90 + 4 * 45 + 2.5) * 728.0 / 528.0, 1.5);
}

struct size_case_s {
    const char* name;
    const char* method;
    int total, live, dead, cluster;
};

void PrintTo(const size_case_s& c, std::ostream* os) {
    *os << c.name;
}

class HistogramSizes : public SealprintPage2, public ::testing::WithParamInterface<size_case_s> {};

TEST_P(HistogramSizes, FailTheResultAndKeepTheInstrumentPdf) {
    const size_case_s& c = GetParam();
    run_result_s ran = run(histograms(kBrightField, c.method)
                               .set("Total Histogram", counts(c.total, 2))
                               .set("Live Histogram", counts(c.live, 1))
                               .set("Dead Histogram", counts(c.dead, 1))
                               .set("Cluster Histogram", counts(c.cluster, 1)));
    EXPECT_EQ(ran.status, 255) << ran.out;  // -1
    EXPECT_EQ(lines_starting(ran.out, kSizeError), std::vector<std::string>{kSizeError}) << ran.out;
    EXPECT_TRUE(lines_starting(ran.out, "Generate PDF succeed").empty()) << ran.out;
    EXPECT_EQ(read_file(pdf()), kInstrumentPdf);
    // Nothing left beside it: the CSV, the PDF and the two images.
    EXPECT_EQ(shell_output("ls -A '" + dir_ + "/result' | wc -l"), "4\n");
}

INSTANTIATE_TEST_SUITE_P(
    , HistogramSizes,
    ::testing::Values(size_case_s{"Live90EvenForTotalCounting", "Total cell counting", 91, 90, 91,
                                  9},
                      size_case_s{"Cluster10", "Cell lines & Primary cells", 91, 91, 91, 10},
                      size_case_s{"Cluster8", "Total cell counting", 91, 91, 91, 8},
                      size_case_s{"Dead92", "Cell lines & Primary cells", 91, 91, 92, 9},
                      size_case_s{"Total90", "Cell lines & Primary cells", 90, 91, 91, 9}),
    [](const ::testing::TestParamInfo<size_case_s>& info) { return std::string(info.param.name); });

// The header, the signature block and the device information of page 2 repeat page 1's text
// objects exactly: same fonts, colours, positions and bytes.
TEST_F(SealprintPage2, SharedBlocksRepeatPageOneExactly) {
    add(kFluorescence, histograms(kFluorescence));
    std::vector<std::string> args = job_args(dir_);
    args[2] = "admin";
    args[4] = "creator1";
    args[5] = "4cc3a4726120c396737472c3b66d";  // "Lära Öström"
    args[6] = "1712300000";
    run_result_s ran = run_sealprint(args);
    ASSERT_EQ(ran.status, 0) << ran.out;

    const std::vector<std::string> page1 = read_page(pdf(), 1).text_objects;
    const std::vector<std::string> page2 = read_page(pdf(), 2).text_objects;
    std::vector<std::string> shared_origins;
    for (const column_s& c : {kHeader, kSignatureLabels, kSignatureIds, kSignatureNames,
                              kSignatureDates, kDeviceLeft, kDeviceRight})
        shared_origins.push_back(origin_text(c.line(0)));
    std::vector<std::string> page1_shared;
    for (const std::string& object : page1) {
        for (const std::string& origin : shared_origins) {
            if (origin_of(object) == origin)
                page1_shared.push_back(object);
        }
    }
    EXPECT_EQ(page2.size(), shared_origins.size());
    EXPECT_EQ(page2, page1_shared);
}

}  // namespace
