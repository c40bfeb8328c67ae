#include "resources/resources.h"

#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include <cstdlib>

#include <gtest/gtest.h>

#include "resources/page_layout.h"

namespace {

using namespace page_layout;

QImage load(const char* path) {
    init_sealprint_resources();
    return QImage(path);
}

// The pixel under a point given in page units (y upwards).
QColor at(const QImage& image, point_s p) {
    return image.pixelColor(p.x, page_height - 1 - p.y);
}

// JPEG leaves a few levels of noise on flat areas.
bool near(const QColor& c, int r, int g, int b) {
    return std::abs(c.red() - r) <= 8 && std::abs(c.green() - g) <= 8 &&
           std::abs(c.blue() - b) <= 8;
}
bool is_white(const QColor& c) {
    return near(c, 255, 255, 255);
}
bool is_panel(const QColor& c) {
    return near(c, 242, 242, 242);
}
bool is_dark(const QColor& c) {
    return c.red() < 100 && c.green() < 100 && c.blue() < 100;
}
bool is_accent(const QColor& c) {
    return c.blue() > 160 && c.red() < 100;
}

TEST(Resources, BackgroundsAreA4JpegsAt300Dpi) {
    init_sealprint_resources();
    for (const char* path :
         {":/images/report_1.jpg", ":/images/report_1_3ch.jpg", ":/images/report_2.jpg"}) {
        QImageReader reader(path);
        EXPECT_EQ(reader.format(), QByteArray("jpeg")) << path;
        const QImage image = reader.read();
        ASSERT_FALSE(image.isNull()) << path << ": " << reader.errorString().toStdString();
        EXPECT_EQ(image.width(), page_width) << path;
        EXPECT_EQ(image.height(), page_height) << path;
    }
}

TEST(Resources, LogoIsPngWithTransparentCorners) {
    QFile file(":/images/pelta_logo.png");
    init_sealprint_resources();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith("\x89PNG\r\n\x1a\n"));

    const QImage logo = QImage::fromData(bytes, "PNG");
    ASSERT_FALSE(logo.isNull());
    EXPECT_EQ(logo.size(), QSize(logo_box.w, logo_box.h));
    EXPECT_TRUE(logo.hasAlphaChannel());
    EXPECT_EQ(qAlpha(logo.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(logo.pixel(159, 159)), 0);
    EXPECT_EQ(qAlpha(logo.pixel(80, 10)), 255);
}

TEST(Resources, InitTwiceIsHarmless) {
    init_sealprint_resources();
    init_sealprint_resources();
    EXPECT_FALSE(load(":/images/report_2.jpg").isNull());
}

// The header and signature block is the same on all three backgrounds.
void expect_header_frames(const QImage& page, const char* name) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(is_accent(at(page, {right(title_band) - 40, title_band.y + 20})));
    for (int i = 0; i < header_line_count; ++i) {
        const point_s bullet{header_bullet_x,
                             header_origin.y - i * header_step + header_font_size / 4};
        if (i < header_bullet_count)
            EXPECT_TRUE(is_accent(at(page, bullet))) << "bullet " << i;
        else
            EXPECT_TRUE(is_white(at(page, bullet))) << "line " << i;
        EXPECT_TRUE(
            is_white(at(page, {header_origin.x + 600, header_origin.y - i * header_step + 10})));
    }
    for (int i = 0; i < signature_row_count; ++i) {
        const int dy = i * signature_step;
        EXPECT_TRUE(
            is_panel(at(page, {signature_label_origin.x + 5, signature_label_origin.y - dy + 10})));
        for (point_s o : {signature_id_origin, signature_name_origin, signature_date_origin})
            EXPECT_TRUE(is_white(at(page, {o.x + 5, o.y - dy + 10})));
    }
    for (int x = logo_box.x; x < right(logo_box); x += 20)
        EXPECT_TRUE(is_white(at(page, {x, logo_box.y + logo_box.h / 2})));
    EXPECT_TRUE(
        is_white(at(page, {device_info_right_origin.x + 300, device_info_right_origin.y + 10})));
}

