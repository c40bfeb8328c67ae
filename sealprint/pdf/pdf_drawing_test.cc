#include "pdf/pdf_drawing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <string>
#include <utility>

#include "common/process.h"
#include "pdf/report_document.h"
#include "resources/resources.h"

namespace {

QByteArray read_all(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(WinAnsi, KeepsAsciiAndMapsWhatTheCodePageHas) {
    EXPECT_EQ(to_win_ansi(QStringLiteral("Date : 01 Mar 2024")), QByteArray("Date : 01 Mar 2024"));
    EXPECT_EQ(to_win_ansi(QString::fromUtf8("M\xC3\xBCller Jos\xC3\xA9")),
              QByteArray("M\xFCller Jos\xE9"));
    EXPECT_EQ(to_win_ansi(QString::fromUtf8("\xE2\x82\xAC \xE2\x80\xA6 \xC5\xBD")),
              QByteArray("\x80 \x85 \x8E"));
    // Outside the code page, one "?" per character, also beyond the 16-bit range.
    EXPECT_EQ(to_win_ansi(QString::fromUtf8("a\xE2\x89\xA4"
                                            "b\xF0\x9F\x98\x80"
                                            "c\xC2\x81")),
              QByteArray("a?b?c?"));
}

// Where Qt's codec and the page differ: the undefined bytes, ignorable characters and the byte
// order marks are shown as "?", not passed through or dropped.
TEST(WinAnsi, ShowsWhatTheCodePageLeavesOutAsQuestionMarks) {
    QString text;
    for (ushort code : {0xFEFF, 0x8D, 0x8F, 0x90, 0x9D, 0x80, 0x200B, 0xFEFF, 0xFFFE, 0xD800})
        text += QChar(code);
    EXPECT_EQ(to_win_ansi(text + QChar(0xAD) + QChar(0xA0)), QByteArray(10, '?') + "\xAD\xA0");
}

class ReportDocument : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        job_.report_path = dir_.path();
        rd_.job = &job_;
        rd_.pdf_path = dir_.filePath("result.pdf");
    }
    // Starts a document and returns what it printed.
    std::string begin(const char* serif, const char* arial) {
        testing::internal::CaptureStdout();
        EXPECT_TRUE(begin_report_document(rd_, serif, arial));
        return testing::internal::GetCapturedStdout();
    }
    int save(std::string* printed) {
        testing::internal::CaptureStdout();
        const int r = save_report_document(rd_);
        *printed = testing::internal::GetCapturedStdout();
        return r;
    }
    QStringList leftovers() const {
        return QDir(dir_.path())
            .entryList(QDir::Files | QDir::Hidden)
            .filter(QStringLiteral(".tmp"));
    }

    QTemporaryDir dir_;
    job_values_s job_;
    report_doc_s rd_;
};

TEST_F(ReportDocument, DrawsTextInTheEncodingOfEachFont) {
    const std::string printed = begin(TEST_FREE_SERIF_TTF, TEST_ARIAL_TTF);
    EXPECT_EQ(printed,
              "~~Loading & embedding fonts to PDF ~~~~~~~~~\n"
              "HPDF_LoadTTFontFromFile : FreeSerif\n"
              "HPDF_LoadTTFontFromFile : LiberationSans\n"
              "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~\n");

    HPDF_Page_SetFontAndSize(rd_.page, Font_TimesItalic, 34);
    text_block_s block = begin_text_block(rd_.page, 1781, 3110, 162);
    show_labelled_line(block, QStringLiteral("%1"), QString::fromUtf8("M\xC3\xBCller"));
    show_line(block, QString());
    show_line(block, QStringLiteral("01 Mar 2024 10:00:00"));
    end_text_block(block);

    HPDF_Page_SetFontAndSize(rd_.page, Font_Helvetica, 32);
    block = begin_text_block(rd_.page, 917, 2447, 86);
    show_labelled_line(block, QStringLiteral("Min. search size : %1 "), 5);
    next_line(block);
    HPDF_Page_SetFontAndSize(rd_.page, Font_Arial, 32);
    show_text(rd_.page, QString::fromUtf8(" \xE2\x89\xA4"));
    end_text_block(block);

    std::string saved;
    EXPECT_EQ(save(&saved), 1);
    EXPECT_EQ(saved, "");
    const std::string pdf =
        shell_output("qpdf --qdf --object-streams=disable '" + rd_.pdf_path.toStdString() + "' -");
    // WinAnsi bytes; an empty line still takes its step.
    EXPECT_NE(pdf.find("BT\n1781 3110 Td\n(M\xFCller) Tj\n0 -162 Td\n0 -162 Td\n"
                       "(01 Mar 2024 10:00:00) Tj\nET\n"),
              std::string::npos);
    EXPECT_NE(pdf.find("(Min. search size : 5 ) Tj\n/F3 32 Tf\n<03bc> Tj\n/F1 32 Tf\n(m) Tj\n"
                       "0 -86 Td\n/F4 32 Tf\n<00202264> Tj\nET\n"),
              std::string::npos)
        << pdf.substr(pdf.find("BT"), 400);

    const std::string fonts =
        shell_output("pdffonts '" + rd_.pdf_path.toStdString() + "' 2>/dev/null");
    EXPECT_NE(fonts.find("FreeSerif"), std::string::npos) << fonts;
    EXPECT_NE(fonts.find("LiberationSans"), std::string::npos) << fonts;
    const std::string text =
        shell_output("pdftotext '" + rd_.pdf_path.toStdString() + "' - 2>/dev/null");
    EXPECT_NE(text.find("M\xC3\xBCller"), std::string::npos) << text;
    EXPECT_NE(text.find("Min. search size : 5 \xCE\xBCm"), std::string::npos) << text;
}

