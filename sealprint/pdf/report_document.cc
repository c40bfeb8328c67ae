#include "pdf/report_document.h"

#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <string>

#include "pdf/file_replace.h"
#include "pdf/pdf_drawing.h"
#include "pdf/report_pages.h"
#include "pdf/report_signature.h"
#include "resources/page_layout.h"
#include "resources/resources.h"

namespace {

// The installation's fonts; the ones the drawing needs beyond the 14 standard faces.
const char* const kFreeSerifTtf = PRODUCT_DIR "/FreeSerif.ttf";
const char* const kArialTtf = PRODUCT_DIR "/Arial.ttf";
const char* const kBuiltinLogo = ":/images/pelta_logo.png";
// Hidden and not "*.pdf", so no scan takes a temporary file for a result.
const char* const kTempPrefix = ".sealprint-";

// Ends the document before its record does, in the order the record's members end in:
// the picture workers first.
void end_document(report_doc_s& rd) {
    rd.pictures.clear();
    rd.doc.reset();
    rd.page = nullptr;
}

// The one line by which a result's PDF is reported as not written.
void print_pdf_failure(const QByteArray& target, HPDF_STATUS status) {
    printf("[Error] Generate PDF fail !!! : %s, (%d)0x%X \n", target.constData(),
           static_cast<int>(status), static_cast<unsigned>(status));
}

// The saved document, from the library's memory stream into `bytes`; false when it cannot be
// read. Reads stop at the stream's size: reading past its end counts as an error in the library.
bool read_saved_document(HPDF_Doc doc, std::string& bytes) {
    if (HPDF_ResetStream(doc) != HPDF_OK)
        return false;
    HPDF_UINT32 left = HPDF_GetStreamSize(doc);
    bytes.resize(left);
    char* out = bytes.data();
    while (left > 0) {
        HPDF_UINT32 size = left;
        if (HPDF_ReadFromStream(doc, reinterpret_cast<HPDF_BYTE*>(out), &size) != HPDF_OK ||
            size == 0) {
            return false;
        }
        out += size;
        left -= size;
    }
    return true;
}

void scale_to_page_units(HPDF_Page page) {
    HPDF_Page_Concat(page, PAGE_UNIT_SCALE, 0, 0, PAGE_UNIT_SCALE, 0, 0);
}

// Loads and embeds a TrueType file; the name it registers under depends on the file's own
// build, so the caller fetches the font by this name, not by the one it expects.
const char* load_true_type(HPDF_Doc doc, const char* path) {
    const char* name = HPDF_LoadTTFontFromFile(doc, path, HPDF_TRUE);
    printf("HPDF_LoadTTFontFromFile : %s\n", name ? name : "(null)");
    return name;
}

int to_int(QString text, const char* unit) {
    return text.remove(QLatin1String(unit)).toInt(nullptr, 10);
}

}  // namespace

bool begin_report_document(report_doc_s& rd, const char* free_serif_ttf, const char* arial_ttf) {
    rd.doc.reset(HPDF_New(haru_error_handler, nullptr));
    HPDF_Doc doc = rd.doc.get();
    if (!doc)
        return false;
    HPDF_SetCompressionMode(doc, HPDF_COMP_ALL);
    HPDF_SetPageMode(doc, HPDF_PAGE_MODE_USE_OUTLINE);
    rd.page = HPDF_AddPage(doc);
    HPDF_Page_SetSize(rd.page, HPDF_PAGE_SIZE_A4, HPDF_PAGE_PORTRAIT);
    HPDF_UseUTFEncodings(doc);
    HPDF_SetCurrentEncoder(doc, "UTF-8");

    printf("~~Loading & embedding fonts to PDF ~~~~~~~~~\n");
    const char* free_serif = load_true_type(doc, free_serif_ttf);
    const char* arial = load_true_type(doc, arial_ttf);
    printf("~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~\n");

    // The standard faces take WinAnsi, so names like Müller or José print right.
    Font_Helvetica = HPDF_GetFont(doc, "Helvetica", "WinAnsiEncoding");
    Font_HelveticaBold = HPDF_GetFont(doc, "Helvetica-Bold", "WinAnsiEncoding");
    Font_TimesItalic = HPDF_GetFont(doc, "Times-Italic", "WinAnsiEncoding");
    Font_FreeSerif = HPDF_GetFont(doc, free_serif ? free_serif : "FreeSerif", "UTF-8");
    Font_Arial = HPDF_GetFont(doc, arial ? arial : "ArialMT", "UTF-8");

    HPDF_Page_SetFontAndSize(rd.page, Font_Helvetica, 36);
    scale_to_page_units(rd.page);
    return true;
}

