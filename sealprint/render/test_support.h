// Helpers shared by the rendering tests: pixel probes and a capture of the toolkit's log.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects every debug/warning line the toolkit logs while it lives.
class LogCapture {
public:
    LogCapture() {
        previous_ = qInstallMessageHandler(&LogCapture::handle);
        lines().clear();
    }
    ~LogCapture() { qInstallMessageHandler(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    static QStringList& lines() {
        static QStringList captured;
        return captured;
    }

private:
    static void handle(QtMsgType, const QMessageLogContext&, const QString& message) {
        lines().append(message);
    }
    QtMessageHandler previous_;
};

inline QRgb rgb(int r, int g, int b) {
    return qRgb(r, g, b);
}

inline QRgb pixel(const QImage& image, int x, int y) {
    return image.pixel(x, y) | 0xff000000u;
}

// How many pixels of `colour` the rectangle holds.
inline int count_colour(const QImage& image, const QRect& area, QRgb colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += pixel(image, x, y) == (colour | 0xff000000u);
    return n;
}

// Rows of `colour` in column x, counted upwards from row `bottom` until another colour.
inline int run_upwards(const QImage& image, int x, int bottom, QRgb colour) {
    int n = 0;
    while (bottom - n >= 0 && pixel(image, x, bottom - n) == (colour | 0xff000000u))
        ++n;
    return n;
}

inline bool same_pixels(const QImage& a, const QImage& b, const QRect& area) {
    return a.copy(area) == b.copy(area);
}
