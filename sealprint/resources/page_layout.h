// Geometry of the two report pages, in page units: 1/300 inch, origin at the bottom left of
// an A4 page, y upwards. The artwork generator draws its frames from these numbers and the
// page drawing code places its text and pictures with the same numbers, so a frame and the
// text it holds always move together. A text origin is where its first baseline starts.
#pragma once

namespace page_layout {

struct point_s {
    int x;
    int y;
};

// Lower-left corner and size.
struct box_s {
    int x;
    int y;
    int w;
    int h;
};

constexpr int top(const box_s& b) {
    return b.y + b.h;
}
constexpr int right(const box_s& b) {
    return b.x + b.w;
}

// Room that a line of Helvetica-like text of the given size takes above and below its
// baseline (cap height and descender, rounded up); used to keep text clear of rules.
constexpr int cap_height(int font_size) {
    return (font_size * 3 + 3) / 4;
}
constexpr int descent(int font_size) {
    return (font_size + 4) / 5;
}

inline constexpr int page_width = 2480;
inline constexpr int page_height = 3508;

// Everything printed stays between these two edges (a printer's margin on both sides).
inline constexpr int content_left = 92;
inline constexpr int content_right = 2388;
inline constexpr int content_width = content_right - content_left;

inline constexpr box_s background_box{0, 0, page_width, page_height};
inline constexpr box_s logo_box{2227, 48, 160, 160};

// ---- Header and signatures, identical on both pages ----------------------------------------

inline constexpr box_s title_band{content_left, 3262, content_width, 150};
inline constexpr point_s title_band_text_origin{135, title_band.y + 48};
inline constexpr int title_band_font_size = 72;

inline constexpr point_s header_origin{135, 3117};
inline constexpr int header_step = 53;
inline constexpr int header_font_size = 34;
inline constexpr int header_line_count = 8;
// The eighth line continues the seventh (the counting method under the counting mode).
inline constexpr int header_bullet_count = 7;
inline constexpr int header_bullet_x = 109;  // centre of each bullet mark
inline constexpr int header_bullet_diameter = 14;
// A file name wider than this (measured with a 34 pt Qt font) is shortened from the left.
inline constexpr int MAX_FN_WIDTH = 1400;

inline constexpr point_s signature_label_origin{1420, 3150};
inline constexpr point_s signature_id_origin{1781, 3150};
inline constexpr point_s signature_name_origin{1781, 3110};
inline constexpr point_s signature_date_origin{1781, 3070};
inline constexpr int signature_step = 162;  // one grid row per approval slot
inline constexpr int signature_row_count = 3;
inline constexpr int signature_label_font_size = 36;
inline constexpr int signature_value_font_size = 34;
// The grid's rows are centred on the id/name/date stack of each slot.
inline constexpr int signature_cell_inset = 30;
inline constexpr int signature_grid_top =
    (signature_id_origin.y + cap_height(signature_value_font_size) + signature_date_origin.y -
     descent(signature_value_font_size) + signature_step) /
    2;
inline constexpr box_s signature_grid{
    signature_label_origin.x - signature_cell_inset,
    signature_grid_top - signature_row_count* signature_step,
    content_right - (signature_label_origin.x - signature_cell_inset),
    signature_row_count* signature_step};
inline constexpr int signature_value_column_x = signature_id_origin.x - signature_cell_inset;

// ---- Page 1: the three panels ----------------------------------------------------------------

// Three columns shared by the panels of page 1 and the pictures of page 2.
inline constexpr int column_x[3] = {92, 876, 1660};
inline constexpr int column_width = 728;

// "Instrument setting", "Protocol", results title; one text object, moved column to column.
inline constexpr point_s section_title_origins[3] = {{139, 2546}, {917, 2546}, {1691, 2546}};
inline constexpr int section_title_font_size = 40;

inline constexpr point_s setting_origin{139, 2447};
inline constexpr point_s protocol_origin{917, 2447};
inline constexpr point_s results_origin{1691, 2447};
inline constexpr int panel_step = 86;
inline constexpr int panel_font_size = 32;
inline constexpr int setting_max_lines = 7;
inline constexpr int protocol_max_lines = 10;  // the longest variant, size gating included
inline constexpr int results_max_lines = 8;

inline constexpr int panel_top = setting_origin.y + 65;
inline constexpr int panel_bottom = protocol_origin.y - (protocol_max_lines - 1) * panel_step - 113;
inline constexpr box_s panel_boxes[3] = {
    {column_x[0], panel_bottom, column_width, panel_top - panel_bottom},
    {column_x[1], panel_bottom, column_width, panel_top - panel_bottom},
    {column_x[2], panel_bottom, column_width, panel_top - panel_bottom}};

// Dark band with a white heading above the camera images or the mean table.
inline constexpr int section_band_height = 72;
inline constexpr int section_band_gap = 24;  // between a band and what it heads
inline constexpr int section_band_font_size = 40;
inline constexpr int section_band_text_x = 135;

// ---- Page 1: camera images (report_1.jpg) ------------------------------------------------------

inline constexpr box_s tag_image_box{92, 500, 1124, 899};
inline constexpr box_s zoom_image_box{1262, 500, 1124, 899};
inline constexpr box_s images_band{content_left, top(tag_image_box) + section_band_gap,
                                   content_width, section_band_height};

// ---- Page 1: Mean/SD/CV table of the combined layout (report_1_3ch.jpg) -----------------------

inline constexpr point_s mean_table_heading_origins[3] = {{769, 1263}, {1325, 1263}, {1881, 1263}};
inline constexpr point_s mean_table_label_origin{142, 1183};
inline constexpr point_s mean_table_value_origins[3] = {{769, 1183}, {1325, 1183}, {1881, 1183}};
inline constexpr int mean_table_step = 80;  // also the height of a table row
inline constexpr int mean_table_heading_font_size = 36;
inline constexpr int mean_table_font_size = 32;
inline constexpr int mean_table_row_count = 9;  // headings and the eight results
inline constexpr int mean_table_cell_inset = 30;
// Rows are centred on their text: 28 below the baseline, 52 above it.
inline constexpr int mean_table_top = mean_table_heading_origins[0].y + mean_table_step - 28;
inline constexpr box_s mean_table_box{content_left,
                                      mean_table_top - mean_table_row_count* mean_table_step,
                                      content_width, mean_table_row_count* mean_table_step};
// Left edges of the four columns: row labels, Mean, SD, CV.
inline constexpr int mean_table_column_x[4] = {
    content_left, mean_table_value_origins[0].x - mean_table_cell_inset,
    mean_table_value_origins[1].x - mean_table_cell_inset,
    mean_table_value_origins[2].x - mean_table_cell_inset};
inline constexpr box_s results_band{content_left, mean_table_top + section_band_gap, content_width,
                                    section_band_height};

// ---- Foot of both pages ----------------------------------------------------------------------

inline constexpr point_s device_info_left_origin{92, 212};
inline constexpr point_s device_info_right_origin{742, 212};
inline constexpr int device_info_step = 53;
inline constexpr int device_info_font_size = 28;
inline constexpr int foot_rule_y = device_info_left_origin.y + 58;

// ---- Page 2: histogram and cluster pictures --------------------------------------------------

inline constexpr int picture_width = 728;
inline constexpr int picture_height = 518;
inline constexpr int number_row_y = 1951;         // histograms in cell numbers
inline constexpr int concentration_row_y = 1108;  // histograms in concentration
inline constexpr int cluster_row_y = 350;         // cluster graph, left column only

// Columns: 0 total (or the cluster graph), 1 live, 2 dead.
constexpr box_s picture_box(int row_y, int column) {
    return {column_x[column], row_y, picture_width, picture_height};
}

// Each histogram row has a band with the column titles right above it and a bold row title
// above the band; the cluster row has its title only.
inline constexpr int picture_band_gap = 16;
inline constexpr int picture_band_height = 64;
inline constexpr int picture_band_font_size = 36;
inline constexpr int picture_title_font_size = 40;
inline constexpr int picture_title_x = section_title_origins[0].x;
inline constexpr int picture_title_gap = 32;  // between a title's baseline and what it heads

constexpr box_s picture_band(int row_y) {
    return {content_left, row_y + picture_height + picture_band_gap, content_width,
            picture_band_height};
}
inline constexpr point_s number_title_origin{picture_title_x,
                                             top(picture_band(number_row_y)) + picture_title_gap};
inline constexpr point_s concentration_title_origin{
    picture_title_x, top(picture_band(concentration_row_y)) + picture_title_gap};
inline constexpr point_s cluster_title_origin{
    picture_title_x, cluster_row_y + picture_height + picture_band_gap + picture_title_gap};

// ---- What keeps the pages readable -----------------------------------------------------------

static_assert(title_band.y > header_origin.y + cap_height(header_font_size));
static_assert(title_band.y > signature_grid_top);
static_assert(signature_grid_top >
              signature_label_origin.y + cap_height(signature_label_font_size));
static_assert(signature_grid.y < signature_date_origin.y -
                                     (signature_row_count - 1) * signature_step -
                                     descent(signature_value_font_size));
// The file name is shortened to MAX_FN_WIDTH pixels of a 34 pt font at 96 dpi, which is 3/4
// of that in page units at size 34; 190 units are taken by "File name : ".
static_assert(header_origin.x + 190 + MAX_FN_WIDTH * 3 / 4 < signature_grid.x);
static_assert(signature_grid.y > section_title_origins[0].y + cap_height(section_title_font_size));
static_assert(header_origin.y - (header_line_count - 1) * header_step - descent(header_font_size) >
              section_title_origins[0].y + cap_height(section_title_font_size));

static_assert(section_title_origins[0].y - descent(section_title_font_size) > panel_top);
static_assert(setting_origin.y + cap_height(panel_font_size) < panel_top);
static_assert(protocol_origin.y - (protocol_max_lines - 1) * panel_step - descent(panel_font_size) >
              panel_bottom);
static_assert(section_title_origins[0].x > column_x[0] &&
              section_title_origins[1].x > column_x[1] && section_title_origins[2].x > column_x[2]);
static_assert(setting_origin.x == section_title_origins[0].x &&
              protocol_origin.x == section_title_origins[1].x &&
              results_origin.x == section_title_origins[2].x);

static_assert(top(images_band) < panel_bottom && top(results_band) < panel_bottom);
static_assert(top(mean_table_box) >
              mean_table_heading_origins[0].y + cap_height(mean_table_heading_font_size));
static_assert(mean_table_label_origin.y == mean_table_heading_origins[0].y - mean_table_step);
static_assert(mean_table_box.y < mean_table_label_origin.y -
                                     (mean_table_row_count - 2) * mean_table_step -
                                     descent(mean_table_font_size));
static_assert(mean_table_label_origin.x > mean_table_column_x[0]);
static_assert(mean_table_box.y > foot_rule_y && tag_image_box.y > foot_rule_y);
static_assert(tag_image_box.y == zoom_image_box.y && right(zoom_image_box) <= content_right);

static_assert(foot_rule_y > device_info_left_origin.y + cap_height(device_info_font_size));
static_assert(device_info_right_origin.y - 3 * device_info_step - descent(device_info_font_size) >
              0);
static_assert(right(logo_box) <= content_right && top(logo_box) < foot_rule_y);

static_assert(right(picture_box(0, 2)) == content_right);
static_assert(number_title_origin.y + cap_height(picture_title_font_size) < signature_grid.y);
static_assert(concentration_title_origin.y + cap_height(picture_title_font_size) < number_row_y);
static_assert(cluster_title_origin.y + cap_height(picture_title_font_size) < concentration_row_y);
static_assert(cluster_row_y > foot_rule_y);

}  // namespace page_layout
