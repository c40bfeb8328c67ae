// What the histogram and cluster pictures share: the grey canvas the parts are composed on,
// the text labels, and the final scaling to the size the report page embeds.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

class QPainter;
class QWidget;

constexpr QSize kCanvasSize(528, 376);
constexpr QSize kOutputSize(728, 518);
const QColor kCanvasGrey(230, 230, 230, 255);
// Where the plot (or the cluster chart) sits on the canvas.
constexpr QPoint kPlotOrigin(90, 80);

// A blank canvas, filled grey.
QImage new_canvas();

// Draws the widget's off-screen grab on the canvas at the widget's own position.
void draw_grab(QPainter& painter, QWidget& widget);

// Registers the Ubuntu faces of the labels (light, regular, medium) from the font folder, once per
// process after the application object exists; a missing font leaves Qt's own choice.
void register_label_fonts();

// Draws a text label (Ubuntu at `pixel_size`, transparent background, default palette and
// alignment) with the given geometry on the canvas.
void draw_label(QPainter& painter, const QString& text, const QRect& geometry, int pixel_size);

// The canvas stretched to 728 x 518 with smooth filtering, as tightly packed RGB888: rows of
// 2184 bytes, no padding.
QImage scale_to_output(const QImage& canvas);
