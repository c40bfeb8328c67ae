#include "render/histogram_image.h"

#include "record/pdf_data.h"
#include "render/cluster_image.h"
#include "render/test_support.h"

#include <QPalette>

#include <gtest/gtest.h>

namespace {

const QRgb kCanvasGrey = rgb(230, 230, 230);
const QRgb kOutGrey = rgb(130, 130, 130);
const QRgb kBlue = rgb(0, 0, 255);
const QRgb kGreen = rgb(0, 255, 0);
const QRgb kRed = rgb(255, 0, 0);
const QColor kOrange(255, 127, 0);
const QRect kPlot(90, 80, 364, 236);
constexpr int kPlotBottom = 315;
const QRect kTopLabel(455, 75, 61, 26);
const QRect kMiddleLabel(455, 185, 61, 26);
const QRect kPowerLabel(100, 54, 141, 21);

// First canvas column of bin i's bar.
int bar_x(int bin) {
    return 91 + 4 * bin;
}

int bar_height(const QImage& canvas, int bin, QRgb colour) {
    return run_upwards(canvas, bar_x(bin) + 1, kPlotBottom, colour);
}

std::vector<int> histogram(std::initializer_list<std::pair<int, int>> bins) {
    std::vector<int> h(91, 0);
    for (const auto& [bin, count] : bins)
        h[bin] = count;
    return h;
}

// No gating, and factors that make the concentration equal the count.
class HistogramImage : public testing::Test {
protected:
    void SetUp() override {
        set_gate("", "0", "0");
        set_factors("1", "1", "1");
    }
    void TearDown() override {
        set_gate("", "", "");
        set_factors("", "", "");
    }
    static void set_gate(const char* text, const char* min, const char* max) {
        g_data.size_gating = text;
        g_data.size_gating_min = min;
        g_data.size_gating_max = max;
    }
    static void set_factors(const char* dilution, const char* f1, const char* f2) {
        g_data.dilution_factor = dilution;
        g_data.volume_factor_1 = f1;
        g_data.volume_factor_2 = f2;
    }
};

}  // namespace

