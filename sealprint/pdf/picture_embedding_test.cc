#include "pdf/picture_embedding.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <string>

#include "common/process.h"
#include "pdf/pdf_drawing.h"

namespace {

// RGB888 already: a conversion on a worker would start Qt's thread pool, which without an
// application object takes that worker for its main thread (a leak at exit).
QImage test_picture(int width, int height) {
    QImage picture(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, qRgb((x * 7 + y) & 255, (x * y) & 255, (x ^ y) & 255));
    }
    return picture;
}

// One page with both pictures, rendered by pdftoppm at 72 dpi (one pixel a page unit).
std::string rendered_page(const QString& path, picture_loader_e loader) {
    HPDF_Doc doc = HPDF_New(haru_error_handler, nullptr);
    HPDF_SetCompressionMode(doc, HPDF_COMP_ALL);
    HPDF_Page page = HPDF_AddPage(doc);
    HPDF_Page_SetWidth(page, 120);
    HPDF_Page_SetHeight(page, 90);
    pending_pictures_t pending;
    // 37 pixels: rows of 111 bytes, padded by QImage; 40 pixels: tight rows of 120 bytes.
    HPDF_Page_DrawImage(page, embed_picture(doc, pending, test_picture(37, 23), loader), 5, 5, 74,
                        46);
    HPDF_Page_DrawImage(page, embed_picture(doc, pending, test_picture(40, 30), loader), 80, 55, 40,
                        30);
    EXPECT_EQ(pending.empty(), loader == picture_loader_e::library);
    EXPECT_EQ(complete_pictures(pending), HPDF_OK);
    EXPECT_EQ(HPDF_SaveToFile(doc, QFile::encodeName(path).constData()), HPDF_OK);
    HPDF_Free(doc);
    return shell_output("pdftoppm -r 72 '" + path.toStdString() + "' 2>/dev/null");
}

TEST(PictureLoaders, PagesRenderTheSame) {
    if (kBuildPictureLoader != picture_loader_e::worker)
        GTEST_SKIP() << "this build has the library's loader only";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string worker = rendered_page(dir.filePath("worker.pdf"), picture_loader_e::worker);
    const std::string library =
        rendered_page(dir.filePath("library.pdf"), picture_loader_e::library);
    ASSERT_EQ(worker.rfind("P6\n120 90\n255\n", 0), 0u) << worker.substr(0, 20);
    // The pictures show: not a blank page.
    EXPECT_NE(worker.find_first_not_of('\xff', 14), std::string::npos);
    EXPECT_TRUE(worker == library);
}

}  // namespace
