// The approval PDF of one result: created, drawn page by page, saved over the result's PDF.
#pragma once

#include <hpdf.h>

#include <QString>
#include <memory>
#include <type_traits>

#include "pdf/pdf_drawing.h"
#include "record/job_values.h"
#include "record/pdf_data.h"

struct hpdf_free_s {
    void operator()(HPDF_Doc doc) const { HPDF_Free(doc); }
};
// The one owner of a libharu document.
using hpdf_doc_ptr = std::unique_ptr<std::remove_pointer_t<HPDF_Doc>, hpdf_free_s>;

// Where the logo of a document comes from; looked up once per document.
enum class logo_source_e { not_looked_up, report_folder, builtin };

// The document of one result while it is composed. Page code draws on `page` of `doc`
// and reads the record g_data and `*job`; it never frees the document.
struct report_doc_s {
    hpdf_doc_ptr doc;  // before `pictures`: their workers are joined before the document goes
    HPDF_Page page = nullptr;  // the page being drawn, already scaled to page units
    const job_values_s* job = nullptr;
    QString csv_path;  // the result's CSV file; its folder holds the images
    QString pdf_path;  // replaced by the saved report
    // Read once per document from g_data (read_layout).
    int slide_channels = 0;        // "3 channel slide" → 3; 0 when not a number
    bool combined_layout = false;  // 3 channels, "Combine result" "On", three-part total
    int min_search_size = 0, max_search_size = 0, min_cell_size = 0, max_cell_size = 0;
    logo_source_e logo_source = logo_source_e::not_looked_up;
    pending_pictures_t pictures;  // drawn, their streams still being deflated
};

// Creates the document with page 1 (A4 portrait), the UTF-8 encoder and the five fonts
// (the TrueType files are embedded and fetched by the names their load returned), selects
// Helvetica 36 and scales page 1 to page units. Prints the font loading lines. False only
// when the library could not allocate the document; library errors otherwise are printed
// by haru_error_handler and surface when the document is saved.
bool begin_report_document(report_doc_s& rd, const char* free_serif_ttf, const char* arial_ttf);

// Fills the slide channel count, the combined layout and the four size integers.
void read_layout(report_doc_s& rd, const pdfData_s& data);

// The logo in the bottom right corner of rd.page: "icon.png" under the report path when that
// file exists (looked for once per document), otherwise the built-in ":/images/pelta_logo.png".
void draw_logo(report_doc_s& rd);

// Removes stale temporary files of killed runs from the result folder, then replaces rd.pdf_path
// with the document through replace_file (pdf/file_replace.h), so a failed save leaves the
// instrument's PDF as it was. A PDF the job may not write is refused before anything is
// written. When signing is configured, the saved document is signed in memory first
// (pdf/report_signature.h), and a report that cannot be signed is not written. Prints the library-style error line and the failure line; frees the document.
// 1 on success, -1 on failure.
int save_report_document(report_doc_s& rd);

// The whole composition of one result: document, page 1, page 2, save. Reads g_data.
// Registers the compiled-in images first, so page code may open ":/images/..." paths.
// 1 when the PDF was written; -1 after a page's failure message or a failed save, the
// document freed either way and the instrument's PDF then untouched.
int compose_report(const job_values_s& job, const QString& csv_path, const QString& pdf_path);
