#include "render/canvas.h"

#include <QFont>
#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

QImage new_canvas() {
    QImage canvas(kCanvasSize, QImage::Format_RGB32);
    canvas.fill(kCanvasGrey);
    return canvas;
}

void draw_grab(QPainter& painter, QWidget& widget) {
    painter.drawPixmap(widget.geometry().topLeft(), widget.grab());
}

void draw_label(QPainter& painter, const QString& text, const QRect& geometry, int pixel_size) {
    QLabel label;
    label.setAttribute(Qt::WA_TranslucentBackground);
    QFont font(QStringLiteral("Ubuntu"), 15, QFont::Normal, false);
    font.setPixelSize(pixel_size);
    label.setFont(font);
    label.setGeometry(geometry);
    label.setText(text);
    draw_grab(painter, label);
}

QImage scale_to_output(const QImage& canvas) {
    return canvas.scaled(kOutputSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB888);
}

void register_label_fonts() {
    for (const char* face : {"Ubuntu-L.ttf", "Ubuntu-R.ttf", "Ubuntu-M.ttf"}) {
        QFontDatabase::addApplicationFont(QStringLiteral(UBUNTU_FONT_DIR "/") +
                                          QLatin1String(face));
    }
}
