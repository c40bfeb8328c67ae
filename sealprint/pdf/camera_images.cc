#include "pdf/camera_images.h"

#include <QDir>
#include <QPainter>
#include <QPen>
#include <QStringList>

namespace {

// The region enlarged and the inset that maps it: a 125 × 100 outline stands for the whole
// image, the inner outline for the region, a quarter of the outline in from its left and top.
const QRect zoom_source(320, 240, 640, 480);
constexpr int zoom_height = 960;
constexpr int nav_rect_width = 125;
constexpr int nav_rect_height = 100;

}  // namespace

camera_images_s find_camera_images(const QString& csv_path, bool fluorescence) {
    const QString folder = csv_path.left(csv_path.lastIndexOf(QLatin1Char('/')) + 1);
    const QLatin1String tag_mark(fluorescence ? "_01_TAG_ALL" : "_01_TAG");
    QDir dir(folder);
    // Case-sensitive like the kind marks, which all end in ".tif" or hold the tag mark.
    dir.setFilter(QDir::Files | QDir::CaseSensitive);
    dir.setNameFilters({QStringLiteral("*.tif")});
    dir.setSorting(QDir::Name);
    camera_images_s found;
    for (const QString& name : dir.entryList()) {
        const QString path = folder + name;
        if (path.contains(QLatin1String("_01_RAW_BF.tif")))
            found.bright_field = path;
        if (path.contains(QLatin1String("_01_RAW_GFP.tif")))
            found.green = path;
        if (path.contains(QLatin1String("_01_RAW_RFP.tif")))
            found.red = path;
        if (path.contains(tag_mark))
            found.tag = path;
    }
    return found;
}

bool camera_images_complete(const camera_images_s& images) {
    if (images.bright_field.isEmpty() || images.tag.isEmpty())
        return false;
    return images.green.isEmpty() == images.red.isEmpty();
}

QImage make_zoom(const QImage& tag) {
    QImage zoom = tag.copy(zoom_source).scaledToHeight(zoom_height, Qt::SmoothTransformation);
    QPainter painter(&zoom);
    painter.setPen(QPen(QColor(255, 255, 0, 255), 1));
    painter.drawRect(0, 0, nav_rect_width, nav_rect_height);
    painter.drawRect(nav_rect_width / 4, nav_rect_height / 4, nav_rect_width / 2,
                     nav_rect_height / 2);
    return zoom;
}
