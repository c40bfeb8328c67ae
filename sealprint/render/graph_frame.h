// A small plotting widget: bar histograms with an in-range/out-of-range split, line plots of
// several series, and scatter plots with draggable guide lines. Its drawing coordinates have
// the origin at the bottom-left corner with y growing upwards.
#pragma once

#include <QColor>
#include <QFrame>
#include <QLine>
#include <QPoint>
#include <QVector>

#include <array>
#include <vector>

class QMouseEvent;
class QPainter;
class QPaintEvent;

namespace graph {
enum GraphType { Histogram = 0, LinePlots = 1, ScatterPlots = 2 };
enum ScatterPlotsStyle { Dot = 0, Plus = 1, Cross = 2, Circle = 3 };
}  // namespace graph

// One series: points in widget pixels (y upwards), its pen colour in line plots and whether
// line plots draw it.
class GraphData {
public:
    void setSamples(const QVector<QPoint>& samples) { samples_ = samples; }
    QVector<QPoint> samples() const { return samples_; }
    void setColor(const QColor& colour) { colour_ = colour; }
    QColor color() const { return colour_; }
    void setShow(bool show) { show_ = show; }
    bool show() const { return show_; }
    // Empties the samples; colour and show flag stay.
    void clear() { samples_.clear(); }

private:
    QVector<QPoint> samples_;
    QColor colour_;
    bool show_ = true;
};

// While set, addSamples appends series to the line plot of any GraphFrame.
extern bool g_begin_add_samples;

class GraphFrame : public QFrame {
    Q_OBJECT

public:
    explicit GraphFrame(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~GraphFrame() override;

    void setAutoScale(bool on) { autoScale = on; }
    void setGraphType(graph::GraphType type) { graphType = type; }
    void setInterval(int pixels) { interval = pixels; }
    void setThickness(int pixels) { thickness = pixels; }
    void setShowGuideLine(bool on) { showGuideLine = on; }
    void setColorForOutofRange(const QColor& colour) { colorForOutofRange = colour; }
    void setColorForInRange(const QColor& colour) { colorForInRange = colour; }
    void setScatterPlotsStyle(graph::ScatterPlotsStyle style) { scatterPlotsStyle = style; }

    // Histogram samples scaled so that `maximum` reaches the top row but one; bins stand
    // `interval` pixels apart starting at x 1. Also builds the vertical guide-line positions:
    // one per bin start plus one past the last bin.
    void setPdfSamples(const std::vector<int>& samples, int maximum);
    // The same with the largest sample as maximum and, with autoScale, the bins spread over
    // the width.
    void setSamples(const std::vector<int>& samples);
    // Scatter samples; with autoScale they are first fitted to the widget (calculateSamples).
    // Guide-line positions become plain pixels.
    void setSamples(const QVector<QPoint>& samples);

    // Line plots: series are appended between beginAddSamples and endAddSamples only;
    // addSamples returns false outside that window and then changes nothing.
    void beginAddSamples();
    bool addSamples(const std::vector<int>& samples, const QColor& colour);
    void endAddSamples();
    void setSamplesShow(unsigned int index, bool show);

    // New guide lines start at x 0 (vertical) or y 0 (horizontal) and take the widget's
    // current size.
    void addVGuideLine();
    void addHGuideLine();
    // Moves a guide line to a position index of the table built by the samples setters.
    // Invalid indexes and positions leave the line where it is.
    void setVGuideLinePosition(int index, int position);
    void setHGuideLinePosition(int index, int position);

    static void calculateMinAndMaxValue(const QVector<QPoint>& points, int& minX, int& minY,
                                        int& maxX, int& maxY);
    void calculateSamples(QVector<QPoint>& points) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

    void drawHistogram(QPainter& painter);
    void drawLinePlots(QPainter& painter);
    void drawScatterPlots(QPainter& painter);
    void moveVerticalLine(QMouseEvent* event);
    void moveHorizontalLine(QMouseEvent* event);

private:
    void buildHistogramPoints(const std::vector<int>& samples, float step, int maximum);
    bool overVerticalLine(const QPoint& mouse) const;
    bool overHorizontalLine(const QPoint& mouse) const;
    void setCursorIfChanged(Qt::CursorShape shape);

    bool autoScale = true;
    graph::GraphType graphType = graph::Histogram;
    GraphData data;
    QVector<GraphData> dataList;
    int thickness = 1;
    int interval = 1;
    bool showGuideLine = false;
    QVector<QLine> vGuideLines;
    QVector<QLine> hGuideLines;
    QVector<int> xPositions;
    QVector<int> yPositions;
    QColor colorForOutofRange;
    QColor colorForInRange{255, 127, 0};
    // Right-above, left-above, left-below, right-below the guide-line crossing.
    std::array<QColor, 4> quadrantColors{QColor(255, 0, 0), QColor(255, 255, 255),
                                         QColor(0, 255, 0), QColor(255, 255, 0)};
    graph::ScatterPlotsStyle scatterPlotsStyle = graph::Dot;
    bool hLineGrabbed = false;
    bool vLineGrabbed = false;
    QPoint lastMousePos{0, 0};
};
