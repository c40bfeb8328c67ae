// A page of a saved report as the PDF itself tells it: the text operators of its content stream
// (read from qpdf's uncompressed form) and its pixels (rendered by pdftoppm).
#pragma once

#include <string>
#include <vector>

#include "page_anchors.h"

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

struct page_s {
    std::vector<shown_text_s> texts;  // in drawing order
    std::vector<placed_image_s> images;
    // Every text object from BT to ET as written, each line ending in a line feed, led by the
    // Tf line and the rg line in force where it starts; the font is named by its object
    // ("font#8 34 Tf"), so that the text objects of two pages of one document compare.
    std::vector<std::string> text_objects;
    std::string content;  // the content stream as written
    std::string error;    // empty when the page was read
};

// Page `n` (from 1) of `pdf`.
page_s read_page(const std::string& pdf, int n);

// The strings shown on the line that starts at `at`, in order.
std::vector<shown_text_s> pieces_at(const page_s& page, point_s at);
// Those strings joined; empty when nothing is shown there.
std::string line_at(const page_s& page, point_s at);
// The lines of a column, from its top down to the first position showing nothing.
std::vector<std::string> lines_from(const page_s& page, const column_s& column);
// The first text position of a text object ("x y" of the first Td after BT); empty if none.
std::string origin_of(const std::string& text_object);

// Pixels of a page rendered by pdftoppm, addressed in page units.
struct page_pixels_s {
    struct rgb_s {
        int r = -1, g = -1, b = -1;
    };
    int width = 0, height = 0;
    double dpi = 0;
    double left = 0, top = 0;            // page units of the rendered area's top left corner
    std::string data;                    // RGB rows
    rgb_s at(double x, double y) const;  // (-1, -1, -1) outside the rendered area
    rgb_s pixel(int column, int row) const;
};

// How many images `pdfimages -list` shows on page `n` whose columns after "image" match
// `columns` (a regular expression: width, height, colour, ...).
int images_listed(const std::string& pdf, int n, const std::string& columns);

// Page `n` rendered at `dpi`: the whole page, or only `box` when it has a width.
page_pixels_s render_page(const std::string& pdf, int n, const box_s& box = {}, int dpi = 300);

// Every channel of `p` within `tolerance` of `colour`.
bool near(const page_pixels_s::rgb_s& p, const page_pixels_s::rgb_s& colour, int tolerance);
// "r,g,b", for failure messages.
std::string str(const page_pixels_s::rgb_s& p);
