// Page 1 of the report, read back from the saved PDF: what is shown, in which font, size and
// colour, at which position, and where the pictures land.
#include <regex>

#include "common/files.h"
#include "page_reader.h"
#include "result_folder.h"
#include "sealprint_run.h"

namespace {

// ---- Runs --------------------------------------------------------------------------------------

const std::string kNow = R"(\d\d [A-Z][a-z]{2} \d{4} \d\d:\d\d:\d\d)";

class Page1 : public SealprintTest {
protected:
    // <dir_>/<folder>/r.{pdf,csv} and the camera images.
    void add_result(const std::string& folder, const result_file_s& result,
                    const camera_images_s& images = kBrightFieldImages) {
        ::add_result(dir_ + "/" + folder, result, images);
    }

    run_result_s run(const std::string& level = "user",
                     const std::vector<std::string>& slots = {"_", "_", "", "_", "_", "", "_", "_",
                                                              ""}) {
        std::vector<std::string> args = {"jdoe", "4a6f686e20446f65", level, dir_};
        args.insert(args.end(), slots.begin(), slots.end());
        return run_sealprint(args);
    }

    std::string pdf(const std::string& folder) const { return dir_ + "/" + folder + "/r.pdf"; }

    page_s page(const std::string& folder) const {
        page_s p = read_page(pdf(folder), 1);
        EXPECT_EQ(p.error, "") << folder;
        return p;
    }
};

void expect_style(const page_s& page, point_s at, const std::string& font, double size,
                  const std::string& fill) {
    const std::vector<shown_text_s> pieces = pieces_at(page, at);
    ASSERT_FALSE(pieces.empty()) << at.x << "," << at.y;
    EXPECT_EQ(pieces[0].font, font) << at.x << "," << at.y;
    EXPECT_EQ(pieces[0].size, size) << at.x << "," << at.y;
    EXPECT_EQ(pieces[0].fill, fill) << at.x << "," << at.y;
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
    const page_s p = page("r");

    std::vector<std::string> header = lines_from(p, kHeader);
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
    expect_style(p, kHeader.line(0), "Helvetica", 34, kBlack);

    EXPECT_EQ(lines_from(p, kDeviceLeft),
              (std::vector<std::string>{"Serial number : ORK2-0137", "Software version : 1.3.5",
                                        "Firmware version : 2.1.4"}));
    EXPECT_EQ(lines_from(p, kDeviceRight),
              (std::vector<std::string>{
                  "Last calibration : 2024-02-12", "Calibration setting : 1.0 / 1.1",
                  "Calibration value : 0.9 / 1.2 / 1.0", "Pixel shift : 2 / -1"}));
    expect_style(p, kDeviceRight.line(0), "Helvetica", 28, kTitleGrey);

    EXPECT_EQ(line_at(p, kSettingsPanel.title), "Instrument setting");
    EXPECT_EQ(line_at(p, kProtocolPanel.title), "Protocol");
    EXPECT_EQ(line_at(p, kResultsPanel.title), "Cell counting results");
    expect_style(p, kProtocolPanel.title, "Helvetica-Bold", 40, kTitleGrey);
}

TEST_F(Page1, ShortFileNameOnlyNamesThePdf) {
    add_result("r", result_file_s().set("File name", "a.csv.csv"));
    ASSERT_EQ(run().status, 0);
    EXPECT_EQ(line_at(page("r"), kHeader.line(4)), "File name : a.pdf.pdf");
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
        const page_s p = page("r");
        EXPECT_EQ(lines_from(p, kSignatureLabels),
                  (std::vector<std::string>{"Creator", "Reviewer", "Approver"}));
        expect_style(p, kSignatureLabels.line(0), "Helvetica", 36, "0.372 0.549 1");
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ(line_at(p, kSignatureIds.line(row)), c.rows[row][0]) << "id, row " << row;
            EXPECT_EQ(line_at(p, kSignatureNames.line(row)), c.rows[row][1]) << "name, row " << row;
            const std::string date = line_at(p, kSignatureDates.line(row));
            EXPECT_TRUE(std::regex_match(date, std::regex(c.rows[row][2])))
                << "date, row " << row << ": " << date;
        }
        expect_style(p, kSignatureNames.line(0), "Times-Italic", 34, kBlack);
    }

    // Another word signs nothing; the labels stay.
    ASSERT_EQ(run("Admin", slots(ann, ann, cat)).status, 0);
    const page_s p = page("r");
    EXPECT_EQ(lines_from(p, kSignatureLabels),
              (std::vector<std::string>{"Creator", "Reviewer", "Approver"}));
    for (const shown_text_s& t : p.texts)
        EXPECT_NE(t.font, "Times-Italic") << t.text;
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
    const page_s first = page(a_first ? "a" : "b");
    const page_s second = page(a_first ? "b" : "a");
    EXPECT_EQ(line_at(second, kDeviceLeft.line(0)), "Serial number : SN-A");
    EXPECT_EQ(line_at(second, kProtocolPanel.lines.line(0)), "Protocol name : P-B");
    EXPECT_EQ(line_at(first, kDeviceLeft.line(0)),
              a_first ? "Serial number : SN-A" : "Serial number : ");
    EXPECT_EQ(line_at(first, kProtocolPanel.lines.line(0)),
              a_first ? "Protocol name : " : "Protocol name : P-B");
}

