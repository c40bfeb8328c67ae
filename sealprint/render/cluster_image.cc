#include "render/cluster_image.h"

#include "render/canvas.h"

#include <QApplication>
#include <QDebug>
#include <QFont>
#include <QPainter>
#include <QPixmap>

#include <array>

namespace {

constexpr int kCategories = 8;
constexpr int kChartWidth = 360;
constexpr int kChartHeight = 236;
constexpr int kBarWidth = 20;
constexpr int kBarGap = 20;
// 100 % reaches 235 pixels, the height of the size histograms' scale.
constexpr float kPixelsPerPercent = 2.35f;
const QColor kBarBlue(0, 0, 255);

std::array<float, kCategories> percentages(const std::vector<int>& cluster) {
    const auto value = [&cluster](size_t i) {
        return i < cluster.size() ? cluster[i] : 0;
    };
    // Every value counts towards the whole, even one past the ninth that has no category.
    // 64 bits, so that the sum cannot overflow.
    long long total = 0;
    for (int count : cluster)
        total += count;
    std::array<float, kCategories> percent{};
    if (total == 0)
        return percent;
    for (size_t i = 0; i < kCategories; ++i) {
        // The last category gathers the clusters of more than seven cells.
        const long long count =
            i == kCategories - 1 ? static_cast<long long>(value(i)) + value(i + 1) : value(i);
        percent[i] = static_cast<float>(count) / static_cast<float>(total) * 100;
    }
    return percent;
}

QPixmap draw_chart(const std::array<float, kCategories>& percent) {
    QPixmap chart(kChartWidth, kChartHeight);
    chart.fill(QColor(255, 255, 255, 255));
    QPainter painter(&chart);
    painter.setPen(QColor(0, 0, 0));
    QFont font = QApplication::font();
    font.setPixelSize(12);
    painter.setFont(font);
    for (int i = 0; i < kCategories; ++i) {
        const float p = percent[i];
        const int x = (i + 1) * (kBarWidth + kBarGap) - kBarGap + 10;
        const float a = p * kPixelsPerPercent;
        // Small shares still show as a line (up to 0.5 %) or two (below 1 %).
        if (p >= 0 && p <= 0.5f)
            painter.fillRect(QRect(x, 235, kBarWidth, 1), kBarBlue);
        else if (p > 0.5f && p < 1)
            painter.fillRect(QRect(x, 234, kBarWidth, 2), kBarBlue);
        else
            painter.fillRect(QRect(x, static_cast<int>(236 - a), kBarWidth, static_cast<int>(a)),
                             kBarBlue);

        const QString text = QString("%1%").arg(p, 0, 'f', 1);
        // Near the top there is no room above the bar: the value goes inside it on a white box.
        if (p >= 90) {
            painter.fillRect(QRect(x - 5, static_cast<int>(236 - a + 10), 60, 16), Qt::white);
            painter.drawText(x - 5, static_cast<int>(236 - a + 22), text);
        } else {
            painter.drawText(x - 5, static_cast<int>(236 - a - 9), text);
        }
    }
    return chart;
}

}  // namespace

QImage cluster_canvas(const std::vector<int>& cluster) {
    QImage canvas = new_canvas();
    QPainter painter(&canvas);
    painter.drawPixmap(kPlotOrigin, draw_chart(percentages(cluster)));
    draw_label(painter, QStringLiteral("100"), QRect(455, 75, 61, 26), 16);
    draw_label(painter, QStringLiteral("50"), QRect(455, 185, 61, 26), 16);
    for (int i = 0; i < kCategories; ++i) {
        const QString name =
            i == kCategories - 1 ? QStringLiteral(">7cell") : QString("%1cell").arg(i + 1);
        draw_label(painter, name, QRect(115 + 40 * i, 320, 35, 20), 12);
    }
    painter.end();
    return canvas;
}

void genClusterImage(QImage& image, const std::vector<int>& cluster) {
    qDebug() << "void genClusterImage(QImage&, std::vector<int>&)";
    image = scale_to_output(cluster_canvas(cluster));
}
