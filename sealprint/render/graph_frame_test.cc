#include "render/graph_frame.h"
#include "render/test_support.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPalette>

#include <gtest/gtest.h>

namespace {

const QRgb kOrange = rgb(255, 127, 0);
const QRgb kGrey = rgb(130, 130, 130);
const QRgb kBlue = rgb(0, 0, 255);
constexpr int kBottom = 235;  // lowest row of a 236-pixel-high plot

// A 364 x 236 histogram plot of 91 bins, 4 pixels apart and 3 wide, as the report builds it.
void set_up_histogram(GraphFrame& plot, const std::vector<int>& samples, int maximum,
                      int guide_lines = 2) {
    plot.setGeometry(0, 0, 364, 236);
    for (int i = 0; i < guide_lines; ++i)
        plot.addVGuideLine();
    plot.setAutoScale(false);
    plot.setInterval(4);
    plot.setThickness(3);
    plot.setPdfSamples(samples, maximum);
    plot.setColorForOutofRange(QColor(kGrey));
    plot.setColorForInRange(QColor(kOrange));
    plot.setGraphType(graph::Histogram);
}

QImage grab(GraphFrame& plot) {
    return plot.grab().toImage();
}

QRgb background() {
    return QPalette().color(QPalette::Window).rgb();
}

}  // namespace

TEST(GraphFrameHistogram, DrawsNinetyOneBarsThreeWideFourApartOnTheBottomEdge) {
    GraphFrame plot;
    set_up_histogram(plot, std::vector<int>(91, 7), 7);
    const QImage image = grab(plot);
    ASSERT_EQ(image.size(), QSize(364, 236));
    for (int bin = 0; bin < 91; ++bin) {
        const int x = 4 * bin + 1;
        for (int column = x; column < x + 3; ++column)
            EXPECT_EQ(run_upwards(image, column, kBottom, kOrange), 235) << "bin " << bin;
        EXPECT_EQ(pixel(image, x - 1, kBottom), background()) << "gap before bin " << bin;
        EXPECT_EQ(pixel(image, x + 1, 0), background()) << "top row, bin " << bin;
    }
}

TEST(GraphFrameHistogram, BarHeightIsTruncatedSinglePrecisionProduct) {
    // 235 / max × max falls just short of 235 in single precision for these maxima.
    for (int maximum : {19, 25, 29}) {
        GraphFrame plot;
        set_up_histogram(plot, {maximum, 0, 1}, maximum);
        const QImage image = grab(plot);
        EXPECT_EQ(run_upwards(image, 1, kBottom, kOrange), 234) << maximum;
        EXPECT_EQ(run_upwards(image, 5, kBottom, kOrange), 0) << maximum;
        EXPECT_EQ(run_upwards(image, 9, kBottom, kOrange), 235 / maximum) << maximum;
    }
    for (int maximum : {1, 7, 10, 1000}) {
        GraphFrame plot;
        set_up_histogram(plot, {maximum, maximum / 3}, maximum);
        const QImage image = grab(plot);
        EXPECT_EQ(run_upwards(image, 1, kBottom, kOrange), 235) << maximum;
        EXPECT_EQ(run_upwards(image, 5, kBottom, kOrange),
                  static_cast<int>(maximum / 3 * (235.0f / maximum)))
            << maximum;
    }
}

TEST(GraphFrameHistogram, OutOfRangeGuidePositionIsLoggedAndIgnored) {
    GraphFrame plot;
    set_up_histogram(plot, std::vector<int>(91, 10), 10);
    plot.setShowGuideLine(true);
    plot.setVGuideLinePosition(0, 5);
    plot.setVGuideLinePosition(1, 50);
    LogCapture log;
    plot.setVGuideLinePosition(1, 92);
    plot.setVGuideLinePosition(0, -1);
    plot.setVGuideLinePosition(2, 10);  // no such line: silently nothing
    EXPECT_EQ(log.lines(), QStringList({"Vertical 1 92 92", "Vertical 0 -1 92"}));
    plot.setVGuideLinePosition(1, 91);  // the last entry closes the last bin
    const QImage image = grab(plot);
    // Position 91 is x 364, just outside the widget: only the lower line shows.
    EXPECT_EQ(pixel(image, 20, 100), kBlue);
    EXPECT_EQ(count_colour(image, QRect(0, 0, 364, 236), kBlue), 236);
    EXPECT_EQ(pixel(image, 361, kBottom), kOrange);
}

TEST(GraphFrameHistogram, GuideLinesShownWithOneLineDrawNothing) {
    GraphFrame plot;
    set_up_histogram(plot, std::vector<int>(91, 10), 10, 1);
    plot.setShowGuideLine(true);
    const QImage image = grab(plot);
    EXPECT_EQ(count_colour(image, QRect(0, 0, 364, 236), background()), 364 * 236);
}