// ---- Panels and the mean table -----------------------------------------------------------------

struct piece_s {
    std::string text, font;
    bool operator==(const piece_s& o) const { return text == o.text && font == o.font; }
};

std::ostream& operator<<(std::ostream& out, const piece_s& p) {
    return out << '"' << p.text << "\" " << p.font;
}

std::vector<piece_s> pieces(const page_s& page, point_s at) {
    std::vector<piece_s> found;
    for (const shown_text_s& t : pieces_at(page, at))
        found.push_back({t.text, t.font});
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

    const page_s bf_total = page("bf_total"), bf_live = page("bf_live");
    const page_s fl_cells = page("fl_cells"), fl_other = page("fl_other");
    struct panel_lines_s {
        const char* result;
        const page_s& page;
        panel_s panel;
        std::vector<std::string> lines;
    };
    const panel_lines_s expected[] = {
        {"bf_total",
         bf_total,
         kSettingsPanel,
         {"Slide type : 1 channel slide", "Counted chamber area : Full",
          "Autofocused counting : On", "Autofocus upon slide insertion : Off"}},
        {"bf_total",
         bf_total,
         kProtocolPanel,
         {"Protocol name : P1", "Min. search size : 4 μm", "Max. search size : 50 μm",
          "Cell detection sensitivity : 5", "Noise reduction : 4", "Dilution factor : 2",
          "Size gating : 8  ≤  x  < 30 μm"}},
        {"bf_total",
         bf_total,
         kResultsPanel,
         {"Total cell concentration : 9.65e5 cells/mL", "Average cell size : 11.8 μm",
          "Total cell number : 1158"}},
        {"bf_live",
         bf_live,
         kSettingsPanel,
         {"Slide type : 3 channel slide", "Counted chamber area : Full", "Combine result : Off",
          "Autofocused counting : On", "Autofocus offset : 3",
          "Autofocus upon slide insertion : Off"}},
        {"bf_live",
         bf_live,
         kProtocolPanel,
         {"Protocol name : P1", "Min. search size : 4 μm", "Max. search size : 50 μm",
          "Cell detection sensitivity : 5", "Live cell sensitivity : 7", "Noise reduction : 4",
          "Dilution factor : 2", "Size gating :"}},
        {"bf_live",
         bf_live,
         kResultsPanel,
         {"Total cell concentration : 9.65e5 cells/mL", "Live cell concentration : 9.0e5 cells/mL",
          "Dead cell concentration : 6.5e4 cells/mL", "Viability : 93.3 %",
          "Average cell size : 11.8 μm", "Total cell number : 1158", "Live cell number : 1080",
          "Dead cell number : 78"}},
        {"fl_cells",
         fl_cells,
         kSettingsPanel,
         {"Slide type : 1 channel slide", "Counted chamber area : Full",
          "Autofocusing channel in FL : GF", "Autofocused counting : On", "Autofocus offset : 3",
          "Autofocus upon slide insertion : Off"}},
        {"fl_cells",
         fl_cells,
         kProtocolPanel,
         {"Protocol name : P1", "GF exposure level : 3", "RF exposure level : 6",
          "Cell size calculation : On", "Min. cell size : 0 μm", "Max. cell size : 45 μm",
          "GF threshold level : 31", "RF threshold level : 36", "Dilution factor : 2",
          "Size gating : 5 ~ 40 μm"}},
        {"fl_other",
         fl_other,
         kProtocolPanel,
         {"Protocol name : P1", "GF exposure level : 3", "RF exposure level : 6",
          "Min. search size : 4 μm", "Max. search size : 50 μm", "Declumping sensitivity : 8",
          "Min. FL intensity : 25", "Min. roundness : 55", "Dilution factor : 2",
          "Size gating : 12  ≤  x  < 60 μm"}},
    };
    for (const panel_lines_s& e : expected) {
        EXPECT_EQ(lines_from(e.page, e.panel.lines), e.lines)
            << e.result << " at " << origin_text(e.panel.title);
    }
    expect_style(bf_total, kSettingsPanel.lines.line(0), "Helvetica", 32, kTitleGrey);
    expect_style(bf_total, kResultsPanel.lines.line(0), "Helvetica", 32, kTitleGrey);
    EXPECT_EQ(pieces(bf_total, kProtocolPanel.lines.line(1)),
              (std::vector<piece_s>{
                  {"Min. search size : 4 ", "Helvetica"}, {"μ", "FreeSerif"}, {"m", "Helvetica"}}));
    EXPECT_EQ(pieces(bf_total, kProtocolPanel.lines.line(6)),
              (std::vector<piece_s>{{"Size gating :", "Helvetica"},
                                    {" 8 ", "Helvetica"},
                                    {" ≤", kArialFace},
                                    {"  x  < ", "Helvetica"},
                                    {"30 ", "Helvetica"},
                                    {"μ", "FreeSerif"},
                                    {"m", "FreeSerif"}}));
    EXPECT_EQ(pieces(fl_cells, kProtocolPanel.lines.line(9)),
              (std::vector<piece_s>{{"Size gating :", "Helvetica"},
                                    {" 5 ", "Helvetica"},
                                    {"~ ", "Helvetica"},
                                    {"40 ", "Helvetica"},
                                    {"μ", "FreeSerif"},
                                    {"m", "FreeSerif"}}));
    // The results panel picks up in Helvetica after the gating line's FreeSerif.
    expect_style(fl_other, kResultsPanel.lines.line(0), "Helvetica", 32, kTitleGrey);
}

