// Page 1 of the report, read back from the saved PDF: what is shown, in which font, size and
// colour, at which position, and where the pictures land.
#include <regex>

#include "common/files.h"
#include "page1_pdf.h"
#include "page1_pictures.h"
#include "sealprint_run.h"

namespace {

// ---- Result files ------------------------------------------------------------------------------

struct item_s {
    int section;  // index into kSections
    std::string key, value;
};

const char* const kSections[][2] = {
    {"Cell count report", "================="},
    {"Device setting", "--------------"},
    {"Protocol", "--------"},
    {"Cell count results", "------------------"},
};

std::string counts(int n, int value) {
    std::string text;
    for (int i = 0; i < n; ++i) text += (i ? "," : "") + std::to_string(value);
    return text;
}

// A result file; starts as a bright-field total count with every key page 1 reads.
class result_file_s {
public:
    result_file_s() {
        items_ = {
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
        };
    }

    result_file_s& set(const std::string& key, const std::string& value) {
        for (item_s& item : items_) {
            if (item.key == key) item.value = value;
        }
        return *this;
    }
    result_file_s& drop(const std::string& key) {
        for (auto it = items_.begin(); it != items_.end();) {
            it = it->key == key ? items_.erase(it) : it + 1;
        }
        return *this;
    }

    std::string csv() const {
        std::string text;
        for (int section = 0; section < 4; ++section) {
            text += std::string(kSections[section][0]) + "\n" + kSections[section][1] + "\n";
            for (const item_s& item : items_) {
                if (item.section != section) continue;
                if (item.key == "Counting mode") {
                    // The method goes on a continuation line of its own.
                    const size_t comma = item.value.find(',');
                    text += "Counting mode," + item.value.substr(0, comma) + "\n," +
                            item.value.substr(comma + 1) + "\n";
                } else {
                    text += item.key + "," + item.value + "\n";
                }
            }
            text += "\n";
        }
        return text + "Graph\n-----\nTotal Histogram," + counts(91, 4) + "\nLive Histogram," +
               counts(91, 3) + "\nDead Histogram," + counts(91, 1) + "\nCluster Histogram," +
               counts(9, 2) + "\n\nVolume\n------\n416.6667,2\n";
    }

private:
    std::vector<item_s> items_;
};

// ---- Camera images -----------------------------------------------------------------------------

const std::vector<std::string> kBrightFieldImages = {"_01_RAW_BF.tif", "_01_TAG.tif"};
const std::vector<std::string> kFluorescenceImages = {"_01_RAW_BF.tif", "_01_RAW_GFP.tif",
                                                      "_01_RAW_RFP.tif", "_01_TAG_ALL.tif"};

constexpr pixel_s kBlue{0, 0, 255, 255};
constexpr pixel_s kGreen{0, 128, 0, 255};

// A 1280 × 960 tag image: blue, its central quarter (the part the zoom enlarges) green.
std::string tag_picture() {
    return tiff_rgb(1280, 960, [](int x, int y) {
        return x >= 320 && x < 960 && y >= 240 && y < 720 ? kGreen : kBlue;
    });
}

// ---- Runs --------------------------------------------------------------------------------------

const std::string kNow = R"(\d\d [A-Z][a-z]{2} \d{4} \d\d:\d\d:\d\d)";

class Page1 : public SealprintTest {
protected:
    // <dir_>/<folder>/r.{pdf,csv} and the camera images named by their suffixes; a tag image
    // holds a picture, the raw images only have to be there.
    void add_result(const std::string& folder, const result_file_s& result,
                    const std::vector<std::string>& images = kBrightFieldImages) {
        const std::string path = dir_ + "/" + folder;
        ASSERT_TRUE(fresh_dir(path));
        ASSERT_TRUE(write_file(path + "/r.pdf", kInstrumentPdf));
        ASSERT_TRUE(write_file(path + "/r.csv", result.csv()));
        for (const std::string& suffix : images) {
            const bool tag = suffix.find("_TAG") != std::string::npos;
            ASSERT_TRUE(write_file(path + "/r" + suffix, tag ? tag_picture() : ""));
        }
    }

    run_result_s run(const std::string& level = "user",
                     const std::vector<std::string>& slots = {"_", "_", "", "_", "_", "", "_", "_",
                                                              ""}) {
        std::vector<std::string> args = {"jdoe", "4a6f686e20446f65", level, dir_};
        args.insert(args.end(), slots.begin(), slots.end());
        return run_sealprint(args);
    }