void read_layout(report_doc_s& rd, const pdfData_s& data) {
    rd.slide_channels = to_int(data.slide_type, " channel slide");
    rd.combined_layout = rd.slide_channels == 3 && data.combine_result == QLatin1String("On") &&
                         data.total_cell_list.size() == 3;
    rd.min_search_size = to_int(data.min_search_size, " um");
    rd.max_search_size = to_int(data.max_search_size, " um");
    rd.min_cell_size = to_int(data.min_cell_size, " um");
    rd.max_cell_size = to_int(data.max_cell_size, " um");
}

void draw_logo(report_doc_s& rd) {
    const QString icon = rd.job->report_path + QLatin1String("/icon.png");
    if (rd.logo_source == logo_source_e::not_looked_up) {
        rd.logo_source =
            QFileInfo(icon).isFile() ? logo_source_e::report_folder : logo_source_e::builtin;
    }
    HPDF_Image logo;
    if (rd.logo_source == logo_source_e::report_folder) {
        logo = HPDF_LoadPngImageFromFile(rd.doc.get(), QFile::encodeName(icon).constData());
    } else {
        QFile builtin(QString::fromLatin1(kBuiltinLogo));
        QByteArray png;
        if (builtin.open(QIODevice::ReadOnly))
            png = builtin.readAll();
        logo = HPDF_LoadPngImageFromMem(rd.doc.get(),
                                        reinterpret_cast<const HPDF_BYTE*>(png.constData()),
                                        static_cast<HPDF_UINT>(png.size()));
    }
    using page_layout::logo_box;
    HPDF_Page_DrawImage(rd.page, logo, logo_box.x, logo_box.y, logo_box.w, logo_box.h);
}

int save_report_document(report_doc_s& rd) {
    const QByteArray target = QFile::encodeName(rd.pdf_path);
    const std::string folder = QFile::encodeName(QFileInfo(rd.pdf_path).path()).toStdString();
    const int stale = remove_stale_temporaries(folder, kTempPrefix);
    if (stale > 0) {
        printf("<sealprint> removed %d stale temporary file(s) in %s \n", stale, folder.c_str());
    }
    HPDF_STATUS status = HPDF_OK;
    if (access(target.constData(), W_OK) != 0 && errno != ENOENT) {
        // A PDF the job may not write stays as it is, as it would were it written in place.
        status = HPDF_FILE_OPEN_ERROR;
        haru_error_handler(status, static_cast<HPDF_STATUS>(errno), nullptr);
    } else {
        // The document is complete in memory before any file is touched, so a document the
        // library refuses leaves no trace on disk.
        status = complete_pictures(rd.pictures);
        if (status == HPDF_OK)
            status = HPDF_SaveToStream(rd.doc.get());
    }
    std::string pdf;
    if (status == HPDF_OK && !read_saved_document(rd.doc.get(), pdf)) {
        status = HPDF_FILE_IO_ERROR;
        haru_error_handler(status, EIO, nullptr);
    }
    if (status == HPDF_OK && report_signing_configured())
        status = sign_saved_report(rd, pdf);
    if (status == HPDF_OK) {
        const replace_outcome_s saved =
            replace_file(target.toStdString(), kTempPrefix,
                         [&pdf](int fd) { return write_all_or_errno(fd, pdf.data(), pdf.size()); });
        if (saved.failed != REPLACE_DONE) {
            status = saved.failed == REPLACE_CREATE ? HPDF_FILE_OPEN_ERROR : HPDF_FILE_IO_ERROR;
            haru_error_handler(status, static_cast<HPDF_STATUS>(saved.error), nullptr);
        }
    }
    if (status != HPDF_OK)
        print_pdf_failure(target, status);
    end_document(rd);
    return status == HPDF_OK ? 1 : -1;
}

int compose_report(const job_values_s& job, const QString& csv_path, const QString& pdf_path) {
    report_doc_s rd;  // frees the document on every way out
    rd.job = &job;
    rd.csv_path = csv_path;
    rd.pdf_path = pdf_path;
    init_sealprint_resources();  // page code opens ":/images/..." freely
    if (!begin_report_document(rd, kFreeSerifTtf, kArialTtf)) {
        print_pdf_failure(QFile::encodeName(pdf_path), HPDF_FAILD_TO_ALLOC_MEM);
        return -1;
    }
    read_layout(rd, g_data);

    if (draw_page1(rd) != 1)
        return -1;
    // Page 2 keeps the library's default size, A4 portrait.
    rd.page = HPDF_AddPage(rd.doc.get());
    scale_to_page_units(rd.page);
    if (draw_page2(rd) != 1)
        return -1;
    return save_report_document(rd);
}
