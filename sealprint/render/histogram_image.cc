#include "render/histogram_image.h"

#include "record/pdf_data.h"
#include "render/canvas.h"
#include "render/concentration.h"
#include "render/graph_frame.h"

#include <QFrame>
#include <QPainter>

#include <algorithm>

namespace {

constexpr int kPlotWidth = 364;
// The one-histogram picture's plot stops before the last bar.
constexpr int kNarrowPlotWidth = 360;
constexpr int kPlotHeight = 236;
constexpr int kLabelPixelSize = 16;
const QColor kOutOfGateGrey(130, 130, 130, 255);

// The size gate in bins (µm). Without a gate the lines still get positions but are neither
// drawn nor used for colouring.
struct gate_s {
    bool on = false;
    int lower = 1;
    int upper = 90;
};

gate_s read_gate() {
    gate_s gate;
    if (!g_data.size_gating.isEmpty()) {
        gate.on = true;
        gate.lower = g_data.size_gating_min.toInt(nullptr, 10);
        gate.upper = g_data.size_gating_max.toInt(nullptr, 10);
    }
    return gate;
}

int largest_count(const std::vector<int>& histogram) {
    int largest = 0;
    for (int count : histogram)
        largest = std::max(largest, count);
    return largest;
}

// The order matters: guide lines take the widget height when added, and their positions index
// the table that setPdfSamples builds.
void set_up_plot(GraphFrame& plot, int width, const std::vector<int>& histogram, int scale_max,
                 const QColor& colour, const gate_s& gate) {
    plot.setGeometry(QRect(kPlotOrigin, QSize(width, kPlotHeight)));
    plot.setShowGuideLine(false);
    plot.addVGuideLine();
    plot.addVGuideLine();
    plot.setAutoScale(false);
    plot.setInterval(4);
    plot.setThickness(3);
    plot.setPdfSamples(histogram, scale_max);
    plot.setColorForOutofRange(kOutOfGateGrey);
    plot.setColorForInRange(colour);
    plot.setGraphType(graph::Histogram);
    plot.setShowGuideLine(gate.on);
    plot.setVGuideLinePosition(0, gate.lower);
    plot.setVGuideLinePosition(1, gate.upper);
}

// Value labels level with the top and the middle of the scale, the power of ten above the plot
// in concentration mode, and the micrometre numbers under every tenth bin.
void draw_axis_labels(QPainter& painter, int scale_max, CellNumberOrConcentraion mode) {
    const QRect top_label(455, 75, 61, 26);
    const QRect middle_label(455, 185, 61, 26);
    if (mode == CellNumber) {
        draw_label(painter, QString("%1").arg(scale_max), top_label, kLabelPixelSize);
        draw_label(painter, QString("%1").arg(scale_max / 2), middle_label, kLabelPixelSize);
    } else {
        float mantissa = 0.0f;
        int exponent = 0;
        getConcentration(scale_max, g_data.dilution_factor.toFloat(), mantissa, exponent);
        draw_label(painter, QString("%1").arg(mantissa, 0, 'f', 2), top_label, kLabelPixelSize);
        draw_label(painter, QString("%1").arg(mantissa / 2.0f, 0, 'f', 2), middle_label,
                   kLabelPixelSize);
        draw_label(painter, QString("( x 10e%1/mL)").arg(exponent), QRect(100, 54, 141, 21),
                   kLabelPixelSize);
    }
    for (int k = 0; k <= 9; ++k) {
        draw_label(painter, QString::number(10 * k), QRect(81 + 40 * k, 320, 40, 20),
                   kLabelPixelSize);
    }
}

QImage single_plot_canvas(const std::vector<int>& histogram, int scale_max, int plot_width,
                          CellNumberOrConcentraion mode, const QColor& colour) {
    GraphFrame plot;
    set_up_plot(plot, plot_width, histogram, scale_max, colour, read_gate());
    QImage canvas = new_canvas();
    QPainter painter(&canvas);
    draw_grab(painter, plot);
    draw_axis_labels(painter, scale_max, mode);
    painter.end();
    return canvas;
}

}  // namespace

QImage histogram_canvas(const std::vector<int>& histogram, const std::vector<int>& second,
                        CellNumberOrConcentraion mode, const QColor& colour) {
    const int scale_max = std::max(largest_count(histogram), largest_count(second));
    return single_plot_canvas(histogram, scale_max, kPlotWidth, mode, colour);
}

QImage histogram_canvas(const std::vector<int>& histogram, CellNumberOrConcentraion mode,
                        const QColor& colour) {
    return single_plot_canvas(histogram, largest_count(histogram), kNarrowPlotWidth, mode, colour);
}

QImage total_histogram_canvas(const std::vector<int>& live, const std::vector<int>& dead,
                              CellNumberOrConcentraion mode) {
    const int scale_max = std::max(largest_count(live), largest_count(dead));
    const gate_s gate = read_gate();
    const QRect plot_rect(kPlotOrigin, QSize(kPlotWidth, kPlotHeight));

    // The two plots are transparent so that both show; this frame supplies their background.
    QFrame background;
    background.setGeometry(plot_rect);
    GraphFrame live_plot;
    live_plot.setAttribute(Qt::WA_TranslucentBackground);
    set_up_plot(live_plot, kPlotWidth, live, scale_max, Qt::green, gate);
    GraphFrame dead_plot;
    dead_plot.setAttribute(Qt::WA_TranslucentBackground);
    set_up_plot(dead_plot, kPlotWidth, dead, scale_max, Qt::red, gate);

    QImage canvas = new_canvas();
    QPainter painter(&canvas);
    draw_grab(painter, background);
    draw_grab(painter, live_plot);
    draw_grab(painter, dead_plot);
    draw_axis_labels(painter, scale_max, mode);
    painter.end();
    return canvas;
}

void genImage(QImage& image, const std::vector<int>& histogram, const std::vector<int>& second,
              CellNumberOrConcentraion mode, const QColor& colour) {
    image = scale_to_output(histogram_canvas(histogram, second, mode, colour));
}

void genImage(QImage& image, const std::vector<int>& histogram, CellNumberOrConcentraion mode,
              const QColor& colour) {
    image = scale_to_output(histogram_canvas(histogram, mode, colour));
}

void total_genImage(QImage& image, const std::vector<int>& live, const std::vector<int>& dead,
                    CellNumberOrConcentraion mode) {
    image = scale_to_output(total_histogram_canvas(live, dead, mode));
}
