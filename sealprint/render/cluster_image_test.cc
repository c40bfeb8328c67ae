#include "render/cluster_image.h"

#include "render/test_support.h"

#include <gtest/gtest.h>

namespace {

const QRgb kBlue = rgb(0, 0, 255);
const QRgb kWhite = rgb(255, 255, 255);
constexpr int kChartBottom = 315;  // canvas row of the chart's last row

// The canvas columns of category i's bar.
QRect bar_columns(int i) {
    return QRect(120 + 40 * i, 80, 20, 236);
}

// Blue rows standing on the chart's last row, or ending one row above it.
int bar_height(const QImage& canvas, int i) {
    const int x = bar_columns(i).left() + 10;
    const int from_bottom = run_upwards(canvas, x, kChartBottom, kBlue);
    return from_bottom ? from_bottom : run_upwards(canvas, x, kChartBottom - 1, kBlue);
}

int bar_top(const QImage& canvas, int i) {
    const QRect columns = bar_columns(i);
    for (int y = columns.top(); y <= columns.bottom(); ++y)
        if (pixel(canvas, columns.left() + 10, y) == kBlue)
            return y - columns.top();
    return -1;
}

}  // namespace

TEST(ClusterImage, AllInTheFirstCategoryLabelsTheFullBarInsideOnAWhiteBox) {
    const QImage canvas = cluster_canvas({40, 0, 0, 0, 0, 0, 0, 0, 0});
    // 100 % is 234.99998 pixels: top row 1, height 234, clear of the last row.
    EXPECT_EQ(bar_top(canvas, 0), 1);
    EXPECT_EQ(pixel(canvas, 130, 80 + 234), kBlue);
    EXPECT_NE(pixel(canvas, 130, kChartBottom), kBlue);
    // The white box spans chart rows 11 to 26 across the bar; the value is written in it.
    const QRect box(120, 80 + 11, 20, 16);
    EXPECT_EQ(count_colour(canvas, box, kBlue), 0);
    EXPECT_LT(count_colour(canvas, box, kWhite), 20 * 16);
    EXPECT_EQ(pixel(canvas, 125, 80 + 10), kBlue);
    EXPECT_EQ(pixel(canvas, 125, 80 + 27), kBlue);
    for (int i = 1; i < 8; ++i) {
        EXPECT_EQ(bar_height(canvas, i), 1) << i;
        EXPECT_EQ(pixel(canvas, bar_columns(i).left(), kChartBottom), kBlue) << i;
    }
}

TEST(ClusterImage, SmallSharesKeepAVisibleBar) {
    // Out of 400: 2 is 0.5 %, 3 is 0.75 %, 4 is 1 %.
    const QImage canvas = cluster_canvas({391, 2, 3, 4, 0, 0, 0, 0, 0});
    EXPECT_EQ(bar_height(canvas, 1), 1);
    EXPECT_EQ(bar_top(canvas, 1), 235);
    EXPECT_EQ(bar_height(canvas, 2), 2);
    EXPECT_EQ(bar_top(canvas, 2), 234);
    // 1 % is 2.35 pixels: truncated separately, top row 233 and two rows high.
    EXPECT_EQ(bar_top(canvas, 3), 233);
    EXPECT_EQ(bar_height(canvas, 3), 2);
    EXPECT_NE(pixel(canvas, bar_columns(3).left(), kChartBottom), kBlue);
}

TEST(ClusterImage, ValueAtNinetyPercentGoesInsideTheBar) {
    const QImage ninety = cluster_canvas({9, 1, 0, 0, 0, 0, 0, 0, 0});
    const QImage eighty = cluster_canvas({8, 2, 0, 0, 0, 0, 0, 0, 0});
    const auto text_in_bar = [](const QImage& canvas) {
        const int top = bar_top(canvas, 0);
        return count_colour(canvas, QRect(120, 80 + top, 20, 40), kBlue) < 20 * 40;
    };
    EXPECT_TRUE(text_in_bar(ninety));
    EXPECT_FALSE(text_in_bar(eighty));
}

TEST(ClusterImage, LastTwoValuesShareTheLastCategory) {
    const QImage eighth = cluster_canvas({0, 0, 0, 0, 0, 0, 0, 5, 0});
    const QImage ninth = cluster_canvas({0, 0, 0, 0, 0, 0, 0, 0, 5});
    const QImage both = cluster_canvas({0, 0, 0, 0, 0, 0, 0, 2, 3});
    EXPECT_EQ(bar_top(eighth, 7), 1);
    EXPECT_EQ(eighth, ninth);
    EXPECT_EQ(eighth, both);
    // No bar right of the last one.
    EXPECT_EQ(count_colour(ninth, QRect(430, 80, 20, 236), kBlue), 0);
}

TEST(ClusterImage, ValuesPastTheNinthStillEnterTheTotal) {
    // Half of all objects sit in a tenth value that has no category: the first bar shows 50 %,
    // 117.49999 pixels, so its top is row trunc(118.50001) and it is 117 rows high.
    const QImage canvas = cluster_canvas({1, 0, 0, 0, 0, 0, 0, 0, 0, 1});
    EXPECT_EQ(bar_top(canvas, 0), 118);
    EXPECT_EQ(bar_height(canvas, 0), 117);
    EXPECT_EQ(bar_height(canvas, 7), 1);
}

TEST(ClusterImage, AllZerosAndShortInputGiveOnePixelLines) {
    const QImage zeros = cluster_canvas({0, 0, 0, 0, 0, 0, 0, 0, 0});
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(bar_height(zeros, i), 1) << i;
    // Fewer than nine values: the missing ones count as 0.
    EXPECT_EQ(cluster_canvas({}), zeros);
}

TEST(ClusterImage, LogsItsEntry) {
    LogCapture log;
    QImage image;
    genClusterImage(image, {1, 1, 1, 1, 1, 1, 1, 1, 1});
    EXPECT_EQ(log.lines(), QStringList({"void genClusterImage(QImage&, std::vector<int>&)"}));
    EXPECT_EQ(image.size(), QSize(728, 518));
    EXPECT_EQ(pixel(image, 0, 0), rgb(230, 230, 230));
    EXPECT_EQ(pixel(image, 727, 517), rgb(230, 230, 230));
}
