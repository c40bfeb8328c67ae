// Page 1 of a saved report as the PDF itself tells it: the text operators of its content
// stream (read from qpdf's uncompressed form) and its pixels (rendered by pdftoppm).
#pragma once

#include <string>
#include <vector>

// One string shown by Tj, in page units (the page's 0.24 scale taken out).
struct shown_text_s {
    std::string text;  // UTF-8
    std::string font;  // base font name without a subset prefix, e.g. "Helvetica", "FreeSerif"
    double size = 0;
    double x = 0, y = 0;  // start of the line: the text position after the last Td
    std::string fill;     // operands of the last "rg", e.g. "0.118 0.118 0.118"
};

struct placed_image_s {
    double x, y, w, h;
};

struct page_text_s {
    std::vector<shown_text_s> texts;  // in drawing order
    std::vector<placed_image_s> images;
    std::string error;  // empty when the page was read
};

// Page 1 of `pdf`; `work_dir` takes qpdf's output.
page_text_s read_page1(const std::string& pdf, const std::string& work_dir);

// The strings shown on the line that starts at (x, y), in order.
std::vector<shown_text_s> pieces_at(const page_text_s& page, double x, double y);
// Those strings joined; empty when nothing is shown there.
std::string line_at(const page_text_s& page, double x, double y);
// The lines of a block: (x, y), (x, y - step), ... up to the first position showing nothing.
std::vector<std::string> lines_from(const page_text_s& page, double x, double y, double step);

// Pixels of page 1 rendered by pdftoppm, addressed in page units.
struct page_pixels_s {
    struct rgb_s {
        int r = -1, g = -1, b = -1;
    };
    int width = 0, height = 0;
    double dpi = 0;
    double left = 0, top = 0;            // page units of the rendered area's top left corner
    std::string data;                    // RGB rows
    rgb_s at(double x, double y) const;  // (-1, -1, -1) outside the rendered area
};

// The whole page at `dpi`, or only the area of w × h page units whose bottom left corner is
// (x, y) when w > 0.
page_pixels_s render_page1(const std::string& pdf, const std::string& work_dir, int dpi,
                           double x = 0, double y = 0, double w = 0, double h = 0);
