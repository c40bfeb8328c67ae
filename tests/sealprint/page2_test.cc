// Page 2 of the saved report: which histogram pictures it holds, where, in which colours, and
// when a result's histograms are refused. Read back with the PDF tools.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>

#include "common/files.h"
#include "page1_pictures.h"
#include "sealprint_run.h"

namespace {

const char* const kStem = "K2-0999_20240405_090000";
const char* const kSizeError = "[Error] Histogram size error !!! ";
const char* const kInstrumentPdf = "%PDF-1.4\n% the instrument's report\n%%EOF\n";

// Page 2 keeps the library's default height of 841 pt: 3504.17 page units, 1 pixel each at 300 dpi.
constexpr double kPage2HeightPx = 841.0 * 300.0 / 72.0;
constexpr int kPictureW = 728, kPictureH = 518;
constexpr int kNumberRowY = 1951, kConcentrationRowY = 1108, kClusterRowY = 350;
constexpr int kColumnX[3] = {92, 876, 1660};

std::string join(const std::vector<int>& counts) {
    std::string text;
    for (size_t i = 0; i < counts.size(); ++i) text += (i ? "," : "") + std::to_string(counts[i]);
    return text;
}

// A bell of `peak` cells at `centre` µm over 91 bins.
std::vector<int> bell(int centre, int peak) {
    std::vector<int> bins(91, 0);
    for (int i = 0; i < 91; ++i) {
        const int d = i - centre;
        if (d * d < 30) bins[i] = peak - 3 * d * d;
    }
    return bins;
}

struct result_s {
    std::string mode = "Bright field cell counting";
    std::string method = "Cell lines & Primary cells";
    std::string total = join(bell(14, 120));
    std::string live = join(bell(15, 100));
    std::string dead = join(bell(10, 30));
    std::string cluster = "900,60,20,10,5,3,1,1,0";
};

// The result folder as the instrument leaves it: CSV, its own PDF and the camera images that
// page 1 requires for the counting mode.
void write_result(const std::string& folder, const result_s& r) {
    ASSERT_TRUE(fresh_dir(folder));
    const std::string base = folder + "/" + kStem;
    const std::string csv =
        "Cell count report\n=================\n"
        "Date,2024-04-05 09:00:00\nSecurity,Level 2\nUser,jdoe\nDevice name,K2-0999\n"
        "File name," + std::string(kStem) + ".csv\nReanalysis,No\n"
        "Counting mode," + r.mode + "\n," + r.method + "\n"
        "Serial number,ORK2-21-0999\nFirmware version,2.1.4\nSoftware version,1.3.5\n\n"
        "Device setting\n--------------\nSlide type,1 channel slide\nCounted chamber area,Full\n"
        "Last calibration,2024-02-12 09:30:00\nCalibration setting,1.000,1.000,1.000\n"
        "Calibration value,0.982,1.017,1.003\nPixel shift,2,-1\n\n"
        "Protocol\n--------\nProtocol name,Page two\nDilution factor,2\n\n"
        "Graph\n-----\n"
        "Total Histogram," + r.total + "\nLive Histogram," + r.live + "\n"
        "Dead Histogram," + r.dead + "\nCluster Histogram," + r.cluster + "\n\n"
        "Volume\n------\n416.6667,2\n";
    ASSERT_TRUE(write_file(base + ".csv", csv));
    ASSERT_TRUE(write_file(base + ".pdf", kInstrumentPdf));
    const std::string tiff = tiff_rgb(64, 48, [](int, int) { return pixel_s{128, 128, 128, 255}; });
    ASSERT_TRUE(write_file(base + "_01_RAW_BF.tif", tiff));
    if (r.mode == "Fluorescence cell counting") {
        ASSERT_TRUE(write_file(base + "_01_RAW_GFP.tif", tiff));
        ASSERT_TRUE(write_file(base + "_01_RAW_RFP.tif", tiff));
        ASSERT_TRUE(write_file(base + "_01_TAG_ALL.tif", tiff));
    } else {
        ASSERT_TRUE(write_file(base + "_01_TAG.tif", tiff));
    }
}

// The uncompressed content stream of page `page`, and its font resource names mapped to the
// document's font objects (both pages use the same objects, whatever they call them).
struct page_content_s {
    std::string stream;
    std::map<std::string, std::string> fonts;  // "/F1" -> "8"
};

page_content_s page_content(const std::string& qdf, int page) {
    page_content_s pc;
    const std::string n = std::to_string(page);
    const size_t dict = qdf.find("%% Page " + n + "\n");
    const size_t dict_end = qdf.find("endobj", dict);
    static const std::regex font_ref(R"((/F\d+) (\d+) 0 R)");
    const std::string page_dict = qdf.substr(dict, dict_end - dict);
    for (std::sregex_iterator it(page_dict.begin(), page_dict.end(), font_ref), end; it != end; ++it) {
        pc.fonts[(*it)[1]] = (*it)[2];
    }
    const size_t contents = qdf.find("%% Contents for page " + n + "\n");
    const size_t begin = qdf.find("stream\n", contents) + 7;
    pc.stream = qdf.substr(begin, qdf.find("endstream", begin) - begin);
    return pc;
}

// Every text object with the font and fill colour in force where it starts, the font named by
// its object so that the text of two pages can be compared.
std::vector<std::string> text_objects(const page_content_s& pc) {
    struct state_s { std::string font, colour; };
    std::vector<state_s> saved;
    state_s now;
    std::vector<std::string> objects;
    bool in_text = false;
    std::istringstream lines(pc.stream);
    static const std::regex font_op(R"((/F\d+)( .* Tf))");
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, m, font_op)) {
            const auto found = pc.fonts.find(m[1]);
            line = "font#" + (found == pc.fonts.end() ? m[1].str() : found->second) + m[2].str();
            now.font = line;
        } else if (line.size() > 3 && line.compare(line.size() - 3, 3, " rg") == 0) {
            now.colour = line;
        } else if (line == "q") {
            saved.push_back(now);
        } else if (line == "Q" && !saved.empty()) {
            now = saved.back();
            saved.pop_back();
        }
        if (line == "BT") {
            objects.push_back(now.font + "\n" + now.colour + "\n");
            in_text = true;
        }
        if (in_text) objects.back() += line + "\n";
        if (line == "ET") in_text = false;
    }
    return objects;
}