    std::string pdf(const std::string& folder) const { return dir_ + "/" + folder + "/r.pdf"; }

    page_text_s page(const std::string& folder) const {
        page_text_s p = read_page1(pdf(folder), dir_);
        EXPECT_EQ(p.error, "") << folder;
        return p;
    }

    static constexpr const char* kInstrumentPdf = "%PDF-1.4\n% the instrument's report\n%%EOF\n";
};

void expect_style(const page_text_s& page, double x, double y, const std::string& font, double size,
                  const std::string& fill) {
    const std::vector<shown_text_s> pieces = pieces_at(page, x, y);
    ASSERT_FALSE(pieces.empty()) << x << "," << y;
    EXPECT_EQ(pieces[0].font, font) << x << "," << y;
    EXPECT_EQ(pieces[0].size, size) << x << "," << y;
    EXPECT_EQ(pieces[0].fill, fill) << x << "," << y;
}

const char* const kBlack = "0 0 0";
const char* const kTitleGrey = "0.118 0.118 0.118";

// ---- Header, signatures, device information ---------------------------------------------------

TEST_F(Page1, HeaderAndDeviceInformation) {
    const std::string long_name(90, 'W');
    add_result("r", result_file_s()
                        .set("File name", "run_" + long_name + "_end.csv")
                        .set("Reanalysis", "Yes,2024-03-01 11:42")
                        .set("Calibration value", "0.9,1.2,1.0"));
    run_result_s r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const page_text_s p = page("r");

    std::vector<std::string> header = lines_from(p, 135, 3117, 53);
    ASSERT_EQ(header.size(), 8u);
    // The file name keeps its end and names the PDF.
    EXPECT_EQ(header[4].substr(0, 15), "File name : ...") << header[4];
    EXPECT_EQ(header[4].substr(header[4].size() - 12), "WWWW_end.pdf") << header[4];
    EXPECT_LT(header[4].size(), 12 + long_name.size());
    header[4] = "(file name)";
    EXPECT_EQ(header,
              (std::vector<std::string>{"Instrument name : K2-0137", "Date : 2024-03-01 11:30:04",
                                        "Security : Level 2", "User : lab7", "(file name)",
                                        "Reanalysis : Yes, 2024-03-01 11:42",
                                        "Counting mode : Bright field cell counting",
                                        "                           Total cell counting"}));
    expect_style(p, 135, 3117, "Helvetica", 34, kBlack);

    EXPECT_EQ(lines_from(p, 92, 212, 53),
              (std::vector<std::string>{"Serial number : ORK2-0137", "Software version : 1.3.5",
                                        "Firmware version : 2.1.4"}));
    EXPECT_EQ(lines_from(p, 742, 212, 53),
              (std::vector<std::string>{
                  "Last calibration : 2024-02-12", "Calibration setting : 1.0 / 1.1",
                  "Calibration value : 0.9 / 1.2 / 1.0", "Pixel shift : 2 / -1"}));
    expect_style(p, 742, 212, "Helvetica", 28, kTitleGrey);

    EXPECT_EQ(line_at(p, 139, 2546), "Instrument setting");
    EXPECT_EQ(line_at(p, 917, 2546), "Protocol");
    EXPECT_EQ(line_at(p, 1691, 2546), "Cell counting results");
    expect_style(p, 917, 2546, "Helvetica-Bold", 40, kTitleGrey);
}

TEST_F(Page1, ShortFileNameOnlyNamesThePdf) {
    add_result("r", result_file_s().set("File name", "a.csv.csv"));
    ASSERT_EQ(run().status, 0);
    EXPECT_EQ(line_at(page("r"), 135, 3117 - 4 * 53), "File name : a.pdf.pdf");
}

struct signature_case_s {
    const char* level;
    std::vector<std::string> slots;    // the nine slot arguments
    std::vector<std::string> rows[3];  // id, name, date of Creator, Reviewer, Approver
};

TEST_F(Page1, SignatureRowsFollowTheLevel) {
    const std::vector<std::string> none = {"_", "_", ""};
    const std::vector<std::string> ann = {"rev2", "416e6e", "1709288132"};  // Ann, 01 Mar 2024
    const std::vector<std::string> cat = {"app3", "436174", "Yesterday"};   // Cat
    const std::vector<std::string> nameless_bob = {"", "426f62", ""};       // Bob, no id
    auto slots = [](const std::vector<std::string>& a, const std::vector<std::string>& b,
                    const std::vector<std::string>& c) {
        std::vector<std::string> all = a;
        all.insert(all.end(), b.begin(), b.end());
        all.insert(all.end(), c.begin(), c.end());
        return all;
    };
    const std::vector<std::string> login = {"jdoe", "John Doe", kNow};
    const std::vector<std::string> blank = {"", "", ""};
    const std::vector<std::string> ann_row = {"rev2", "Ann", "01 Mar 2024 10:15:32"};
    const signature_case_s cases[] = {
        {"user", slots(none, none, none), {login, blank, blank}},
        {"user", slots(ann, ann, cat), {login, ann_row, {"app3", "Cat", "Yesterday"}}},
        // The lower rows still empty are filled: slot 2 first, then the admin.
        {"admin", slots(none, ann, none), {ann_row, ann_row, login}},
        {"admin", slots(nameless_bob, none, cat), {{"jdoe", "Bob", kNow}, login, login}},
        // Slot 3 shows even when empty.
        {"supervisor", slots(nameless_bob, ann, none), {{"jdoe", "Bob", kNow}, login, blank}},
    };
    add_result("r", result_file_s());
    for (const signature_case_s& c : cases) {
        SCOPED_TRACE(std::string(c.level) + " " + c.slots[0] + "/" + c.slots[3] + "/" + c.slots[6]);
        ASSERT_EQ(run(c.level, c.slots).status, 0);
        const page_text_s p = page("r");
        EXPECT_EQ(lines_from(p, 1420, 3150, 162),
                  (std::vector<std::string>{"Creator", "Reviewer", "Approver"}));
        expect_style(p, 1420, 3150, "Helvetica", 36, "0.372 0.549 1");
        for (int row = 0; row < 3; ++row) {
            const double y = 3150 - row * 162;
            EXPECT_EQ(line_at(p, 1781, y), c.rows[row][0]) << "id, row " << row;
            EXPECT_EQ(line_at(p, 1781, y - 40), c.rows[row][1]) << "name, row " << row;
            EXPECT_TRUE(std::regex_match(line_at(p, 1781, y - 80), std::regex(c.rows[row][2])))
                << "date, row " << row << ": " << line_at(p, 1781, y - 80);
        }
        expect_style(p, 1781, 3110, "Times-Italic", 34, kBlack);
    }

    // Another word signs nothing; the labels stay.
    ASSERT_EQ(run("Admin", slots(ann, ann, cat)).status, 0);
    const page_text_s p = page("r");
    EXPECT_EQ(lines_from(p, 1420, 3150, 162),
              (std::vector<std::string>{"Creator", "Reviewer", "Approver"}));
    for (const shown_text_s& t : p.texts) EXPECT_NE(t.font, "Times-Italic") << t.text;
}

TEST_F(Page1, ValuesMissingFromALaterResultKeepThePreviousOnes) {
    // Each result lacks the key the other has; whichever is reported second shows both.
    add_result("a",
               result_file_s().set("Date", "A").set("Serial number", "SN-A").drop("Protocol name"));
    add_result("b",
               result_file_s().set("Date", "B").set("Protocol name", "P-B").drop("Serial number"));
    run_result_s r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::vector<std::string> dates = lines_starting(r.out, "<sealprint> Date : ");
    ASSERT_EQ(dates.size(), 2u);
    const bool a_first = dates[0] == "<sealprint> Date : A ";
    const page_text_s first = page(a_first ? "a" : "b");
    const page_text_s second = page(a_first ? "b" : "a");
    EXPECT_EQ(line_at(second, 92, 212), "Serial number : SN-A");
    EXPECT_EQ(line_at(second, 917, 2447), "Protocol name : P-B");
    EXPECT_EQ(line_at(first, 92, 212), a_first ? "Serial number : SN-A" : "Serial number : ");
    EXPECT_EQ(line_at(first, 917, 2447), a_first ? "Protocol name : " : "Protocol name : P-B");
}

// ---- Panels and the mean table -----------------------------------------------------------------

struct piece_s {
    std::string text, font;
    bool operator==(const piece_s& o) const { return text == o.text && font == o.font; }
};

std::ostream& operator<<(std::ostream& out, const piece_s& p) {
    return out << '"' << p.text << "\" " << p.font;
}

std::vector<piece_s> pieces(const page_text_s& page, double x, double y) {
    std::vector<piece_s> found;
    for (const shown_text_s& t : pieces_at(page, x, y)) found.push_back({t.text, t.font});
    return found;
}

// The substitute of Arial in the test installation registers under its own name.
const char* const kArialFace = "LiberationSans";

TEST_F(Page1, PanelsShowTheLinesOfEachModeAndMethod) {
    add_result("bf_total", result_file_s()
                               .set("Autofocus offset", "")
                               .set("Size gating", "8 \xE2\x89\xA4 x < 30 \xCE\xBCm"));
    add_result("bf_live", result_file_s()
                              .set("Counting mode", "Bright field cell counting,Viability")
                              .set("Slide type", "3 channel slide")
                              .set("Size gating", " "));
    add_result("fl_cells",
               result_file_s()
                   .set("Counting mode", "Fluorescence cell counting,Cell lines & Primary cells")
                   .set("Min. cell size", "abc")
                   .set("Size gating", "5 ~ 40 um"),
               kFluorescenceImages);
    add_result("fl_other",
               result_file_s()
                   .set("Counting mode", "Fluorescence cell counting,AO/PI viability")
                   .set("Size gating", "12 < 60 um"),
               kFluorescenceImages);
    run_result_s r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    const page_text_s bf_total = page("bf_total");
    EXPECT_EQ(lines_from(bf_total, 139, 2447, 86),
              (std::vector<std::string>{"Slide type : 1 channel slide",
                                        "Counted chamber area : Full", "Autofocused counting : On",
                                        "Autofocus upon slide insertion : Off"}));
    expect_style(bf_total, 139, 2447, "Helvetica", 32, kTitleGrey);
    EXPECT_EQ(lines_from(bf_total, 917, 2447, 86),
              (std::vector<std::string>{"Protocol name : P1", "Min. search size : 4 μm",
                                        "Max. search size : 50 μm",
                                        "Cell detection sensitivity : 5", "Noise reduction : 4",
                                        "Dilution factor : 2", "Size gating : 8  ≤  x  < 30 μm"}));
    EXPECT_EQ(pieces(bf_total, 917, 2447 - 86),
              (std::vector<piece_s>{
                  {"Min. search size : 4 ", "Helvetica"}, {"μ", "FreeSerif"}, {"m", "Helvetica"}}));
    EXPECT_EQ(pieces(bf_total, 917, 2447 - 6 * 86),
              (std::vector<piece_s>{{"Size gating :", "Helvetica"},
                                    {" 8 ", "Helvetica"},
                                    {" ≤", kArialFace},
                                    {"  x  < ", "Helvetica"},
                                    {"30 ", "Helvetica"},
                                    {"μ", "FreeSerif"},
                                    {"m", "FreeSerif"}}));
    EXPECT_EQ(
        lines_from(bf_total, 1691, 2447, 86),
        (std::vector<std::string>{"Total cell concentration : 9.65e5 cells/mL",
                                  "Average cell size : 11.8 μm", "Total cell number : 1158"}));
    expect_style(bf_total, 1691, 2447, "Helvetica", 32, kTitleGrey);

    const page_text_s bf_live = page("bf_live");
    EXPECT_EQ(
        lines_from(bf_live, 139, 2447, 86),
        (std::vector<std::string>{"Slide type : 3 channel slide", "Counted chamber area : Full",
                                  "Combine result : Off", "Autofocused counting : On",
                                  "Autofocus offset : 3", "Autofocus upon slide insertion : Off"}));
    EXPECT_EQ(lines_from(bf_live, 917, 2447, 86),
              (std::vector<std::string>{
                  "Protocol name : P1", "Min. search size : 4 μm", "Max. search size : 50 μm",
                  "Cell detection sensitivity : 5", "Live cell sensitivity : 7",
                  "Noise reduction : 4", "Dilution factor : 2", "Size gating :"}));
    EXPECT_EQ(
        lines_from(bf_live, 1691, 2447, 86),
        (std::vector<std::string>{"Total cell concentration : 9.65e5 cells/mL",
                                  "Live cell concentration : 9.0e5 cells/mL",
                                  "Dead cell concentration : 6.5e4 cells/mL", "Viability : 93.3 %",
                                  "Average cell size : 11.8 μm", "Total cell number : 1158",
                                  "Live cell number : 1080", "Dead cell number : 78"}));

    const page_text_s fl_cells = page("fl_cells");
    EXPECT_EQ(
        lines_from(fl_cells, 139, 2447, 86),
        (std::vector<std::string>{"Slide type : 1 channel slide", "Counted chamber area : Full",
                                  "Autofocusing channel in FL : GF", "Autofocused counting : On",
                                  "Autofocus offset : 3", "Autofocus upon slide insertion : Off"}));
    EXPECT_EQ(lines_from(fl_cells, 917, 2447, 86),
              (std::vector<std::string>{"Protocol name : P1", "GF exposure level : 3",
                                        "RF exposure level : 6", "Cell size calculation : On",
                                        "Min. cell size : 0 μm", "Max. cell size : 45 μm",
                                        "GF threshold level : 31", "RF threshold level : 36",
                                        "Dilution factor : 2", "Size gating : 5 ~ 40 μm"}));
    EXPECT_EQ(pieces(fl_cells, 917, 2447 - 9 * 86),
              (std::vector<piece_s>{{"Size gating :", "Helvetica"},
                                    {" 5 ", "Helvetica"},
                                    {"~ ", "Helvetica"},
                                    {"40 ", "Helvetica"},
                                    {"μ", "FreeSerif"},
                                    {"m", "FreeSerif"}}));

    const page_text_s fl_other = page("fl_other");
    EXPECT_EQ(lines_from(fl_other, 917, 2447, 86),
              (std::vector<std::string>{"Protocol name : P1", "GF exposure level : 3",
                                        "RF exposure level : 6", "Min. search size : 4 μm",
                                        "Max. search size : 50 μm", "Declumping sensitivity : 8",
                                        "Min. FL intensity : 25", "Min. roundness : 55",
                                        "Dilution factor : 2", "Size gating : 12  ≤  x  < 60 μm"}));
    // The results panel picks up in Helvetica after the gating line's FreeSerif.
    expect_style(fl_other, 1691, 2447, "Helvetica", 32, kTitleGrey);
}

result_file_s combined(const std::string& method) {
    return result_file_s()
        .set("Counting mode", "Fluorescence cell counting," + method)
        .set("Slide type", "3 channel slide")
        .set("Combine result", "On")
        .set("[Total cell]", "2.12e6 cells/mL,8.5e4 cells/mL,4.0 %")
        .set("[Live cell]", "2.00e6 cells/mL,7.9e4 cells/mL,4.0 %")
        .set("[Dead cell]", "1.25e5 cells/mL,1.1e4 cells/mL,8.8 %")
        .set("Viability", "94.1 %")  // one part only: SD and CV stay empty
        .set("Avg. size", "12.6 um,0.4 um,3.2 %")
        .set("Total cell number", "2544,102,4.0 %")
        .set("Live cell number", "2394,95,4.0 %")
        .set("Dead cell number", "150,13,8.7 %");
}

TEST_F(Page1, CombinedResultShowsTheMeanTableInsteadOfImages) {
    add_result("fl", combined("AO/PI viability"), {});  // needs no camera image
    add_result("bf",
               combined("Total cell counting")
                   .set("Counting mode", "Bright field cell counting,Total cell counting"),
               {});
    run_result_s r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    const page_text_s fl = page("fl");
    EXPECT_EQ(line_at(fl, 1691, 2546), "Cell counting results (Mean)");
    EXPECT_EQ(
        lines_from(fl, 1691, 2447, 86),
        (std::vector<std::string>{"Total cell concentration : 2.12e6 cells/mL",
                                  "Live cell concentration : 2.00e6 cells/mL",
                                  "Dead cell concentration : 1.25e5 cells/mL", "Viability : 94.1",
                                  "Average cell size : 12.6 μm", "Total cell number : 2544",
                                  "Live cell number : 2394", "Dead cell number : 150"}));
    EXPECT_EQ(line_at(fl, 769, 1263), "Mean");
    EXPECT_EQ(line_at(fl, 1325, 1263), "SD");
    EXPECT_EQ(line_at(fl, 1881, 1263), "CV");
    expect_style(fl, 769, 1263, "Helvetica", 36, kBlack);
    EXPECT_EQ(
        lines_from(fl, 142, 1183, 80),
        (std::vector<std::string>{"Total cell concentration", "Live cell concentration",
                                  "Dead cell concentration", "Viability", "Average cell size",
                                  "Total cell number", "Live cell number", "Dead cell number"}));
    expect_style(fl, 142, 1183, "Helvetica", 32, kBlack);
    EXPECT_EQ(lines_from(fl, 769, 1183, 80),
              (std::vector<std::string>{"2.12e6 cells/mL", "2.00e6 cells/mL", "1.25e5 cells/mL",
                                        "94.1", "12.6 μm", "2544", "2394", "150"}));
    expect_style(fl, 1881, 1183, "Helvetica", 32, kBlack);
    // A part the list lacks leaves its cell empty; the rows below keep their places.
    EXPECT_EQ(lines_from(fl, 1325, 1183, 80),
              (std::vector<std::string>{"8.5e4 cells/mL", "7.9e4 cells/mL", "1.1e4 cells/mL"}));
    EXPECT_EQ(line_at(fl, 1325, 1183 - 3 * 80), "");
    EXPECT_EQ(line_at(fl, 1325, 1183 - 4 * 80), "0.4 μm");
    EXPECT_EQ(line_at(fl, 1325, 1183 - 7 * 80), "13");
    EXPECT_EQ(lines_from(fl, 1881, 1183, 80), (std::vector<std::string>{"4.0", "4.0", "8.8"}));
    EXPECT_EQ(line_at(fl, 1881, 1183 - 4 * 80), "3.2");
    EXPECT_EQ(line_at(fl, 1881, 1183 - 7 * 80), "8.7");
    EXPECT_EQ(fl.images.size(), 2u);  // the artwork and the logo

    const page_text_s bf = page("bf");
    EXPECT_EQ(lines_from(bf, 142, 1183, 80),
              (std::vector<std::string>{"Total cell concentration", "Average cell size",
                                        "Total cell number"}));
    EXPECT_EQ(lines_from(bf, 1325, 1183, 80),
              (std::vector<std::string>{"8.5e4 cells/mL", "0.4 μm", "102"}));
    EXPECT_EQ(
        lines_from(bf, 1691, 2447, 86),
        (std::vector<std::string>{"Total cell concentration : 2.12e6 cells/mL",
                                  "Average cell size : 12.6 μm", "Total cell number : 2544"}));
}

// ---- Camera images -----------------------------------------------------------------------------

TEST_F(Page1, CameraImageSetsDecideTheResult) {
    const result_file_s fluorescence =
        result_file_s().set("Counting mode", "Fluorescence cell counting,AO/PI viability");
    struct case_s {
        const char* what;
        result_file_s result;
        std::vector<std::string> images;
        bool accepted;
    };
    const case_s cases[] = {
        {"all four", fluorescence, kFluorescenceImages, true},
        {"bright field and tag", result_file_s(), kBrightFieldImages, true},
        {"bright field and the fluorescence tag",
         fluorescence,
         {"_01_RAW_BF.tif", "_01_TAG_ALL.tif"},
         true},
        {"no red image",
         fluorescence,
         {"_01_RAW_BF.tif", "_01_RAW_GFP.tif", "_01_TAG_ALL.tif"},
         false},
        {"tag without bright field", result_file_s(), {"_01_TAG.tif"}, false},
        // In fluorescence mode only "_01_TAG_ALL" marks the tag image.
        {"plain tag in fluorescence mode",
         fluorescence,
         {"_01_RAW_BF.tif", "_01_RAW_GFP.tif", "_01_RAW_RFP.tif", "_01_TAG.tif"},
         false},
        {"upper-case extension", result_file_s(), {"_01_RAW_BF.tif", "_01_TAG.TIF"}, false},
    };
    for (const case_s& c : cases) {
        SCOPED_TRACE(c.what);
        add_result("r", c.result, c.images);
        run_result_s r = run();
        if (c.accepted) {
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_EQ(page("r").images.size(), 4u);
        } else {
            EXPECT_EQ(r.status, 255);
            EXPECT_EQ(lines_of(r.out).back(),
                      "[Error] Fail to generate pdf beacause images are not existing !!! ");
            EXPECT_EQ(read_file(pdf("r")), kInstrumentPdf);
        }
    }
}

TEST_F(Page1, UndecodableTagImageLeavesItsFramesEmpty) {
    add_result("r", result_file_s());
    ASSERT_TRUE(write_file(dir_ + "/r/r_01_TAG.tif", "not a picture"));
    run_result_s r = run();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(lines_starting(r.out, "ERROR").empty()) << r.out;
    const page_text_s p = page("r");
    EXPECT_EQ(p.images.size(), 2u);
    EXPECT_EQ(lines_from(p, 92, 212, 53).size(), 3u);  // the page went on
    EXPECT_EQ(run_program({"/usr/bin/qpdf", "--check", pdf("r")}).status, 0);
}

// ---- Pixels ------------------------------------------------------------------------------------

bool is(const page_pixels_s::rgb_s& p, const pixel_s& want) {
    return std::abs(p.r - want.r) < 40 && std::abs(p.g - want.g) < 40 &&
           std::abs(p.b - want.b) < 40;
}

std::string str(const page_pixels_s::rgb_s& p) {
    return std::to_string(p.r) + "," + std::to_string(p.g) + "," + std::to_string(p.b);
}

TEST_F(Page1, PicturesLandInTheirFrames) {
    add_result("r", result_file_s());
    ASSERT_EQ(run().status, 0);
    const page_pixels_s page = render_page1(pdf("r"), dir_, 50);
    ASSERT_GT(page.width, 400);

    // The whole tag image at (92, 500), 1124 × 899: blue with the green centre.
    EXPECT_TRUE(is(page.at(92 + 562, 500 + 450), kGreen)) << str(page.at(654, 950));
    EXPECT_TRUE(is(page.at(92 + 40, 500 + 40), kBlue)) << str(page.at(132, 540));
    EXPECT_TRUE(is(page.at(1216 - 40, 1399 - 40), kBlue)) << str(page.at(1176, 1359));
    EXPECT_FALSE(is(page.at(92 - 30, 950), kBlue));
    EXPECT_FALSE(is(page.at(92 + 562, 500 - 30), kBlue));
    // The zoom at (1262, 500): the green centre fills it from corner to corner.
    for (const auto& [x, y] :
         {std::pair{1262 + 562, 950}, {1262 + 40, 500 + 40}, {2386 - 40, 1399 - 40}})
        EXPECT_TRUE(is(page.at(x, y), kGreen)) << x << "," << y << ": " << str(page.at(x, y));
    EXPECT_FALSE(is(page.at(2386 + 30, 950), kGreen));
    // The built-in logo in the bottom right corner: a blue disc.
    const page_pixels_s::rgb_s logo = page.at(2227 + 40, 48 + 120);
    EXPECT_TRUE(logo.b > 150 && logo.r < 120) << str(logo);

    // The yellow inset, in whole zoom pixels of 1124/1280 × 899/960 units: the outline of the
    // whole image 125 × 100 at the top left, the copied region 62 × 50 at (31, 25) in it.
    const double sx = 1124.0 / 1280, sy = 899.0 / 960;
    const page_pixels_s inset = render_page1(pdf("r"), dir_, 300, 1262, 1399 - 130, 220, 130);
    auto yellow_near = [&](double zx, double zy) {
        for (int d = -3; d <= 3; ++d) {
            const page_pixels_s::rgb_s p = inset.at(1262 + zx * sx + d, 1399 - zy * sy);
            if (p.r > 90 && p.g > 150 && p.b < 100) return true;  // green has no red
        }
        return false;
    };
    EXPECT_TRUE(yellow_near(125, 50));   // outer right edge
    EXPECT_TRUE(yellow_near(31, 50));    // inner left edge
    EXPECT_TRUE(yellow_near(93, 50));    // inner right edge
    EXPECT_FALSE(yellow_near(62, 50));   // inside the inner outline
    EXPECT_FALSE(yellow_near(200, 50));  // beyond the outer outline
}

TEST_F(Page1, ReportFolderIconReplacesTheBuiltInLogo) {
    add_result("r", result_file_s());
    const pixel_s magenta{255, 0, 255, 255};
    ASSERT_TRUE(
        write_file(dir_ + "/icon.png", png_rgba(160, 160, [&](int, int) { return magenta; })));
    ASSERT_EQ(run().status, 0);
    const page_pixels_s page = render_page1(pdf("r"), dir_, 50);
    for (const auto& [x, y] :
         {std::pair{2227 + 12, 48 + 12}, {2227 + 80, 48 + 80}, {2387 - 12, 208 - 12}})
        EXPECT_TRUE(is(page.at(x, y), magenta)) << x << "," << y << ": " << str(page.at(x, y));
    EXPECT_FALSE(is(page.at(2227 - 20, 128), magenta));
}

}  // namespace