void expect_panel_lines(const QImage& page) {
    const struct {
        point_s origin;
        int lines;
    } blocks[3] = {{setting_origin, setting_max_lines},
                   {protocol_origin, protocol_max_lines},
                   {results_origin, results_max_lines}};
    for (const auto& b : blocks) {
        for (int i = 0; i < b.lines; ++i) {
            const int y = b.origin.y - i * panel_step;
            EXPECT_TRUE(is_panel(at(page, {b.origin.x - 10, y + 10})))
                << b.origin.x << " line " << i;
            EXPECT_TRUE(is_panel(at(page, {b.origin.x + 600, y - 5})))
                << b.origin.x << " line " << i;
        }
    }
    for (point_s title : section_title_origins)
        EXPECT_TRUE(is_white(at(page, {title.x + 100, title.y + 10})));
}

TEST(Resources, PageOneFramesHoldTheirText) {
    const QImage page = load(":/images/report_1.jpg");
    ASSERT_FALSE(page.isNull());
    expect_header_frames(page, "report_1");
    expect_panel_lines(page);
    EXPECT_TRUE(is_dark(at(page, {right(images_band) - 40, images_band.y + 30})));
    for (const box_s& b : {tag_image_box, zoom_image_box}) {
        EXPECT_TRUE(is_white(at(page, {b.x + b.w / 2, b.y + b.h / 2})));
        EXPECT_FALSE(is_white(at(page, {b.x - 1, b.y + b.h / 2}))) << "frame left of " << b.x;
    }
}

TEST(Resources, CombinedPageOneHasTheRuledTable) {
    const QImage page = load(":/images/report_1_3ch.jpg");
    ASSERT_FALSE(page.isNull());
    expect_header_frames(page, "report_1_3ch");
    expect_panel_lines(page);
    EXPECT_TRUE(is_dark(at(page, {right(results_band) - 40, results_band.y + 30})));
    for (point_s h : mean_table_heading_origins) {
        const QColor c = at(page, {h.x + 5, h.y + 10});
        EXPECT_TRUE(near(c, 222, 222, 222)) << "heading at " << h.x;
    }
    for (int i = 0; i < mean_table_row_count - 1; ++i) {
        const int y = mean_table_label_origin.y - i * mean_table_step;
        EXPECT_TRUE(is_white(at(page, {mean_table_label_origin.x + 5, y + 10}))) << "row " << i;
        for (point_s v : mean_table_value_origins)
            EXPECT_TRUE(is_white(at(page, {v.x + 5, y + 10})));
        // A rule runs between every two rows, beside the values and not through them.
        EXPECT_FALSE(is_white(at(page, {mean_table_label_origin.x + 5, y - 28})));
    }
    for (int x : mean_table_column_x)
        EXPECT_FALSE(is_white(at(page, {x, mean_table_label_origin.y})));
}

TEST(Resources, PageTwoHasTitledPictureRows) {
    const QImage page = load(":/images/report_2.jpg");
    ASSERT_FALSE(page.isNull());
    expect_header_frames(page, "report_2");
    for (int row_y : {number_row_y, concentration_row_y}) {
        EXPECT_TRUE(is_dark(at(page, {content_left + 10, picture_band(row_y).y + 10})));
        for (int c = 0; c < 3; ++c) {
            const box_s b = picture_box(row_y, c);
            EXPECT_TRUE(is_white(at(page, {b.x + b.w / 2, b.y + b.h / 2})));
            EXPECT_FALSE(is_white(at(page, {b.x - 1, b.y + b.h / 2})));
        }
    }
    const box_s cluster = picture_box(cluster_row_y, 0);
    EXPECT_FALSE(is_white(at(page, {cluster.x - 1, cluster.y + cluster.h / 2})));
    EXPECT_TRUE(is_white(at(page, {column_x[1] + 10, cluster.y + cluster.h / 2})));
}

}  // namespace
