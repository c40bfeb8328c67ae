// The histogram labels in the face the installation provides: registered as the program does,
// every label fits whole into the box it is given (">7cell" lost its last letter in the wider
// face that stands in when the Ubuntu fonts are missing).
#include <QApplication>
#include <QFileInfo>
#include <QFont>
#include <QFontInfo>
#include <QPainter>

#include <gtest/gtest.h>

#include "render/canvas.h"

namespace {

bool fonts_present() {
    return QFileInfo::exists(QStringLiteral(UBUNTU_FONT_DIR "/Ubuntu-R.ttf"));
}

// `text` drawn by draw_label into a box of `width` at (20, 20), on a fresh canvas.
QImage label_in_box(const QString& text, int width, int height, int pixel_size) {
    QImage canvas = new_canvas();
    QPainter painter(&canvas);
    draw_label(painter, text, QRect(20, 20, width, height), pixel_size);
    painter.end();
    return canvas;
}

TEST(HistogramLabels, UseTheUbuntuFace) {
    if (!fonts_present())
        GTEST_SKIP() << "no Ubuntu fonts in " UBUNTU_FONT_DIR;
    QFont font(QStringLiteral("Ubuntu"), 15, QFont::Normal, false);
    EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("Ubuntu"));
}

TEST(HistogramLabels, ClusterAndAxisLabelsFitTheirBoxesWhole) {
    if (!fonts_present())
        GTEST_SKIP() << "no Ubuntu fonts in " UBUNTU_FONT_DIR;
    struct label_s {
        QString text;
        int width, height, pixel_size;
    };
    // The boxes of the cluster picture: category names 35 × 20 at 12 px, the scale 61 × 26 at 16.
    const label_s labels[] = {{QStringLiteral(">7cell"), 35, 20, 12},
                              {QStringLiteral("7cell"), 35, 20, 12},
                              {QStringLiteral("1cell"), 35, 20, 12},
                              {QStringLiteral("100"), 61, 26, 16}};
    const QRect area(0, 0, 300, 80);
    for (const label_s& l : labels) {
        const QImage boxed = label_in_box(l.text, l.width, l.height, l.pixel_size);
        const QImage roomy = label_in_box(l.text, 250, l.height, l.pixel_size);
        EXPECT_NE(boxed.copy(area), new_canvas().copy(area))
            << l.text.toStdString() << " not drawn";
        EXPECT_EQ(boxed.copy(area), roomy.copy(area)) << l.text.toStdString() << " is cut off";
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    register_label_fonts();  // as the program does at start
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
