#include "pdf/size_gating.h"

#include <QString>

#include "pdf/pdf_drawing.h"
#include "record/pdf_data.h"
#include "resources/page_layout.h"

using page_layout::panel_font_size;

bool print_size_gating(HPDF_Page& page) {
    show_text(page, QStringLiteral("Size gating :"));
    if (g_data.size_gating.trimmed().isEmpty())
        return false;

    show_text(page, fill_label(QStringLiteral(" %1 "), g_data.size_gating_min));
    if (g_data.size_gating.contains(QLatin1Char('~'))) {
        show_text(page, QStringLiteral("~ "));
    } else {
        // Helvetica's WinAnsi encoding has no "≤"; the embedded face has.
        HPDF_Page_SetFontAndSize(page, Font_Arial, panel_font_size);
        show_text(page, QStringLiteral(" \u2264"));
        HPDF_Page_SetFontAndSize(page, Font_Helvetica, panel_font_size);
        show_text(page, QStringLiteral("  x  < "));
    }
    show_text(page, fill_label(QStringLiteral("%1 "), g_data.size_gating_max));
    // Unlike the micrometre suffix of the other lines, both letters are in FreeSerif here.
    HPDF_Page_SetFontAndSize(page, Font_FreeSerif, panel_font_size);
    show_text(page, QStringLiteral("\u03bc"));
    HPDF_Page_SetFontAndSize(page, Font_FreeSerif, panel_font_size);
    show_text(page, QStringLiteral("m"));
    return true;
}
