#include "render/graph_frame.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>

#include <algorithm>

bool g_begin_add_samples = false;

namespace {
const QColor kGuideLineColour(0, 0, 255);
const QColor kGrabbedLineColour(0, 255, 255);
// How far beside a guide line the mouse still takes hold of it, in pixels.
constexpr int kGrabMargin = 5;
}  // namespace

GraphFrame::GraphFrame(QWidget* parent, Qt::WindowFlags flags) : QFrame(parent, flags) {
    setMouseTracking(true);
}

GraphFrame::~GraphFrame() = default;

void GraphFrame::buildHistogramPoints(const std::vector<int>& samples, float step, int maximum) {
    // Single precision throughout: bar heights and positions are truncations of float products.
    const float scale = maximum == 0 ? 0.0f : static_cast<float>(height() - 1) / maximum;
    QVector<QPoint> points;
    points.reserve(static_cast<int>(samples.size()));
    xPositions.clear();
    xPositions.append(0);
    if (!samples.empty()) {
        points.append(QPoint(1, static_cast<int>(samples[0] * scale)));
        for (size_t i = 1; i < samples.size(); ++i) {
            const float x = static_cast<float>(i) * step;
            xPositions.append(static_cast<int>(x));
            points.append(QPoint(static_cast<int>(x + 1.0f), static_cast<int>(samples[i] * scale)));
        }
        // One position past the last bin, so the upper guide line can close the last bin.
        xPositions.append(static_cast<int>(static_cast<float>(xPositions.size()) * step));
    }
    data.setSamples(points);
}

void GraphFrame::setPdfSamples(const std::vector<int>& samples, int maximum) {
    buildHistogramPoints(samples, static_cast<float>(interval), maximum);
}

void GraphFrame::setSamples(const std::vector<int>& samples) {
    float step = static_cast<float>(interval);
    if (autoScale && !samples.empty())
        step = static_cast<float>(width() - 1) / static_cast<float>(samples.size());
    int maximum = samples.empty() ? 0 : samples[0];
    for (int s : samples)
        maximum = std::max(maximum, s);
    buildHistogramPoints(samples, step, maximum);
}

void GraphFrame::setSamples(const QVector<QPoint>& samples) {
    QVector<QPoint> points = samples;
    if (autoScale)
        calculateSamples(points);
    data.setSamples(points);
    // Scatter guide lines can stand on any pixel.
    yPositions.clear();
    for (int y = 0; y <= height() - 2; ++y)
        yPositions.append(y);
    xPositions.clear();
    for (int x = 0; x <= width() - 2; ++x)
        xPositions.append(x);
}

void GraphFrame::beginAddSamples() {
    g_begin_add_samples = true;
    dataList.clear();
}

bool GraphFrame::addSamples(const std::vector<int>& samples, const QColor& colour) {
    if (!g_begin_add_samples)
        return false;
    setSamples(samples);
    data.setColor(colour);
    dataList.append(data);
    return true;
}

void GraphFrame::endAddSamples() {
    g_begin_add_samples = false;
}

void GraphFrame::setSamplesShow(unsigned int index, bool show) {
    if (index < static_cast<unsigned int>(dataList.size()))
        dataList[static_cast<int>(index)].setShow(show);
}

void GraphFrame::addVGuideLine() {
    vGuideLines.append(QLine(0, 0, 0, height()));
}

void GraphFrame::addHGuideLine() {
    hGuideLines.append(QLine(0, 0, width(), 0));
}

void GraphFrame::setVGuideLinePosition(int index, int position) {
    if (index < 0 || index >= vGuideLines.size())
        return;
    if (position < 0 || position >= xPositions.size()) {
        qDebug() << "Vertical" << index << position << xPositions.size();
        return;
    }
    const int x = xPositions[position];
    vGuideLines[index] = QLine(x, 0, x, height());
}

void GraphFrame::setHGuideLinePosition(int index, int position) {
    if (index < 0 || index >= hGuideLines.size())
        return;
    if (position < 0 || position >= yPositions.size())
        return;
    const int y = yPositions[position];
    hGuideLines[index] = QLine(0, y, width(), y);
}

