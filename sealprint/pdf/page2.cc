// Page 2: the cell-size histograms in cell numbers and in concentration, the cluster graph,
// and the blocks repeated from page 1.
#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QStringList>
#include <cstdio>
#include <vector>

#include "pdf/page_blocks.h"
#include "pdf/pdf_drawing.h"
#include "pdf/report_pages.h"
#include "render/cluster_image.h"
#include "render/histogram_image.h"
#include "resources/page_layout.h"

namespace {

constexpr int kHistogramBins = 91;  // 0 to 90 µm
constexpr int kClusterValues = 9;   // clusters of 1 to 7 cells, then two that form ">7cell"

enum column_e { TOTAL_COLUMN = 0, LIVE_COLUMN = 1, DEAD_COLUMN = 2 };

const QColor kTotalOrange(255, 127, 0, 255);

// Empty parts are skipped, so a doubled comma costs no bin; a part that is not a number is 0.
std::vector<int> to_counts(const QStringList& parts) {
    std::vector<int> counts;
    counts.reserve(parts.size());
    for (const QString& part : parts)
        counts.push_back(part.toInt(nullptr, 10));
    return counts;
}

QStringList split_counts(const QString& text) {
    return text.split(QLatin1Char(','), Qt::SkipEmptyParts, Qt::CaseSensitive);
}

// Widgets created by the previous picture may have queued work (deferred deletes, layout).
void settle_events() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// The generators hand back tight 728 × 518 RGB888 rows, drawn one pixel to one page unit.
void draw_picture(report_doc_s& rd, const QImage& picture, int row_y, column_e column) {
    const page_layout::box_s box = page_layout::picture_box(row_y, column);
    draw_raster(rd.doc.get(), rd.page, rd.pictures, picture, box.x, box.y, box.w, box.h);
}

}  // namespace

int draw_page2(report_doc_s& rd) {
    using namespace page_layout;

    draw_jpeg(rd.doc.get(), rd.page, QStringLiteral(":/images/report_2.jpg"), background_box.x,
              background_box.y, background_box.w, background_box.h);
    draw_logo(rd);

    // Every list is checked, even those the counting method leaves undrawn: a short one means
    // the result file is damaged.
    const QStringList total_parts = split_counts(g_data.total_histogram);
    const QStringList live_parts = split_counts(g_data.live_histogram);
    const QStringList dead_parts = split_counts(g_data.dead_histogram);
    const QStringList cluster_parts = split_counts(g_data.cluster_histogram);
    if (total_parts.size() != kHistogramBins || live_parts.size() != kHistogramBins ||
        dead_parts.size() != kHistogramBins || cluster_parts.size() != kClusterValues) {
        printf("[Error] Histogram size error !!! \n");
        return -1;
    }
    const std::vector<int> total = to_counts(total_parts);
    const std::vector<int> live = to_counts(live_parts);
    const std::vector<int> dead = to_counts(dead_parts);
    const std::vector<int> cluster = to_counts(cluster_parts);

    // One image object, refilled by each generator after its picture is in the document.
    QImage picture;
    if (g_data.counting_method == QLatin1String("Total cell counting")) {
        settle_events();
        genImage(picture, total, CellNumber, kTotalOrange);
        draw_picture(rd, picture, number_row_y, TOTAL_COLUMN);
        settle_events();
        genImage(picture, total, Concentration, kTotalOrange);
        draw_picture(rd, picture, concentration_row_y, TOTAL_COLUMN);
    } else {
        // Live and dead each get the other as second histogram, so both share one scale.
        for (CellNumberOrConcentraion mode : {CellNumber, Concentration}) {
            const int row_y = mode == CellNumber ? number_row_y : concentration_row_y;
            settle_events();
            total_genImage(picture, live, dead, mode);
            draw_picture(rd, picture, row_y, TOTAL_COLUMN);
            settle_events();
            genImage(picture, live, dead, mode, QColor(Qt::green));
            draw_picture(rd, picture, row_y, LIVE_COLUMN);
            settle_events();
            genImage(picture, dead, live, mode, QColor(Qt::red));
            draw_picture(rd, picture, row_y, DEAD_COLUMN);
        }
    }
    settle_events();
    genClusterImage(picture, cluster);
    draw_picture(rd, picture, cluster_row_y, TOTAL_COLUMN);

    draw_header_block(rd);
    draw_signature_block(rd);
    draw_device_information(rd);
    return 1;
}
