// Page 1: header, signatures, instrument setting, protocol, results, then the camera images
// or, for a combined three-channel result, the Mean/SD/CV table; device information at the foot.
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QSize>
#include <QString>
#include <QStringList>
#include <cstdio>

#include "pdf/camera_images.h"
#include "pdf/page_blocks.h"
#include "pdf/pdf_drawing.h"
#include "pdf/report_pages.h"
#include "pdf/size_gating.h"
#include "record/pdf_data.h"
#include "resources/page_layout.h"

using namespace page_layout;

namespace {

struct page1_modes_s {
    bool bright_field;
    bool fluorescence;
    bool total_only;  // no live/dead split: every live, dead and viability line is left out
};

page1_modes_s modes_of(const pdfData_s& d) {
    const bool bright_field = d.counting_mode == QLatin1String("Bright field cell counting");
    return {bright_field, d.counting_mode == QLatin1String("Fluorescence cell counting"),
            bright_field && d.counting_method == QLatin1String("Total cell counting")};
}

void draw_background(report_doc_s& rd) {
    draw_jpeg(rd.doc.get(), rd.page,
              rd.combined_layout ? QStringLiteral(":/images/report_1_3ch.jpg")
                                 : QStringLiteral(":/images/report_1.jpg"),
              background_box.x, background_box.y, background_box.w, background_box.h);
}

void draw_section_titles(report_doc_s& rd) {
    HPDF_Page_SetFontAndSize(rd.page, Font_HelveticaBold, section_title_font_size);
    set_fill_color(rd.page, COLOR_TITLE_GREY);
    const point_s* at = section_title_origins;
    HPDF_Page_BeginText(rd.page);
    HPDF_Page_MoveTextPos(rd.page, at[0].x, at[0].y);
    show_text(rd.page, QStringLiteral("Instrument setting"));
    HPDF_Page_MoveTextPos(rd.page, at[1].x - at[0].x, at[1].y - at[0].y);
    show_text(rd.page, QStringLiteral("Protocol"));
    HPDF_Page_MoveTextPos(rd.page, at[2].x - at[1].x, at[2].y - at[1].y);
    show_text(rd.page, rd.combined_layout ? QStringLiteral("Cell counting results (Mean)")
                                          : QStringLiteral("Cell counting results"));
    HPDF_Page_EndText(rd.page);
}

void draw_instrument_setting(report_doc_s& rd, const page1_modes_s& modes) {
    const pdfData_s& d = g_data;
    HPDF_Page_SetFontAndSize(rd.page, Font_Helvetica, panel_font_size);
    set_fill_color(rd.page, COLOR_TITLE_GREY);
    text_block_s block = begin_text_block(rd.page, setting_origin.x, setting_origin.y, panel_step);
    show_labelled_line(block, QStringLiteral("Slide type : %1"), d.slide_type);
    show_labelled_line(block, QStringLiteral("Counted chamber area : %1"), d.counted_chamber_area);
    if (rd.slide_channels == 3)
        show_labelled_line(block, QStringLiteral("Combine result : %1"), d.combine_result);
    if (modes.fluorescence) {
        show_labelled_line(block, QStringLiteral("Autofocusing channel in FL : %1"),
                           d.autofocusing_channel_in_fl);
    }
    show_labelled_line(block, QStringLiteral("Autofocused counting : %1"), d.autofocused_counting);
    if (!d.autofocus_offset.isEmpty())
        show_labelled_line(block, QStringLiteral("Autofocus offset : %1"), d.autofocus_offset);
    show_labelled_line(block, QStringLiteral("Autofocus upon slide insertion : %1"),
                       d.autofocus_upon_slide_insertion);
    end_text_block(block);
}

// Goes on in the font and colour the instrument setting left (Helvetica 32, title grey).
void draw_protocol(report_doc_s& rd, const page1_modes_s& modes) {
    const pdfData_s& d = g_data;
    text_block_s block =
        begin_text_block(rd.page, protocol_origin.x, protocol_origin.y, panel_step);
    show_labelled_line(block, QStringLiteral("Protocol name : %1"), d.protocol_name);
    if (modes.bright_field) {
        show_labelled_line(block, QStringLiteral("Min. search size : %1 "), rd.min_search_size);
        show_labelled_line(block, QStringLiteral("Max. search size : %1 "), rd.max_search_size);
        show_labelled_line(block, QStringLiteral("Cell detection sensitivity : %1"),
                           d.cell_detection_sensitivity);
        if (!modes.total_only) {
            show_labelled_line(block, QStringLiteral("Live cell sensitivity : %1"),
                               d.live_cell_sensitivity);
        }
        show_labelled_line(block, QStringLiteral("Noise reduction : %1"), d.noise_reduction);
    } else {
        show_labelled_line(block, QStringLiteral("GF exposure level : %1"), d.gf_exposure_level);
        show_labelled_line(block, QStringLiteral("RF exposure level : %1"), d.rf_exposure_level);
        if (d.counting_method == QLatin1String("Cell lines & Primary cells")) {
            show_labelled_line(block, QStringLiteral("Cell size calculation : %1"),
                               d.cell_size_calculation);
            show_labelled_line(block, QStringLiteral("Min. cell size : %1 "), rd.min_cell_size);
            show_labelled_line(block, QStringLiteral("Max. cell size : %1 "), rd.max_cell_size);
            show_labelled_line(block, QStringLiteral("GF threshold level : %1"),
                               d.gf_threshold_level);
            show_labelled_line(block, QStringLiteral("RF threshold level : %1"),
                               d.rf_threshold_level);
        } else {
            show_labelled_line(block, QStringLiteral("Min. search size : %1 "), rd.min_search_size);
            show_labelled_line(block, QStringLiteral("Max. search size : %1 "), rd.max_search_size);
            show_labelled_line(block, QStringLiteral("Declumping sensitivity : %1"),
                               d.declumping_sensitivity);
            show_labelled_line(block, QStringLiteral("Min. FL intensity : %1"), d.min_fl_intensity);
            show_labelled_line(block, QStringLiteral("Min. roundness : %1"), d.min_roundness);
        }
    }
    show_labelled_line(block, QStringLiteral("Dilution factor : %1"), d.dilution_factor);
    next_line(block);
    print_size_gating(rd.page);
    end_text_block(block);
}

// The eight results in row order, with what the results panel and the mean table need of
// each. `live_dead` rows are left out of a total-only result.
struct result_row_s {
    const char* label;      // row label of the mean table
    const char* panel;      // template of the results panel
    const char* with_unit;  // template of the Mean and SD columns
    QString pdfData_s::*value;
    QStringList pdfData_s::*parts;  // mean, SD, CV in the combined layout
    bool live_dead;
};

const result_row_s result_rows[] = {
    {"Total cell concentration", "Total cell concentration : %1 cells/mL", "%1 cells/mL",
     &pdfData_s::total_cell, &pdfData_s::total_cell_list, false},
    {"Live cell concentration", "Live cell concentration : %1 cells/mL", "%1 cells/mL",
     &pdfData_s::live_cell, &pdfData_s::live_cell_list, true},
    {"Dead cell concentration", "Dead cell concentration : %1 cells/mL", "%1 cells/mL",
     &pdfData_s::dead_cell, &pdfData_s::dead_cell_list, true},
    {"Viability", "Viability : %1", "%1", &pdfData_s::viability, &pdfData_s::viability_list, true},
    {"Average cell size", "Average cell size : %1 ", "%1 ", &pdfData_s::avg_size,
     &pdfData_s::avg_size_list, false},
    {"Total cell number", "Total cell number : %1", "%1", &pdfData_s::total_cell_number,
     &pdfData_s::total_cell_number_list, false},
    {"Live cell number", "Live cell number : %1", "%1", &pdfData_s::live_cell_number,
     &pdfData_s::live_cell_number_list, true},
    {"Dead cell number", "Dead cell number : %1", "%1", &pdfData_s::dead_cell_number,
     &pdfData_s::dead_cell_number_list, true},
};

bool shown(const result_row_s& row, const page1_modes_s& modes) {
    return !(row.live_dead && modes.total_only);
}

// Part `index` of a combined value; a list with fewer parts shows an empty value.
QString part(const result_row_s& row, int index) {
    return (g_data.*row.parts).value(index);
}

void draw_results(report_doc_s& rd, const page1_modes_s& modes) {
    HPDF_Page_SetFontAndSize(rd.page, Font_Helvetica, panel_font_size);
    set_fill_color(rd.page, COLOR_TITLE_GREY);
    text_block_s block = begin_text_block(rd.page, results_origin.x, results_origin.y, panel_step);
    for (const result_row_s& row : result_rows) {
        if (!shown(row, modes))
            continue;
        const QString value = rd.combined_layout ? part(row, 0) : g_data.*row.value;
        show_labelled_line(block, QLatin1String(row.panel), value);
    }
    end_text_block(block);
}

void draw_mean_table(report_doc_s& rd, const page1_modes_s& modes) {
    const HPDF_Page page = rd.page;
    HPDF_Page_SetFontAndSize(page, Font_Helvetica, mean_table_heading_font_size);
    set_fill_color(page, COLOR_BLACK);
    const point_s* at = mean_table_heading_origins;
    HPDF_Page_BeginText(page);
    HPDF_Page_MoveTextPos(page, at[0].x, at[0].y);
    show_text(page, QStringLiteral("Mean"));
    HPDF_Page_MoveTextPos(page, at[1].x - at[0].x, at[1].y - at[0].y);
    show_text(page, QStringLiteral("SD"));
    HPDF_Page_MoveTextPos(page, at[2].x - at[1].x, at[2].y - at[1].y);
    show_text(page, QStringLiteral("CV"));
    HPDF_Page_EndText(page);

    HPDF_Page_SetFontAndSize(page, Font_Helvetica, mean_table_font_size);
    text_block_s labels = begin_text_block(page, mean_table_label_origin.x,
                                           mean_table_label_origin.y, mean_table_step);
    for (const result_row_s& row : result_rows) {
        if (shown(row, modes))
            show_line(labels, QLatin1String(row.label));
    }
    end_text_block(labels);

    // Mean and SD carry the units; CV is a bare percentage.
    for (int column = 0; column < 3; ++column) {
        if (column == 0)
            HPDF_Page_SetFontAndSize(page, Font_Helvetica, mean_table_font_size);
        const point_s origin = mean_table_value_origins[column];
        text_block_s values = begin_text_block(page, origin.x, origin.y, mean_table_step);
        for (const result_row_s& row : result_rows) {
            if (!shown(row, modes))
                continue;
            show_labelled_line(values, QLatin1String(column < 2 ? row.with_unit : "%1"),
                               part(row, column));
        }
        end_text_block(values);
    }
}

// No camera of the instrument family makes a picture beyond these; a file that declares more
// is damaged or hostile (a few kilobytes of deflate can declare gigabytes of pixels), so it
// is refused from its header, before any pixel is decoded.
constexpr int kMaxImageSide = 16384;
constexpr qint64 kMaxImagePixels = 64 * 1024 * 1024;

bool tag_size_acceptable(const QSize& declared, const QString& path) {
    if (!declared.isValid())
        return true;  // the decoder itself will tell
    const qint64 pixels = qint64(declared.width()) * declared.height();
    if (declared.width() <= kMaxImageSide && declared.height() <= kMaxImageSide &&
        pixels <= kMaxImagePixels) {
        return true;
    }
    printf(
        "[Error] <sealprint> tag image not drawn, it declares %d x %d pixels (at most %d x %d "
        "and %lld pixels) : %s \n",
        declared.width(), declared.height(), kMaxImageSide, kMaxImageSide,
        static_cast<long long>(kMaxImagePixels), QFile::encodeName(path).constData());
    return false;
}

// 1 when the images are drawn; -1 after the message when the folder lacks some of them.
int draw_camera_images(report_doc_s& rd, const page1_modes_s& modes) {
    const camera_images_s images = find_camera_images(rd.csv_path, modes.fluorescence);
    if (!camera_images_complete(images)) {
        printf("[Error] Fail to generate pdf beacause images are not existing !!! \n");
        return -1;
    }
    QImage tag;
    // A tag image that does not decode leaves both frames empty: a picture of no pixels would
    // make an image object that PDF readers reject.
    QImageReader reader(images.tag);
    if (!tag_size_acceptable(reader.size(), images.tag))
        return 1;
    if (!reader.read(&tag))
        return 1;
    if (tag.format() != QImage::Format_RGB888)
        tag = tag.convertToFormat(QImage::Format_RGB888);

    const struct {
        QImage picture;
        box_s box;
    } pictures[] = {{tag, tag_image_box}, {make_zoom(tag), zoom_image_box}};
    for (const auto& p : pictures) {
        const QImage fitted =
            p.picture.scaled(p.box.w, p.box.h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        draw_raster(rd.doc.get(), rd.page, rd.pictures, fitted, p.box.x, p.box.y, p.box.w, p.box.h);
    }
    return 1;
}

}  // namespace

int draw_page1(report_doc_s& rd) {
    const page1_modes_s modes = modes_of(g_data);
    draw_background(rd);
    draw_logo(rd);
    draw_header_block(rd);
    draw_signature_block(rd);
    draw_section_titles(rd);
    draw_instrument_setting(rd, modes);
    draw_protocol(rd, modes);
    draw_results(rd, modes);
    if (rd.combined_layout) {
        draw_mean_table(rd, modes);
    } else if (draw_camera_images(rd, modes) < 0) {
        return -1;
    }
    draw_device_information(rd);
    return 1;
}