void GraphFrame::calculateMinAndMaxValue(const QVector<QPoint>& points, int& minX, int& minY,
                                         int& maxX, int& maxY) {
    if (points.isEmpty()) {
        minX = minY = maxX = maxY = 0;
        return;
    }
    minX = maxX = points.first().x();
    minY = maxY = points.first().y();
    for (const QPoint& p : points) {
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }
}

void GraphFrame::calculateSamples(QVector<QPoint>& points) const {
    int minX = 0, minY = 0, maxX = 0, maxY = 0;
    calculateMinAndMaxValue(points, minX, minY, maxX, maxY);
    // A zero maximum would divide by zero; such an axis collapses onto 0 instead.
    const float xFactor = maxX == 0 ? 0.0f : static_cast<float>(width() - 1) / maxX;
    const float yFactor = maxY == 0 ? 0.0f : static_cast<float>(height() - 1) / maxY;
    for (QPoint& p : points) {
        int x = p.x();
        int y = p.y();
        if (minX > 0)
            x = x / minX - 1;
        if (minY > 0)
            y = y / minY - 1;
        p = QPoint(static_cast<int>(x * xFactor), static_cast<int>(y * yFactor));
    }
}

void GraphFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Flip so that y grows upwards from the bottom edge.
    const int halfWidth = width() / 2;
    const int halfHeight = height() / 2;
    painter.translate(halfWidth, halfHeight);
    painter.scale(1, -1);
    painter.translate(-halfWidth, -halfHeight);

    switch (graphType) {
    case graph::Histogram:
        drawHistogram(painter);
        if (showGuideLine) {
            painter.setPen(QPen(kGuideLineColour, 1));
            if (vGuideLines.size() == 2)
                painter.drawLines(vGuideLines);
        }
        break;
    case graph::LinePlots:
        drawLinePlots(painter);
        if (showGuideLine && vGuideLines.size() == 1) {
            painter.setPen(QPen(kGuideLineColour, 1));
            painter.drawLine(vGuideLines.first());
        }
        break;
    case graph::ScatterPlots:
        drawScatterPlots(painter);
        if (showGuideLine) {
            if (vGuideLines.size() == 1) {
                painter.setPen(QPen(vLineGrabbed ? kGrabbedLineColour : kGuideLineColour, 1));
                painter.drawLine(vGuideLines.first());
            }
            if (hGuideLines.size() == 1) {
                painter.setPen(QPen(hLineGrabbed ? kGrabbedLineColour : kGuideLineColour, 1));
                painter.drawLine(hGuideLines.first());
            }
        }
        break;
    }
}

void GraphFrame::drawHistogram(QPainter& painter) {
    const bool split = showGuideLine && vGuideLines.size() == 2;
    if (showGuideLine && !split)
        return;
    for (const QPoint& p : data.samples()) {
        QColor colour = colorForInRange;
        if (split && (p.x() < vGuideLines[0].x1() || p.x() > vGuideLines[1].x1()))
            colour = colorForOutofRange;
        painter.fillRect(QRect(p.x(), 0, thickness, p.y()), colour);
    }
}

void GraphFrame::drawLinePlots(QPainter& painter) {
    painter.save();
    for (const GraphData& series : dataList) {
        if (!series.show())
            continue;
        painter.setPen(QPen(series.color()));
        const QVector<QPoint> points = series.samples();
        for (int i = 1; i < points.size(); ++i)
            painter.drawLine(points[i - 1], points[i]);
    }
    painter.restore();
}