// The first text position of a text object ("x y Td" after BT).
std::string origin_of(const std::string& object) {
    static const std::regex td(R"(BT\n(?:.*\n)*?(-?[\d.]+ -?[\d.]+) Td\n)");
    std::smatch m;
    return std::regex_search(object, m, td) ? m[1].str() : std::string();
}

struct rgb_s { int r, g, b; };

// Page 2 pixels of the picture box whose lower left corner is (x, y), rendered at 300 dpi,
// `inset` pixels in from its edges so that the frame of the artwork stays out.
std::vector<rgb_s> box_pixels(const std::string& pdf, const std::string& scratch, int x, int y,
                              int inset = 4) {
    const int top = int(std::lround(kPage2HeightPx - (y + kPictureH))) + inset;
    const int w = kPictureW - 2 * inset, h = kPictureH - 2 * inset;
    const std::string out = scratch + "/box";
    run_result_s r = run_program({"/usr/bin/pdftoppm", "-f", "2", "-l", "2", "-r", "300",
                                  "-singlefile", "-x", std::to_string(x + inset), "-y",
                                  std::to_string(top), "-W", std::to_string(w), "-H",
                                  std::to_string(h), pdf, out});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string ppm = read_file(out + ".ppm");
    std::istringstream header(ppm);
    std::string magic;
    int pw = 0, ph = 0, maxval = 0;
    header >> magic >> pw >> ph >> maxval;
    std::vector<rgb_s> pixels;
    if (magic != "P6" || pw != w || ph != h) {
        ADD_FAILURE() << "unexpected pdftoppm output " << magic << " " << pw << "x" << ph;
        return pixels;
    }
    const size_t data = size_t(header.tellg()) + 1;
    for (size_t at = data; at + 2 < ppm.size(); at += 3) {
        pixels.push_back({uint8_t(ppm[at]), uint8_t(ppm[at + 1]), uint8_t(ppm[at + 2])});
    }
    return pixels;
}

// Within 16 of `c` on every channel: the inside of a bar, not the blend at its edges.
bool near(rgb_s p, rgb_s c) {
    return std::abs(p.r - c.r) <= 16 && std::abs(p.g - c.g) <= 16 && std::abs(p.b - c.b) <= 16;
}

int count_near(const std::vector<rgb_s>& pixels, rgb_s c) {
    int n = 0;
    for (const rgb_s& p : pixels) n += near(p, c);
    return n;
}

const rgb_s kOrange{255, 127, 0}, kGreen{0, 255, 0}, kRed{255, 0, 0}, kBlue{0, 0, 255};
// A picture shows a colour with hundreds of pixels of it; a box without it shows none.
constexpr int kShown = 300;

