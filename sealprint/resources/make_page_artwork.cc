// Build-time tool: draws the printed background of the report pages and the built-in logo.
//   make_page_artwork <output dir>
// writes report_1.jpg, report_1_3ch.jpg, report_2.jpg (one pixel per page unit) and
// pelta_logo.png. Every frame comes from page_layout.h, where the page drawing code finds the
// positions of the texts and pictures that go into these frames.
#include <QColor>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QString>
#include <QStringList>

#include <cstdio>

#include "page_layout.h"

namespace {

using namespace page_layout;

// One accent hue throughout: the blue of the signature labels, darkened so white text on it
// stays legible in print.
const QColor accent(47, 98, 204);
const QColor band_grey(70, 70, 70);
const QColor panel_grey(242, 242, 242);
const QColor shade_grey(222, 222, 222);
const QColor rule_grey(150, 150, 150);
const QColor title_grey(30, 30, 30);

constexpr int thin_rule = 2;  // 0.17 mm: visible in print, never heavy
// The PDF embeds the decoded pixels, deflated: JPEG noise around rules and letters costs
// size there too, so the quality stays high while each file stays near 100-200 KB.
constexpr int jpeg_quality = 88;

struct fonts_s {
    QString regular;  // family names; empty means the toolkit's default sans face
    QString bold;
};

// The first file that loads wins; the sans faces are metric twins of the PDF's Helvetica.
QString load_family(const QStringList& files) {
    for (const QString& file : files) {
        const int id = QFontDatabase::addApplicationFont(file);
        if (id < 0)
            continue;
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (!families.isEmpty())
            return families.first();
    }
    std::fprintf(stderr, "make_page_artwork: none of %s loaded, using the default sans face\n",
                 qPrintable(files.join(", ")));
    return QString();
}

fonts_s load_fonts() {
    const QString liberation = "/usr/share/fonts/truetype/liberation2/";
    const QString freefont = "/usr/share/fonts/truetype/freefont/";
    const QString dejavu = "/usr/share/fonts/truetype/dejavu/";
    return {load_family({liberation + "LiberationSans-Regular.ttf", freefont + "FreeSans.ttf",
                         dejavu + "DejaVuSans.ttf"}),
            load_family({liberation + "LiberationSans-Bold.ttf", freefont + "FreeSansBold.ttf",
                         dejavu + "DejaVuSans-Bold.ttf"})};
}

QFont font(const fonts_s& fonts, bool bold, int size) {
    QFont f(bold ? fonts.bold : fonts.regular);
    if (f.family().isEmpty())
        f.setFamily("Sans");
    f.setStyleHint(QFont::SansSerif);
    f.setBold(bold);
    f.setPixelSize(size);  // one pixel is one page unit
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

// Page units grow upwards from the bottom edge, image rows downwards from the top.
int row(int y) {
    return page_height - y;
}
QRect rect(const box_s& b) {
    return QRect(b.x, row(top(b)), b.w, b.h);
}

void fill(QPainter& p, const box_s& b, const QColor& c) {
    p.fillRect(rect(b), c);
}

// A rule of the given thickness centred on a line from (x1, y) to (x2, y) or (x, y1)-(x, y2).
void hrule(QPainter& p, int x1, int x2, int y, const QColor& c, int w = thin_rule) {
    p.fillRect(QRect(x1, row(y) - w / 2, x2 - x1, w), c);
}
void vrule(QPainter& p, int x, int y1, int y2, const QColor& c, int w = thin_rule) {
    p.fillRect(QRect(x - w / 2, row(y2), w, y2 - y1), c);
}

// Outline drawn just outside the box, so a picture placed in the box never covers it.
void frame_around(QPainter& p, const box_s& b, const QColor& c) {
    const box_s o{b.x - thin_rule, b.y - thin_rule, b.w + 2 * thin_rule, b.h + 2 * thin_rule};
    p.fillRect(QRect(o.x, row(top(o)), o.w, thin_rule), c);
    p.fillRect(QRect(o.x, row(o.y) - thin_rule, o.w, thin_rule), c);
    p.fillRect(QRect(o.x, row(top(o)), thin_rule, o.h), c);
    p.fillRect(QRect(right(o) - thin_rule, row(top(o)), thin_rule, o.h), c);
}

void text(QPainter& p, const QFont& f, const QColor& c, point_s origin, const QString& s) {
    p.setFont(f);
    p.setPen(c);
    p.drawText(QPointF(origin.x, row(origin.y)), s);
}

// Baseline that centres capital letters of the font vertically in the box.
int centred_baseline(const QFont& f, const box_s& b) {
    return b.y + (b.h - static_cast<int>(QFontMetricsF(f).capHeight() + 0.5)) / 2;
}

void band(QPainter& p, const fonts_s& fonts, const box_s& b, const QString& title) {
    fill(p, b, band_grey);
    const QFont f = font(fonts, true, section_band_font_size);
    text(p, f, Qt::white, {section_band_text_x, centred_baseline(f, b)}, title);
}

void draw_header_and_signatures(QPainter& p, const fonts_s& fonts) {
    fill(p, title_band, accent);
    text(p, font(fonts, true, title_band_font_size), Qt::white, title_band_text_origin,
         "Cell Count Report");

    // Each bullet sits at the middle of the x-height of its header line.
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    const int d = header_bullet_diameter;
    for (int i = 0; i < header_bullet_count; ++i) {
        const int centre = header_origin.y - i * header_step + header_font_size / 4;
        p.drawEllipse(QRectF(header_bullet_x - d / 2.0, row(centre) - d / 2.0, d, d));
    }
    p.setBrush(Qt::NoBrush);

    const box_s& g = signature_grid;
    fill(p, {g.x, g.y, signature_value_column_x - g.x, g.h}, panel_grey);
    for (int i = 0; i <= signature_row_count; ++i)
        hrule(p, g.x, right(g), g.y + i * signature_step, rule_grey);
    vrule(p, g.x, g.y, top(g), rule_grey);
    vrule(p, signature_value_column_x, g.y, top(g), rule_grey);
    vrule(p, right(g), g.y, top(g), rule_grey);
    hrule(p, g.x, right(g), top(g), accent, 2 * thin_rule);
}

void draw_foot(QPainter& p) {
    hrule(p, content_left, content_right, foot_rule_y, rule_grey);
}

void draw_panels(QPainter& p) {
    for (const box_s& b : panel_boxes) {
        fill(p, b, panel_grey);
        hrule(p, b.x, right(b), top(b), accent, 2 * thin_rule);
    }
}

void draw_mean_table(QPainter& p, const fonts_s& fonts) {
    band(p, fonts, results_band, "Cell counting results");
    const box_s& t = mean_table_box;
    fill(p, {t.x, top(t) - mean_table_step, t.w, mean_table_step}, shade_grey);
    for (int i = 0; i <= mean_table_row_count; ++i)
        hrule(p, t.x, right(t), t.y + i * mean_table_step, rule_grey);
    for (int x : mean_table_column_x)
        vrule(p, x, t.y, top(t), rule_grey);
    vrule(p, right(t), t.y, top(t), rule_grey);
}

void draw_camera_frames(QPainter& p, const fonts_s& fonts) {
    band(p, fonts, images_band, "Cell Images");
    frame_around(p, tag_image_box, rule_grey);
    frame_around(p, zoom_image_box, rule_grey);
}

void draw_picture_rows(QPainter& p, const fonts_s& fonts) {
    const QFont title_font = font(fonts, true, picture_title_font_size);
    const QFont column_font = font(fonts, true, picture_band_font_size);
    const char* const column_titles[3] = {"Total cells", "Live cells", "Dead cells"};

    struct row_s {
        int y;
        point_s title_origin;
        const char* title;
        int columns;
    };
    const row_s rows[3] = {
        {number_row_y, number_title_origin, "Cell size histogram expressed by cell number", 3},
        {concentration_row_y, concentration_title_origin,
         "Cell size histogram expressed by cell concentration", 3},
        {cluster_row_y, cluster_title_origin, "Cell cluster graph", 1}};

    for (const row_s& r : rows) {
        text(p, title_font, title_grey, r.title_origin, r.title);
        if (r.columns == 3) {
            const box_s b = picture_band(r.y);
            fill(p, b, band_grey);
            const int baseline = centred_baseline(column_font, b);
            for (int c = 0; c < 3; ++c) {
                const QString title = column_titles[c];
                const int w = static_cast<int>(QFontMetricsF(column_font).horizontalAdvance(title));
                text(p, column_font, Qt::white, {column_x[c] + (picture_width - w) / 2, baseline},
                     title);
            }
        } else {
            hrule(p, content_left, content_right, r.y + picture_height + picture_band_gap, accent,
                  2 * thin_rule);
        }
        for (int c = 0; c < r.columns; ++c)
            frame_around(p, picture_box(r.y, c), rule_grey);
    }
}

enum class page_e { one, one_mean_table, two };

QImage draw_page(page_e which, const fonts_s& fonts) {
    QImage image(page_width, page_height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    draw_header_and_signatures(p, fonts);
    switch (which) {
    case page_e::one:
        draw_panels(p);
        draw_camera_frames(p, fonts);
        break;
    case page_e::one_mean_table:
        draw_panels(p);
        draw_mean_table(p, fonts);
        break;
    case page_e::two:
        draw_picture_rows(p, fonts);
        break;
    }
    draw_foot(p);
    return image;
}

// The built-in mark: a blue disc holding one large cell with its nucleus and two small ones.
QImage draw_logo() {
    const int size = logo_box.w;
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    p.drawEllipse(QRectF(2, 2, size - 4, size - 4));

    QPen ring(Qt::white);
    ring.setWidthF(size * 0.06);
    p.setPen(ring);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(size * 0.42, size * 0.56), size * 0.22, size * 0.22);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(size * 0.45, size * 0.53), size * 0.07, size * 0.07);
    p.drawEllipse(QPointF(size * 0.70, size * 0.33), size * 0.09, size * 0.09);
    p.drawEllipse(QPointF(size * 0.74, size * 0.62), size * 0.05, size * 0.05);
    return image;
}

bool save(const QImage& image, const QString& path, int quality) {
    QImageWriter writer(path);
    if (quality >= 0) {
        writer.setQuality(quality);
        writer.setOptimizedWrite(true);
    }
    if (writer.write(image))
        return true;
    std::fprintf(stderr, "make_page_artwork: cannot write %s: %s\n", qPrintable(path),
                 qPrintable(writer.errorString()));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_page_artwork <output dir>\n");
        return 1;
    }
    // No display at build time.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(".")) {
        std::fprintf(stderr, "make_page_artwork: cannot create %s\n", argv[1]);
        return 1;
    }
    const fonts_s fonts = load_fonts();
    const bool ok =
        save(draw_page(page_e::one, fonts), out.filePath("report_1.jpg"), jpeg_quality) &&
        save(draw_page(page_e::one_mean_table, fonts), out.filePath("report_1_3ch.jpg"),
             jpeg_quality) &&
        save(draw_page(page_e::two, fonts), out.filePath("report_2.jpg"), jpeg_quality) &&
        save(draw_logo(), out.filePath("pelta_logo.png"), -1);
    return ok ? 0 : 1;
}