void GraphFrame::drawScatterPlots(QPainter& painter) {
    painter.save();
    QPen pen;
    if (scatterPlotsStyle == graph::Dot)
        pen.setWidth(thickness);
    painter.setPen(pen);
    const bool quadrants = showGuideLine && !vGuideLines.isEmpty() && !hGuideLines.isEmpty();
    const int vx = quadrants ? vGuideLines.first().x1() : 0;
    const int hy = quadrants ? hGuideLines.first().y1() : 0;
    for (const QPoint& p : data.samples()) {
        const int x = p.x();
        const int y = p.y();
        if (quadrants) {
            const int quadrant = y >= hy ? (x >= vx ? 0 : 1) : (x < vx ? 2 : 3);
            pen.setColor(quadrantColors[quadrant]);
            painter.setPen(pen);
        }
        switch (scatterPlotsStyle) {
        case graph::Dot:
            painter.drawPoint(p);
            break;
        case graph::Plus:
            painter.drawLine(x - 2, y, x + 2, y);
            painter.drawLine(x, y - 2, x, y + 2);
            break;
        case graph::Cross:
            painter.drawLine(x - 3, y - 3, x + 2, y + 2);
            painter.drawLine(x - 3, y + 3, x + 2, y - 2);
            break;
        case graph::Circle:
            painter.drawEllipse(p, thickness, thickness);
            break;
        }
    }
    painter.restore();
}

bool GraphFrame::overVerticalLine(const QPoint& mouse) const {
    if (vGuideLines.isEmpty())
        return false;
    const QLine& line = vGuideLines.first();
    return line.x1() - kGrabMargin < mouse.x() && mouse.x() <= line.x2() + kGrabMargin &&
           line.y1() < mouse.y() && mouse.y() <= line.y2();
}

bool GraphFrame::overHorizontalLine(const QPoint& mouse) const {
    if (hGuideLines.isEmpty())
        return false;
    const QLine& line = hGuideLines.first();
    // The line lives in plot coordinates (y upwards), the mouse in widget coordinates.
    const int fy = height() - 1 - mouse.y();
    return line.x1() <= mouse.x() && mouse.x() <= line.x2() && line.y1() - kGrabMargin <= fy &&
           fy <= line.y2() + kGrabMargin;
}

void GraphFrame::setCursorIfChanged(Qt::CursorShape shape) {
    if (cursor().shape() == shape)
        return;
    setCursor(shape);
    QCoreApplication::processEvents();
}

void GraphFrame::mousePressEvent(QMouseEvent* event) {
    if (graphType == graph::ScatterPlots && showGuideLine) {
        if (overVerticalLine(event->pos()))
            vLineGrabbed = true;
        if (overHorizontalLine(event->pos()))
            hLineGrabbed = true;
        if (vLineGrabbed || hLineGrabbed)
            setCursor(Qt::ClosedHandCursor);
    }
    lastMousePos = event->pos();
}

void GraphFrame::mouseMoveEvent(QMouseEvent* event) {
    if (graphType == graph::ScatterPlots) {
        if (!vLineGrabbed && !hLineGrabbed && showGuideLine) {
            if (overVerticalLine(event->pos()))
                setCursorIfChanged(Qt::OpenHandCursor);
            else
                setCursorIfChanged(overHorizontalLine(event->pos()) ? Qt::OpenHandCursor
                                                                    : Qt::ArrowCursor);
        }
        if (vLineGrabbed)
            moveVerticalLine(event);
        if (hLineGrabbed)
            moveHorizontalLine(event);
    }
    lastMousePos = event->pos();
    update();
}

void GraphFrame::mouseReleaseEvent(QMouseEvent*) {
    // Only scatter plots have lines to let go of; the other kinds keep their cursor.
    if (graphType != graph::ScatterPlots)
        return;
    vLineGrabbed = false;
    hLineGrabbed = false;
    setCursor(Qt::ArrowCursor);
    update();
}

void GraphFrame::moveVerticalLine(QMouseEvent* event) {
    if (!vGuideLines.isEmpty())
        vGuideLines.first().translate(event->pos().x() - lastMousePos.x(), 0);
}

void GraphFrame::moveHorizontalLine(QMouseEvent* event) {
    // Plot y grows upwards, mouse y downwards.
    if (!hGuideLines.isEmpty())
        hGuideLines.first().translate(0, lastMousePos.y() - event->pos().y());
}