struct box_colours_s {
    int orange, green, red, blue;
};

box_colours_s colours_in(const std::string& pdf, const std::string& scratch, int row_y, int column) {
    const std::vector<rgb_s> px = box_pixels(pdf, scratch, kColumnX[column], row_y);
    return {count_near(px, kOrange), count_near(px, kGreen), count_near(px, kRed), count_near(px, kBlue)};
}

// The placements of the 728 × 518 pictures on page 2, in drawing order, as "x y".
std::vector<std::string> picture_placements(const std::string& stream) {
    static const std::regex placed(R"(728 0 0 518 (\d+ \d+) cm\n)");
    std::vector<std::string> found;
    for (std::sregex_iterator it(stream.begin(), stream.end(), placed), end; it != end; ++it) {
        found.push_back((*it)[1]);
    }
    return found;
}

int pictures_listed(const std::string& pdf) {
    int n = 0;
    std::istringstream list(shell_output("pdfimages -f 2 -l 2 -list '" + pdf + "'"));
    static const std::regex picture(R"(\s*2\s+\d+\s+image\s+728\s+518\s+rgb\s+3\s+8\s.*)");
    for (std::string line; std::getline(list, line);) n += std::regex_match(line, picture);
    return n;
}

class SealprintPage2 : public SealprintTest {
protected:
    std::string pdf() const { return dir_ + "/result/" + kStem + ".pdf"; }
    std::string qdf() const {
        return shell_output("qpdf --qdf --object-streams=disable '" + pdf() + "' -");
    }
    run_result_s run(const result_s& r) {
        write_result(dir_ + "/result", r);
        return run_sealprint(job_args(dir_));
    }
};

class TotalCounting : public SealprintPage2, public ::testing::WithParamInterface<const char*> {};

TEST_P(TotalCounting, DrawsTheTotalInOrangeTwiceAndTheClusterGraph) {
    result_s r;
    r.mode = GetParam();
    r.method = "Total cell counting";
    run_result_s ran = run(r);
    ASSERT_EQ(ran.status, 0) << ran.out;

    EXPECT_EQ(pictures_listed(pdf()), 3);
    EXPECT_EQ(picture_placements(page_content(qdf(), 2).stream),
              (std::vector<std::string>{"92 1951", "92 1108", "92 350"}));
    for (int row_y : {kNumberRowY, kConcentrationRowY}) {
        const box_colours_s total = colours_in(pdf(), dir_, row_y, 0);
        EXPECT_GT(total.orange, kShown) << row_y;
        // The live and dead values exist but this method never draws them.
        EXPECT_EQ(total.green + total.red, 0) << row_y;
        for (int column : {1, 2}) {
            const box_colours_s empty = colours_in(pdf(), dir_, row_y, column);
            EXPECT_EQ(empty.orange + empty.green + empty.red + empty.blue, 0) << row_y << " " << column;
        }
    }
    EXPECT_GT(colours_in(pdf(), dir_, kClusterRowY, 0).blue, kShown);
}

// The method decides, not the counting mode: fluorescence shows the orange totals too.
INSTANTIATE_TEST_SUITE_P(, TotalCounting,
                         ::testing::Values("Bright field cell counting", "Fluorescence cell counting"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param).substr(0, 2) == "Br" ? "BrightField"
                                                                                 : "Fluorescence";
                         });

