#include "pdf/page_blocks.h"

#include <QFont>
#include <QFontMetrics>

#include "pdf/pdf_drawing.h"
#include "record/pdf_data.h"
#include "resources/page_layout.h"

using namespace page_layout;

namespace {

// The value of each row for one kind of value (id, name or date). The emptiness tests are
// made per kind, so an empty id falls back while the name beside it does not.
struct signature_rows_s {
    QString creator, reviewer, approver;
};

const QString& first_filled(const QString& a, const QString& b) {
    return a.isEmpty() ? b : a;
}

signature_rows_s rows_for_level(const QString& level, const QString& l1, const QString& l2,
                                const QString& l3, const QString& login) {
    if (level == QLatin1String("admin"))
        return {first_filled(l1, first_filled(l2, login)), first_filled(l2, login), login};
    if (level == QLatin1String("supervisor"))
        return {first_filled(l1, login), login, l3};
    return {login, l2, l3};  // "user"
}

// Only the three known levels sign; any other leaves the rows blank.
bool signing_level(const QString& level) {
    return level == QLatin1String("admin") || level == QLatin1String("supervisor") ||
           level == QLatin1String("user");
}

// One line a row, an empty value included, so every row keeps its place in the grid.
void show_signature_column(HPDF_Page page, point_s origin, const shown_signatures_t& rows,
                           QString signature_row_s::*kind) {
    text_block_s block = begin_text_block(page, origin.x, origin.y, signature_step);
    for (const signature_row_s& row : rows)
        show_line(block, row.*kind);
    end_text_block(block);
}

}  // namespace

QString shorten_file_name(const QString& file_name) {
    const QFontMetrics metrics(QFont(QStringLiteral("Helvetica"), header_font_size));
    QString shown = metrics.elidedText(file_name, Qt::ElideLeft, MAX_FN_WIDTH);
    shown.replace(QChar(0x2026), QLatin1String("..."));
    shown.replace(QLatin1String(".csv"), QLatin1String(".pdf"));
    return shown;
}

void draw_header_block(report_doc_s& rd) {
    const pdfData_s& d = g_data;
    HPDF_Page_SetFontAndSize(rd.page, Font_Helvetica, header_font_size);
    set_fill_color(rd.page, COLOR_BLACK);
    text_block_s block = begin_text_block(rd.page, header_origin.x, header_origin.y, header_step);
    show_labelled_line(block, QStringLiteral("Instrument name : %1"), d.device_name);
    show_labelled_line(block, QStringLiteral("Date : %1"), d.date);
    show_labelled_line(block, QStringLiteral("Security : %1"), d.security);
    show_labelled_line(block, QStringLiteral("User : %1"), d.user);
    show_labelled_line(block, QStringLiteral("File name : %1"), shorten_file_name(d.file_name));
    show_labelled_line(block, QStringLiteral("Reanalysis : %1"), d.reanalysis);
    show_labelled_line(block, QStringLiteral("Counting mode : %1"), d.counting_mode);
    // The method continues the mode's line, under its value.
    show_labelled_line(block, QStringLiteral("                           %1"), d.counting_method);
    end_text_block(block);
}

void draw_signature_block(report_doc_s& rd) {
    HPDF_Page_SetFontAndSize(rd.page, Font_Helvetica, signature_label_font_size);
    set_fill_color(rd.page, COLOR_SIGNATURE_BLUE);
    text_block_s labels = begin_text_block(rd.page, signature_label_origin.x,
                                           signature_label_origin.y, signature_step);
    show_line(labels, QStringLiteral("Creator"));
    show_line(labels, QStringLiteral("Reviewer"));
    show_line(labels, QStringLiteral("Approver"));
    end_text_block(labels);

    if (!signing_level(rd.job->level))
        return;
    const shown_signatures_t rows = shown_signatures(*rd.job, g_data);
    HPDF_Page_SetFontAndSize(rd.page, Font_TimesItalic, signature_value_font_size);
    set_fill_color(rd.page, COLOR_BLACK);
    show_signature_column(rd.page, signature_id_origin, rows, &signature_row_s::id);
    show_signature_column(rd.page, signature_name_origin, rows, &signature_row_s::name);
    show_signature_column(rd.page, signature_date_origin, rows, &signature_row_s::date);
}

shown_signatures_t shown_signatures(const job_values_s& job, const pdfData_s& d) {
    if (!signing_level(job.level))
        return {};
    const signature_rows_s ids = rows_for_level(job.level, d.L1_approval_id, d.L2_approval_id,
                                                d.L3_approval_id, job.login_id);
    const signature_rows_s names = rows_for_level(job.level, d.L1_approval_name, d.L2_approval_name,
                                                  d.L3_approval_name, job.login_name);
    const signature_rows_s dates = rows_for_level(job.level, d.L1_approval_date, d.L2_approval_date,
                                                  d.L3_approval_date, job.now_text);
    return {{{ids.creator, names.creator, dates.creator},
             {ids.reviewer, names.reviewer, dates.reviewer},
             {ids.approver, names.approver, dates.approver}}};
}

void draw_device_information(report_doc_s& rd) {
    const pdfData_s& d = g_data;
    HPDF_Page_SetFontAndSize(rd.page, Font_Helvetica, device_info_font_size);
    set_fill_color(rd.page, COLOR_TITLE_GREY);
    text_block_s left = begin_text_block(rd.page, device_info_left_origin.x,
                                         device_info_left_origin.y, device_info_step);
    show_labelled_line(left, QStringLiteral("Serial number : %1"), d.serial_number);
    show_labelled_line(left, QStringLiteral("Software version : %1"), d.software_version);
    show_labelled_line(left, QStringLiteral("Firmware version : %1"), d.firmware_version);
    end_text_block(left);

    text_block_s right = begin_text_block(rd.page, device_info_right_origin.x,
                                          device_info_right_origin.y, device_info_step);
    show_labelled_line(right, QStringLiteral("Last calibration : %1"), d.last_calibration);
    show_labelled_line(right, QStringLiteral("Calibration setting : %1"), d.calibration_setting);
    show_labelled_line(right, QStringLiteral("Calibration value : %1"), d.calibration_value);
    show_labelled_line(right, QStringLiteral("Pixel shift : %1"), d.pixel_shift);
    end_text_block(right);
}
