// The cell-size histogram pictures of report page 2: bars of the histogram drawn by a
// GraphFrame, value labels to the right, micrometre numbers below, optionally the size gate.
//
// Preconditions of every function here: a QApplication exists and they run on its thread.
// The font family "Ubuntu" is used when registered, otherwise the default font serves.
// Gating (g_data.size_gating, size_gating_min, size_gating_max) and the concentration factors
// (g_data.dilution_factor, volume_factor_1, volume_factor_2) are read on every call.
#pragma once

#include <QColor>
#include <QImage>

#include <vector>

// How the vertical axis is labelled: in cells, or in cells/mL as mantissa and power of ten.
// Any value other than CellNumber labels in concentration.
enum CellNumberOrConcentraion { CellNumber = 0, Concentration = 1 };

// Each generator replaces `image` with a 728 x 518 Format_RGB888 picture. Histograms hold one
// count per micrometre bin (the report passes 91 bins, 0 to 90 µm); the axis labels assume 91.

// Draws `histogram` in `colour`; `second` only enters the vertical scale, so that two calls with
// the arguments swapped share one scale and identical labels.
void genImage(QImage& image, const std::vector<int>& histogram, const std::vector<int>& second,
              CellNumberOrConcentraion mode, const QColor& colour);
// Draws `histogram` in `colour`, scaled to itself. The plot is 4 pixels narrower, so the last
// bin (90 µm) and a gate line at 90 µm or above fall outside it.
void genImage(QImage& image, const std::vector<int>& histogram, CellNumberOrConcentraion mode,
              const QColor& colour);
// Live (green) and dead (red) overlaid on one scale; dead bars cover live bars.
void total_genImage(QImage& image, const std::vector<int>& live, const std::vector<int>& dead,
                    CellNumberOrConcentraion mode);

// The same pictures before scaling: 528 x 376 canvases, the plot area at (90, 80).
QImage histogram_canvas(const std::vector<int>& histogram, const std::vector<int>& second,
                        CellNumberOrConcentraion mode, const QColor& colour);
QImage histogram_canvas(const std::vector<int>& histogram, CellNumberOrConcentraion mode,
                        const QColor& colour);
QImage total_histogram_canvas(const std::vector<int>& live, const std::vector<int>& dead,
                              CellNumberOrConcentraion mode);