TEST_F(ReportDocument, EmbedsRastersOfAnyWidthAndTheReportLogo) {
    begin(TEST_FREE_SERIF_TTF, TEST_ARIAL_TTF);
    // 9 bytes a row, padded to 12 by QImage. RGB888 already, as in RasterStream below: a
    // conversion on the worker without an application object makes that worker Qt's main
    // thread, and LeakSanitizer then finds this thread's data leaked at exit, now and then.
    QImage odd(3, 2, QImage::Format_RGB888);
    odd.fill(QColor(10, 20, 30));
    odd.setPixelColor(2, 1, QColor(200, 100, 50));
    draw_raster(rd_.doc.get(), rd_.page, rd_.pictures, odd, 0, 0, 300, 200);
    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(Qt::red);
    ASSERT_TRUE(icon.save(dir_.filePath("icon.png")));
    draw_logo(rd_);
    EXPECT_EQ(rd_.logo_source, logo_source_e::report_folder);

    // Without "icon.png" in the next document's report folder, the built-in logo.
    report_doc_s next;
    next.doc = std::move(rd_.doc);  // lent for the second logo, then saved with the first
    next.page = rd_.page;
    next.job = rd_.job;
    ASSERT_TRUE(QFile::remove(dir_.filePath("icon.png")));
    init_sealprint_resources();
    draw_logo(next);
    EXPECT_EQ(next.logo_source, logo_source_e::builtin);
    rd_.doc = std::move(next.doc);

    std::string saved;
    ASSERT_EQ(save(&saved), 1) << saved;
    const std::string list =
        shell_output("pdfimages -list '" + rd_.pdf_path.toStdString() + "' 2>/dev/null");
    EXPECT_NE(list.find("image       3     2  rgb     3   8"), std::string::npos) << list;
    EXPECT_NE(list.find("image      16    16  rgb     3   8"), std::string::npos) << list;
    EXPECT_NE(list.find("image     160   160  rgb     3   8"), std::string::npos) << list;
    EXPECT_NE(list.find("smask     160   160  gray    1   8"), std::string::npos) << list;
}

