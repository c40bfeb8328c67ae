// The cell cluster graph of report page 2: the share of objects in clusters of 1 to 7 cells and
// of more than 7, as blue percentage bars.
#pragma once

#include <QImage>

#include <vector>

// Replaces `image` with a 728 x 518 Format_RGB888 chart. `cluster` holds the counts of
// clusters of 1 to 7 cells followed by two counts that together form ">7cell" (the report
// passes exactly 9; missing values count as 0, values past the ninth only enter the total).
// Preconditions as for the histogram pictures: a QApplication on this thread; the "Ubuntu"
// font when registered.
void genClusterImage(QImage& image, const std::vector<int>& cluster);

// The same chart before scaling: a 528 x 376 canvas with the chart at (90, 80).
QImage cluster_canvas(const std::vector<int>& cluster);