TEST_F(SealprintPage2, ViabilityDrawsSevenPicturesLiveGreenDeadRed) {
    result_s r;
    r.mode = "Fluorescence cell counting";
    run_result_s ran = run(r);
    ASSERT_EQ(ran.status, 0) << ran.out;

    EXPECT_EQ(pictures_listed(pdf()), 7);
    EXPECT_EQ(picture_placements(page_content(qdf(), 2).stream),
              (std::vector<std::string>{"92 1951", "876 1951", "1660 1951", "92 1108", "876 1108",
                                        "1660 1108", "92 350"}));
    for (int row_y : {kNumberRowY, kConcentrationRowY}) {
        const box_colours_s total = colours_in(pdf(), dir_, row_y, 0);
        EXPECT_GT(total.green, kShown) << row_y;
        EXPECT_GT(total.red, kShown) << row_y;
        EXPECT_EQ(total.orange, 0) << row_y;
        const box_colours_s live = colours_in(pdf(), dir_, row_y, 1);
        EXPECT_GT(live.green, kShown) << row_y;
        EXPECT_EQ(live.red + live.orange, 0) << row_y;
        const box_colours_s dead = colours_in(pdf(), dir_, row_y, 2);
        EXPECT_GT(dead.red, kShown) << row_y;
        EXPECT_EQ(dead.green + dead.orange, 0) << row_y;
    }
    const box_colours_s cluster = colours_in(pdf(), dir_, kClusterRowY, 0);
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
    result_s r;
    r.live = live;
    r.dead = join(std::vector<int>(91, 0));
    run_result_s ran = run(r);
    ASSERT_EQ(ran.status, 0) << ran.out;
    EXPECT_TRUE(lines_starting(ran.out, kSizeError).empty());

    // The live picture's green sits on bin 45: canvas columns 361..363 of a 528-wide canvas
    // (plot at 90, 4 per bin), scaled to 728. One bin more or less is 5.5 pixels away.
    const int inset = 4;
    const std::vector<rgb_s> px = box_pixels(pdf(), dir_, kColumnX[1], kNumberRowY, inset);
    const int w = kPictureW - 2 * inset;
    double sum = 0;
    int n = 0;
    for (size_t i = 0; i < px.size(); ++i) {
        if (near(px[i], kGreen)) {
            sum += double(i % w) + inset + 0.5;
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

void PrintTo(const size_case_s& c, std::ostream* os) { *os << c.name; }

class HistogramSizes : public SealprintPage2, public ::testing::WithParamInterface<size_case_s> {};

TEST_P(HistogramSizes, FailTheResultAndKeepTheInstrumentPdf) {
    const size_case_s& c = GetParam();
    result_s r;
    r.method = c.method;
    r.total = join(std::vector<int>(c.total, 2));
    r.live = join(std::vector<int>(c.live, 1));
    r.dead = join(std::vector<int>(c.dead, 1));
    r.cluster = join(std::vector<int>(c.cluster, 1));
    run_result_s ran = run(r);
    EXPECT_EQ(ran.status, 255) << ran.out;  // -1
    EXPECT_EQ(lines_starting(ran.out, kSizeError), std::vector<std::string>{kSizeError}) << ran.out;
    EXPECT_TRUE(lines_starting(ran.out, "Generate PDF succeed").empty()) << ran.out;
    EXPECT_EQ(read_file(pdf()), kInstrumentPdf);
    // Nothing left beside it: the CSV, the PDF and the two images.
    EXPECT_EQ(shell_output("ls -A '" + dir_ + "/result' | wc -l"), "4\n");
}

INSTANTIATE_TEST_SUITE_P(
    , HistogramSizes,
    ::testing::Values(size_case_s{"Live90EvenForTotalCounting", "Total cell counting", 91, 90, 91, 9},
                      size_case_s{"Cluster10", "Cell lines & Primary cells", 91, 91, 91, 10},
                      size_case_s{"Cluster8", "Total cell counting", 91, 91, 91, 8},
                      size_case_s{"Dead92", "Cell lines & Primary cells", 91, 91, 92, 9},
                      size_case_s{"Total90", "Cell lines & Primary cells", 90, 91, 91, 9}),
    [](const ::testing::TestParamInfo<size_case_s>& info) { return std::string(info.param.name); });

// The header, the signature block and the device information of page 2 repeat page 1's text
// objects exactly: same fonts, colours, positions and bytes.
TEST_F(SealprintPage2, SharedBlocksRepeatPageOneExactly) {
    result_s r;
    r.mode = "Fluorescence cell counting";
    write_result(dir_ + "/result", r);
    std::vector<std::string> args = job_args(dir_);
    args[2] = "admin";
    args[4] = "creator1";
    args[5] = "4cc3a4726120c396737472c3b66d";  // "Lära Öström"
    args[6] = "1712300000";
    run_result_s ran = run_sealprint(args);
    ASSERT_EQ(ran.status, 0) << ran.out;

    const std::string doc = qdf();
    const std::vector<std::string> page1 = text_objects(page_content(doc, 1));
    const std::vector<std::string> page2 = text_objects(page_content(doc, 2));
    // Header, signature labels, ids, names, dates, device information left and right.
    const std::vector<std::string> shared_origins = {"135 3117", "1420 3150", "1781 3150",
                                                     "1781 3110", "1781 3070", "92 212", "742 212"};
    std::vector<std::string> page1_shared;
    for (const std::string& object : page1) {
        for (const std::string& origin : shared_origins) {
            if (origin_of(object) == origin) page1_shared.push_back(object);
        }
    }
    EXPECT_EQ(page2.size(), shared_origins.size());
    EXPECT_EQ(page2, page1_shared);
}

}  // namespace
