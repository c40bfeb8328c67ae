// Where the report's parts stand, as the tests expect them: page units of 1/300 inch from the
// bottom left corner. Written down here once from the finished reports, independently of the
// program's own layout, so that a moved block fails the tests instead of moving them along.
#pragma once

#include <sstream>
#include <string>

struct point_s {
    double x, y;
};

// Lines of text that start at (x, y) and go down by `step`.
struct column_s {
    double x, y, step;
    point_s line(int n) const { return {x, y - n * step}; }
};

// A title over a column.
struct panel_s {
    point_s title;
    column_s lines;
};

// Bottom left corner and size; a box of no width stands for the whole page.
struct box_s {
    double x = 0, y = 0, w = 0, h = 0;
};

// "x y", as a text position is written in a content stream.
inline std::string origin_text(const point_s& p) {
    std::ostringstream text;
    text << p.x << " " << p.y;
    return text.str();
}

// ---- Both pages ---------------------------------------------------------------------------------

// Page 1 is A4; page 2 keeps the PDF library's default height of 841 pt.
constexpr double kPageHeight[] = {0, 3508, 841.0 * 300.0 / 72.0};

constexpr column_s kHeader{135, 3117, 53};
constexpr column_s kSignatureLabels{1420, 3150, 162};  // Creator, Reviewer, Approver
// A signature row: id, name, date, 40 apart.
constexpr column_s kSignatureIds{1781, 3150, 162};
constexpr column_s kSignatureNames{1781, 3110, 162};
constexpr column_s kSignatureDates{1781, 3070, 162};
constexpr column_s kDeviceLeft{92, 212, 53};    // serial number, versions
constexpr column_s kDeviceRight{742, 212, 53};  // calibration
constexpr box_s kLogo{2227, 48, 160, 160};

// ---- Page 1 -------------------------------------------------------------------------------------

constexpr panel_s kSettingsPanel{{139, 2546}, {139, 2447, 86}};
constexpr panel_s kProtocolPanel{{917, 2546}, {917, 2447, 86}};
constexpr panel_s kResultsPanel{{1691, 2546}, {1691, 2447, 86}};

constexpr box_s kTagFrame{92, 500, 1124, 899};
constexpr box_s kZoomFrame{1262, 500, 1124, 899};

// The mean table of a combined result, in place of the camera images.
constexpr column_s kMeanLabels{142, 1183, 80};
constexpr panel_s kMeanColumn{{769, 1263}, {769, 1183, 80}};
constexpr panel_s kSdColumn{{1325, 1263}, {1325, 1183, 80}};
constexpr panel_s kCvColumn{{1881, 1263}, {1881, 1183, 80}};

// ---- Page 2: the histogram pictures, in rows of up to three -----------------------------------

constexpr double kPictureW = 728, kPictureH = 518;
constexpr double kNumberRowY = 1951, kConcentrationRowY = 1108, kClusterRowY = 350;
constexpr double kColumnX[3] = {92, 876, 1660};  // total, live, dead

constexpr box_s picture_box(int column, double row_y) {
    return {kColumnX[column], row_y, kPictureW, kPictureH};
}