// A picture's stream is the one the library's own loader writes: the whole document comes out
// byte for byte the same, whichever thread deflated it.
TEST(RasterStream, DocumentIsTheOneTheLibrarysLoaderMakes) {
    // RGB888 already: a conversion on the worker would start Qt's thread pool, and without an
    // application object Qt would take that worker for its main thread (a leak at exit).
    QImage picture(731, 37, QImage::Format_RGB888);  // 2193 bytes a row, padded by QImage
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb((x * 7 + y) & 255, (x * y) & 255, (x ^ y) & 255));
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto save_document = [&](const QString& name, const auto& draw) {
        HPDF_Doc doc = HPDF_New(haru_error_handler, nullptr);
        HPDF_SetCompressionMode(doc, HPDF_COMP_ALL);
        draw(doc, HPDF_AddPage(doc));
        const QString path = dir.filePath(name);
        EXPECT_EQ(HPDF_SaveToFile(doc, QFile::encodeName(path).constData()), HPDF_OK);
        HPDF_Free(doc);
        return read_all(path);
    };
    const QByteArray ours = save_document("ours.pdf", [&](HPDF_Doc doc, HPDF_Page page) {
        pending_pictures_t pending;
        draw_raster(doc, page, pending, picture, 10, 20, 300, 200);
        EXPECT_EQ(complete_pictures(pending), HPDF_OK);
        EXPECT_TRUE(pending.empty());
    });
    const QByteArray library = save_document("library.pdf", [&](HPDF_Doc doc, HPDF_Page page) {
        QByteArray rows;
        for (int y = 0; y < picture.height(); ++y)
            rows.append(reinterpret_cast<const char*>(picture.constScanLine(y)),
                        picture.width() * 3);
        HPDF_Image image =
            HPDF_LoadRawImageFromMem(doc, reinterpret_cast<const HPDF_BYTE*>(rows.constData()),
                                     picture.width(), picture.height(), HPDF_CS_DEVICE_RGB, 8);
        HPDF_Page_DrawImage(page, image, 10, 20, 300, 200);
    });
    ASSERT_GT(library.size(), 1000);
    EXPECT_TRUE(ours == library);
}

TEST_F(ReportDocument, SaveReplacesThePdfKeepingItsPermissions) {
    ASSERT_TRUE(QFile(rd_.pdf_path).open(QIODevice::WriteOnly));
    ASSERT_EQ(chmod(QFile::encodeName(rd_.pdf_path).constData(), 0640), 0);
    begin(TEST_FREE_SERIF_TTF, TEST_ARIAL_TTF);
    std::string saved;
    ASSERT_EQ(save(&saved), 1);
    EXPECT_EQ(rd_.doc, nullptr);
    EXPECT_TRUE(read_all(rd_.pdf_path).startsWith("%PDF-1."));
    struct stat st;
    ASSERT_EQ(stat(QFile::encodeName(rd_.pdf_path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(' ').toStdString();
}

TEST_F(ReportDocument, MissingFontFailsTheSaveAndLeavesThePdf) {
    const QByteArray original("%PDF-1.4 instrument\n");
    {
        QFile f(rd_.pdf_path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(original);
    }
    const std::string printed = begin("/nonexistent/FreeSerif.ttf", TEST_ARIAL_TTF);
    EXPECT_EQ(printed.rfind("~~Loading & embedding fonts to PDF ~~~~~~~~~\n"
                            "ERROR: error_no=0x1017, detail_no=2\n"
                            "HPDF_LoadTTFontFromFile : (null)\n",
                            0),
              0u)
        << printed;
    std::string saved;
    EXPECT_EQ(save(&saved), -1);
    const std::string failure =
        "[Error] Generate PDF fail !!! : " + rd_.pdf_path.toStdString() + ", (4133)0x1025 \n";
    EXPECT_EQ(saved, "ERROR: error_no=0x1025, detail_no=0\n" + failure);
    EXPECT_EQ(read_all(rd_.pdf_path), original);
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST(ReportLayout, CombinedOnlyForThreeChannelsOnAndThreeParts) {
    pdfData_s data;
    data.slide_type = QStringLiteral("3 channel slide");
    data.combine_result = QStringLiteral("On");
    data.total_cell_list = QStringList{"1.2e6", "3.1e4", "2.5"};
    data.min_search_size = QStringLiteral("5 um");
    data.max_cell_size = QStringLiteral("large");
    report_doc_s rd;
    read_layout(rd, data);
    EXPECT_EQ(rd.slide_channels, 3);
    EXPECT_TRUE(rd.combined_layout);
    EXPECT_EQ(rd.min_search_size, 5);
    EXPECT_EQ(rd.max_cell_size, 0);

    data.total_cell_list.append(QStringLiteral("x"));
    read_layout(rd, data);
    EXPECT_FALSE(rd.combined_layout);
    data.total_cell_list.removeLast();
    data.combine_result = QStringLiteral("Off");
    read_layout(rd, data);
    EXPECT_FALSE(rd.combined_layout);
    data.combine_result = QStringLiteral("On");
    data.slide_type = QStringLiteral("1 channel slide");
    read_layout(rd, data);
    EXPECT_EQ(rd.slide_channels, 1);
    EXPECT_FALSE(rd.combined_layout);
}

}  // namespace