TEST(GraphFrameHistogram, AutoScaleSpreadsBinsOverTheWidth) {
    GraphFrame plot;
    plot.setGeometry(0, 0, 101, 51);
    plot.setSamples(std::vector<int>{2, 4, 1, 4});  // step 25, scale 50 / 4
    const QImage image = grab(plot);
    // The flip turns about the integer half height, so an odd height leaves the last row free.
    const int bottom = 49;
    EXPECT_EQ(run_upwards(image, 1, bottom, kOrange), 25);
    EXPECT_EQ(run_upwards(image, 26, bottom, kOrange), 50);
    EXPECT_EQ(run_upwards(image, 51, bottom, kOrange), 12);
    EXPECT_EQ(run_upwards(image, 76, bottom, kOrange), 50);
    EXPECT_EQ(run_upwards(image, 2, bottom, kOrange), 0);  // thickness 1
    EXPECT_EQ(count_colour(image, QRect(0, 50, 101, 1), kOrange), 0);
}

TEST(GraphFrameLinePlots, SeriesAreAddedOnlyInsideTheWindowAndCanBeHidden) {
    const QRgb red = rgb(255, 0, 0);
    const QRgb green = rgb(0, 255, 0);
    GraphFrame plot;
    plot.setGeometry(0, 0, 101, 51);
    plot.setGraphType(graph::LinePlots);
    EXPECT_FALSE(plot.addSamples({1, 2, 3}, QColor(red)));
    plot.beginAddSamples();
    EXPECT_TRUE(plot.addSamples({1, 5, 2, 5}, QColor(red)));
    EXPECT_TRUE(plot.addSamples({5, 1, 5, 1}, QColor(green)));
    plot.endAddSamples();
    EXPECT_FALSE(plot.addSamples({3, 3, 3}, QColor(kBlue)));

    QImage image = grab(plot);
    const QRect all(0, 0, 101, 51);
    EXPECT_GT(count_colour(image, all, red), 0);
    EXPECT_GT(count_colour(image, all, green), 0);
    EXPECT_EQ(count_colour(image, all, kBlue), 0);

    plot.setSamplesShow(2, false);  // no third series
    EXPECT_EQ(grab(plot), image);
    plot.setSamplesShow(0, false);
    image = grab(plot);
    EXPECT_EQ(count_colour(image, all, red), 0);
    EXPECT_GT(count_colour(image, all, green), 0);
}

namespace {

void send_mouse(QWidget& widget, QEvent::Type type, QPoint pos) {
    QMouseEvent event(type, pos, type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

}  // namespace

TEST(GraphFrameScatterPlots, PointsTakeTheirQuadrantColourAndLinesCanBeDragged) {
    GraphFrame plot;
    plot.setGeometry(0, 0, 100, 100);
    plot.setGraphType(graph::ScatterPlots);
    plot.setAutoScale(false);
    plot.setSamples(QVector<QPoint>{{70, 70}, {20, 70}, {20, 20}, {70, 20}});
    plot.addVGuideLine();
    plot.addHGuideLine();
    plot.setVGuideLinePosition(0, 50);
    plot.setHGuideLinePosition(0, 40);
    plot.setShowGuideLine(true);

    // Plot y grows upwards: point (x, y) lands on image row 100 - y.
    QImage image = grab(plot);
    EXPECT_EQ(pixel(image, 70, 30), rgb(255, 0, 0));
    EXPECT_EQ(pixel(image, 20, 30), rgb(255, 255, 255));
    EXPECT_EQ(pixel(image, 20, 80), rgb(0, 255, 0));
    EXPECT_EQ(pixel(image, 70, 80), rgb(255, 255, 0));
    EXPECT_EQ(pixel(image, 50, 10), kBlue);
    EXPECT_EQ(pixel(image, 10, 60), kBlue);

    // Drag the vertical line 15 pixels to the right: the upper-left point changes quadrant.
    send_mouse(plot, QEvent::MouseButtonPress, QPoint(52, 30));
    send_mouse(plot, QEvent::MouseMove, QPoint(67, 30));
    EXPECT_EQ(pixel(grab(plot), 65, 10), rgb(0, 255, 255));  // grabbed lines turn cyan
    send_mouse(plot, QEvent::MouseButtonRelease, QPoint(67, 30));
    image = grab(plot);
    EXPECT_EQ(pixel(image, 65, 10), kBlue);
    EXPECT_EQ(pixel(image, 50, 10), background());

    // Drag the horizontal line (plot y 40, image row 60) 40 pixels up, above every point.
    send_mouse(plot, QEvent::MouseButtonPress, QPoint(10, 59));
    send_mouse(plot, QEvent::MouseMove, QPoint(10, 19));
    send_mouse(plot, QEvent::MouseButtonRelease, QPoint(10, 19));
    image = grab(plot);
    EXPECT_EQ(pixel(image, 10, 20), kBlue);
    EXPECT_EQ(pixel(image, 70, 30), rgb(255, 255, 0));
    EXPECT_EQ(pixel(image, 20, 30), rgb(0, 255, 0));
}

TEST(GraphFrameMouse, OnlyScatterPlotsTakeTheArrowBackOnRelease) {
    for (graph::GraphType type : {graph::Histogram, graph::LinePlots, graph::ScatterPlots}) {
        GraphFrame plot;
        plot.setGeometry(0, 0, 100, 100);
        plot.setGraphType(type);
        plot.setCursor(Qt::CrossCursor);
        send_mouse(plot, QEvent::MouseButtonRelease, QPoint(10, 10));
        EXPECT_EQ(plot.cursor().shape(),
                  type == graph::ScatterPlots ? Qt::ArrowCursor : Qt::CrossCursor)
            << type;
    }
}