TEST_F(HistogramImage, OutputIsAlways728x518PackedRgb888) {
    set_gate("50 ~ 5 um", "50", "5");
    const std::vector<std::vector<int>> inputs = {
        std::vector<int>(91, 0), {7}, histogram({{3, 9}})};
    for (const auto& h : inputs) {
        for (CellNumberOrConcentraion mode : {CellNumber, Concentration}) {
            QImage images[3];
            genImage(images[0], h, h, mode, kOrange);
            genImage(images[1], h, mode, kOrange);
            total_genImage(images[2], h, h, mode);
            for (const QImage& image : images) {
                EXPECT_EQ(image.size(), QSize(728, 518));
                EXPECT_EQ(image.format(), QImage::Format_RGB888);
                EXPECT_EQ(image.bytesPerLine(), 2184);
                EXPECT_EQ(image.sizeInBytes(), 1131312);
            }
        }
    }
    QImage cluster;
    genClusterImage(cluster, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(cluster.size(), QSize(728, 518));
    EXPECT_EQ(cluster.format(), QImage::Format_RGB888);
}

TEST_F(HistogramImage, ScaledOutputStretchesTheWholeCanvas) {
    set_gate("5 ~ 50 um", "5", "50");
    std::vector<int> live(91);
    for (int i = 0; i < 91; ++i)
        live[i] = (i * 37) % 50;
    const QImage canvas = histogram_canvas(live, CellNumber, Qt::green);
    QImage image;
    genImage(image, live, CellNumber, Qt::green);
    // Wherever the canvas is uniform around a point, the stretched image shows the same colour.
    int compared = 0;
    for (int y = 2; y < 374; y += 4) {
        for (int x = 2; x < 526; x += 4) {
            const QRgb colour = pixel(canvas, x, y);
            if (count_colour(canvas, QRect(x - 2, y - 2, 5, 5), colour) != 25)
                continue;
            const QRgb scaled = pixel(image, x * 728 / 528, y * 518 / 376);
            EXPECT_NEAR(qRed(scaled), qRed(colour), 2) << x << "," << y;
            EXPECT_NEAR(qGreen(scaled), qGreen(colour), 2) << x << "," << y;
            EXPECT_NEAR(qBlue(scaled), qBlue(colour), 2) << x << "," << y;
            ++compared;
        }
    }
    EXPECT_GT(compared, 5000);
}

TEST_F(HistogramImage, GateColoursBinsFromLowerToBelowUpperAndDrawsItsLines) {
    set_gate("5 ~ 50 um", "5", "50");
    const QImage canvas = histogram_canvas(std::vector<int>(91, 3), {}, CellNumber, kOrange);
    for (int bin = 0; bin < 91; ++bin) {
        const bool in = bin >= 5 && bin <= 49;
        EXPECT_EQ(pixel(canvas, bar_x(bin), kPlotBottom), in ? kOrange.rgb() : kOutGrey) << bin;
    }
    EXPECT_EQ(count_colour(canvas, QRect(110, 80, 1, 236), kBlue), 236);
    EXPECT_EQ(count_colour(canvas, QRect(290, 80, 1, 236), kBlue), 236);
    EXPECT_EQ(count_colour(canvas, kPlot, kBlue), 2 * 236);
}

TEST_F(HistogramImage, GateWithLowerAboveUpperGreysEveryBar) {
    set_gate("50 ~ 5 um", "50", "5");
    const QImage canvas = histogram_canvas(std::vector<int>(91, 3), {}, CellNumber, kOrange);
    EXPECT_EQ(count_colour(canvas, kPlot, kOrange.rgb()), 0);
    EXPECT_EQ(count_colour(canvas, kPlot, kOutGrey), 91 * 3 * 235);
    EXPECT_EQ(count_colour(canvas, QRect(110, 80, 1, 236), kBlue), 236);
    EXPECT_EQ(count_colour(canvas, QRect(290, 80, 1, 236), kBlue), 236);
}

TEST_F(HistogramImage, GateBoundBeyondTheBinsIsLoggedAndGreysEveryBar) {
    set_gate("5 ~ 100 um", "5", "100");
    LogCapture log;
    const QImage canvas = histogram_canvas(std::vector<int>(91, 3), {}, CellNumber, kOrange);
    EXPECT_EQ(log.lines(), QStringList({"Vertical 1 100 92"}));
    EXPECT_EQ(count_colour(canvas, kPlot, kOrange.rgb()), 0);
    // The upper line stays where it was created, at the plot's left edge.
    EXPECT_EQ(count_colour(canvas, QRect(90, 80, 1, 236), kBlue), 236);
    EXPECT_EQ(count_colour(canvas, QRect(110, 80, 1, 236), kBlue), 236);
}

TEST_F(HistogramImage, WithoutGatingTheBoundsAreIgnored) {
    set_gate("", "50", "5");
    const QImage canvas = histogram_canvas(std::vector<int>(91, 3), {}, CellNumber, kOrange);
    EXPECT_EQ(count_colour(canvas, kPlot, kOrange.rgb()), 91 * 3 * 235);
    EXPECT_EQ(count_colour(canvas, kPlot, kBlue), 0);
}

TEST_F(HistogramImage, OneHistogramFormNeverShowsTheLastBin) {
    set_gate("5 ~ 90 um", "5", "90");
    const std::vector<int> h = histogram({{5, 9}, {90, 9}});
    const QImage one = histogram_canvas(h, CellNumber, kOrange);
    EXPECT_EQ(bar_height(one, 5, kOrange.rgb()), 235);
    // The plot ends at canvas column 449: bin 90 and the line at 90 µm are cut off.
    EXPECT_EQ(count_colour(one, QRect(450, 80, 4, 236), kCanvasGrey), 4 * 236);
    EXPECT_EQ(count_colour(one, kPlot, kBlue), 236);

    const QImage two = histogram_canvas(h, h, CellNumber, kOrange);
    EXPECT_EQ(bar_height(two, 90, kOutGrey), 235);  // right of the line at 90 µm
}

TEST_F(HistogramImage, SwappedTwoHistogramCallsShareScaleAndLabels) {
    const std::vector<int> live = histogram({{10, 400}, {20, 37}});
    const std::vector<int> dead = histogram({{10, 100}, {30, 1000}});
    for (CellNumberOrConcentraion mode : {CellNumber, Concentration}) {
        const QImage a = histogram_canvas(live, dead, mode, Qt::green);
        const QImage b = histogram_canvas(dead, live, mode, Qt::red);
        EXPECT_EQ(bar_height(a, 10, kGreen), static_cast<int>(400 * (235.0f / 1000)));
        EXPECT_EQ(bar_height(b, 30, kRed), 235);
        EXPECT_TRUE(same_pixels(a, b, kTopLabel));
        EXPECT_TRUE(same_pixels(a, b, kMiddleLabel));
        EXPECT_TRUE(same_pixels(a, b, kPowerLabel));
        EXPECT_TRUE(same_pixels(a, b, QRect(0, 316, 528, 60)));
        // The scale really is the shared one: on its own, live would be labelled differently.
        EXPECT_FALSE(same_pixels(a, histogram_canvas(live, live, mode, Qt::green), kTopLabel));
    }
}

TEST_F(HistogramImage, TotalDrawsDeadBarsOverLiveBarsOnOneScale) {
    const std::vector<int> live = histogram({{3, 10}, {4, 2}});
    const std::vector<int> dead = histogram({{3, 4}, {4, 8}});
    const QImage canvas = total_histogram_canvas(live, dead, CellNumber);
    const int red3 = static_cast<int>(4 * (235.0f / 10));
    EXPECT_EQ(bar_height(canvas, 3, kRed), red3);
    EXPECT_EQ(run_upwards(canvas, bar_x(3), kPlotBottom - red3, kGreen), 235 - red3);
    EXPECT_EQ(bar_height(canvas, 4, kRed), static_cast<int>(8 * (235.0f / 10)));
    EXPECT_EQ(count_colour(canvas, QRect(bar_x(4), 80, 3, 236), kGreen), 0);
    // The plot background comes from the frame behind the two transparent plots.
    const QRgb window = QPalette().color(QPalette::Window).rgb();
    EXPECT_EQ(pixel(canvas, kPlot.left(), kPlot.top()), window);
    EXPECT_EQ(pixel(canvas, kPlot.right(), kPlotBottom), window);
}

TEST_F(HistogramImage, AllZeroInputShowsOnlyThePlotBackgroundAndZeroLabels) {
    const std::vector<int> zeros(91, 0);
    const QRgb window = QPalette().color(QPalette::Window).rgb();
    for (CellNumberOrConcentraion mode : {CellNumber, Concentration}) {
        const QImage canvas = total_histogram_canvas(zeros, zeros, mode);
        EXPECT_EQ(count_colour(canvas, kPlot, window), 364 * 236);
        // "0" and "0", or "0.00" and "0.00": the two value labels look the same.
        EXPECT_TRUE(
            same_pixels(canvas.copy(kTopLabel), canvas.copy(kMiddleLabel), QRect(0, 0, 61, 26)));
        EXPECT_LT(count_colour(canvas, kTopLabel, kCanvasGrey), 61 * 26);
    }
}

TEST_F(HistogramImage, CountLabelsShowMaximumAndItsIntegerHalf) {
    const std::vector<int> zeros(91, 0);
    const QImage zero = histogram_canvas(zeros, zeros, CellNumber, kOrange);
    const QImage one = histogram_canvas(histogram({{2, 1}}), zeros, CellNumber, kOrange);
    EXPECT_FALSE(same_pixels(zero, one, kTopLabel));    // "1" against "0"
    EXPECT_TRUE(same_pixels(zero, one, kMiddleLabel));  // 1 / 2 is "0"
    EXPECT_EQ(count_colour(one, kPowerLabel, kCanvasGrey),
              kPowerLabel.width() * kPowerLabel.height());
}

TEST_F(HistogramImage, ConcentrationLabelsShowMantissaHalfAndPowerOfTen) {
    const std::vector<int> zeros(91, 0);
    const QImage twenty =
        histogram_canvas(histogram({{1, 20}}), zeros, Concentration, kOrange);  // 2.00 1.00 e1
    const QImage ten =
        histogram_canvas(histogram({{1, 10}}), zeros, Concentration, kOrange);  // 1.00 0.50 e1
    const QImage hundred =
        histogram_canvas(histogram({{1, 200}}), zeros, Concentration, kOrange);  // e2
    const QImage zero = histogram_canvas(zeros, zeros, Concentration, kOrange);  // 0.00 0.00 e0
    EXPECT_TRUE(same_pixels(twenty.copy(kMiddleLabel), ten.copy(kTopLabel), QRect(0, 0, 61, 26)));
    EXPECT_TRUE(same_pixels(twenty, ten, kPowerLabel));
    EXPECT_TRUE(same_pixels(twenty, hundred, kTopLabel));
    EXPECT_FALSE(same_pixels(twenty, hundred, kPowerLabel));
    EXPECT_FALSE(same_pixels(twenty, zero, kPowerLabel));

    // A dilution that is not a number makes every concentration 0.
    set_factors("n/a", "1", "1");
    const QImage undiluted = histogram_canvas(histogram({{1, 20}}), zeros, Concentration, kOrange);
    for (const QRect& label : {kTopLabel, kMiddleLabel, kPowerLabel})
        EXPECT_TRUE(same_pixels(undiluted, zero, label));
}