// A mode that is neither bright field nor fluorescence takes the fluorescence protocol, but
// neither its FL channel line nor its "_01_TAG_ALL" mark; "Total cell counting" splits live
// and dead there, since only bright field counts totals alone.
TEST_F(Page1, OtherModeTakesTheFluorescenceProtocolWithoutItsChannelOrTag) {
    add_result("r",
               result_file_s().set("Counting mode", "Phase contrast counting,Total cell counting"),
               kBrightFieldImages);
    run_result_s r = run();
    ASSERT_EQ(r.status, 0) << r.out;
    const page_s p = page("r");
    EXPECT_EQ(
        lines_from(p, kSettingsPanel.lines),
        (std::vector<std::string>{"Slide type : 1 channel slide", "Counted chamber area : Full",
                                  "Autofocused counting : On", "Autofocus offset : 3",
                                  "Autofocus upon slide insertion : Off"}));
    EXPECT_EQ(lines_from(p, kProtocolPanel.lines),
              (std::vector<std::string>{"Protocol name : P1", "GF exposure level : 3",
                                        "RF exposure level : 6", "Min. search size : 4 μm",
                                        "Max. search size : 50 μm", "Declumping sensitivity : 8",
                                        "Min. FL intensity : 25", "Min. roundness : 55",
                                        "Dilution factor : 2", "Size gating : 5 ~ 20 μm"}));
    EXPECT_EQ(lines_from(p, kResultsPanel.lines).size(), 8u);
    EXPECT_EQ(p.images.size(), 4u);
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

    const page_s fl = page("fl");
    EXPECT_EQ(line_at(fl, kResultsPanel.title), "Cell counting results (Mean)");
    EXPECT_EQ(
        lines_from(fl, kResultsPanel.lines),
        (std::vector<std::string>{"Total cell concentration : 2.12e6 cells/mL",
                                  "Live cell concentration : 2.00e6 cells/mL",
                                  "Dead cell concentration : 1.25e5 cells/mL", "Viability : 94.1",
                                  "Average cell size : 12.6 μm", "Total cell number : 2544",
                                  "Live cell number : 2394", "Dead cell number : 150"}));
    EXPECT_EQ(line_at(fl, kMeanColumn.title), "Mean");
    EXPECT_EQ(line_at(fl, kSdColumn.title), "SD");
    EXPECT_EQ(line_at(fl, kCvColumn.title), "CV");
    expect_style(fl, kMeanColumn.title, "Helvetica", 36, kBlack);
    EXPECT_EQ(
        lines_from(fl, kMeanLabels),
        (std::vector<std::string>{"Total cell concentration", "Live cell concentration",
                                  "Dead cell concentration", "Viability", "Average cell size",
                                  "Total cell number", "Live cell number", "Dead cell number"}));
    expect_style(fl, kMeanLabels.line(0), "Helvetica", 32, kBlack);
    EXPECT_EQ(lines_from(fl, kMeanColumn.lines),
              (std::vector<std::string>{"2.12e6 cells/mL", "2.00e6 cells/mL", "1.25e5 cells/mL",
                                        "94.1", "12.6 μm", "2544", "2394", "150"}));
    expect_style(fl, kCvColumn.lines.line(0), "Helvetica", 32, kBlack);
    // A part the list lacks leaves its cell empty; the rows below keep their places.
    EXPECT_EQ(lines_from(fl, kSdColumn.lines),
              (std::vector<std::string>{"8.5e4 cells/mL", "7.9e4 cells/mL", "1.1e4 cells/mL"}));
    EXPECT_EQ(line_at(fl, kSdColumn.lines.line(3)), "");
    EXPECT_EQ(line_at(fl, kSdColumn.lines.line(4)), "0.4 μm");
    EXPECT_EQ(line_at(fl, kSdColumn.lines.line(7)), "13");
    EXPECT_EQ(lines_from(fl, kCvColumn.lines), (std::vector<std::string>{"4.0", "4.0", "8.8"}));
    EXPECT_EQ(line_at(fl, kCvColumn.lines.line(4)), "3.2");
    EXPECT_EQ(line_at(fl, kCvColumn.lines.line(7)), "8.7");
    EXPECT_EQ(fl.images.size(), 2u);  // the artwork and the logo

    const page_s bf = page("bf");
    EXPECT_EQ(lines_from(bf, kMeanLabels),
              (std::vector<std::string>{"Total cell concentration", "Average cell size",
                                        "Total cell number"}));
    EXPECT_EQ(lines_from(bf, kSdColumn.lines),
              (std::vector<std::string>{"8.5e4 cells/mL", "0.4 μm", "102"}));
    EXPECT_EQ(
        lines_from(bf, kResultsPanel.lines),
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
        {"all four", fluorescence, kFluorescenceImages.suffixes, true},
        {"bright field and tag", result_file_s(), kBrightFieldImages.suffixes, true},
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
        add_result("r", c.result, {c.images});
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
    const page_s p = page("r");
    EXPECT_EQ(p.images.size(), 2u);
    EXPECT_EQ(lines_from(p, kDeviceLeft).size(), 3u);  // the page went on
    EXPECT_EQ(run_program({"/usr/bin/qpdf", "--check", pdf("r")}).status, 0);
}

// ---- Pixels ------------------------------------------------------------------------------------

bool is(const page_pixels_s::rgb_s& p, const pixel_s& want) {
    return near(p, {want.r, want.g, want.b}, 39);
}

TEST_F(Page1, PicturesLandInTheirFrames) {
    add_result("r", result_file_s());
    ASSERT_EQ(run().status, 0);
    const page_pixels_s page = render_page(pdf("r"), 1, {}, 50);
    ASSERT_GT(page.width, 400);

    // The whole tag image: blue with the green centre.
    const box_s& tag = kTagFrame;
    const double middle_x = tag.x + tag.w / 2, middle_y = tag.y + 450, top = tag.y + tag.h;
    EXPECT_TRUE(is(page.at(middle_x, middle_y), kTagGreen)) << str(page.at(middle_x, middle_y));
    EXPECT_TRUE(is(page.at(tag.x + 40, tag.y + 40), kTagBlue))
        << str(page.at(tag.x + 40, tag.y + 40));
    const double right = tag.x + tag.w;
    EXPECT_TRUE(is(page.at(right - 40, top - 40), kTagBlue)) << str(page.at(right - 40, top - 40));
    EXPECT_FALSE(is(page.at(tag.x - 30, middle_y), kTagBlue));
    EXPECT_FALSE(is(page.at(middle_x, tag.y - 30), kTagBlue));
    // The zoom beside it: the green centre fills it from corner to corner.
    const box_s& zoom = kZoomFrame;
    for (const auto& [x, y] : {std::pair{zoom.x + zoom.w / 2, middle_y},
                               {zoom.x + 40, zoom.y + 40},
                               {zoom.x + zoom.w - 40, top - 40}})
        EXPECT_TRUE(is(page.at(x, y), kTagGreen)) << x << "," << y << ": " << str(page.at(x, y));
    EXPECT_FALSE(is(page.at(zoom.x + zoom.w + 30, middle_y), kTagGreen));
    // The built-in logo in the bottom right corner: a blue disc.
    const page_pixels_s::rgb_s logo = page.at(kLogo.x + 40, kLogo.y + 120);
    EXPECT_TRUE(logo.b > 150 && logo.r < 120) << str(logo);

    // The yellow inset, in whole zoom pixels of 1124/1280 × 899/960 units: the outline of the
    // whole image 125 × 100 at the top left, the copied region 62 × 50 at (31, 25) in it.
    const double sx = zoom.w / 1280, sy = zoom.h / 960;
    const page_pixels_s inset = render_page(pdf("r"), 1, {zoom.x, top - 130, 220, 130}, 300);
    auto yellow_near = [&](double zx, double zy) {
        for (int d = -3; d <= 3; ++d) {
            const page_pixels_s::rgb_s p = inset.at(zoom.x + zx * sx + d, top - zy * sy);
            if (p.r > 90 && p.g > 150 && p.b < 100)
                return true;  // green has no red
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
    const page_pixels_s page = render_page(pdf("r"), 1, {}, 50);
    const box_s& logo = kLogo;
    for (const auto& [x, y] : {std::pair{logo.x + 12, logo.y + 12},
                               {logo.x + 80, logo.y + 80},
                               {logo.x + logo.w - 12, logo.y + logo.h - 12}})
        EXPECT_TRUE(is(page.at(x, y), magenta)) << x << "," << y << ": " << str(page.at(x, y));
    EXPECT_FALSE(is(page.at(logo.x - 20, logo.y + 80), magenta));
}

}  // namespace
