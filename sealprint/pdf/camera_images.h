// The camera images that the instrument leaves beside the CSV result file, and the two
// pictures page 1 makes of the analysed (tag) image.
#pragma once

#include <QImage>
#include <QString>

// Paths of the images found, empty for a kind not found.
struct camera_images_s {
    QString bright_field;  // "_01_RAW_BF.tif"
    QString green;         // "_01_RAW_GFP.tif"
    QString red;           // "_01_RAW_RFP.tif"
    QString tag;           // "_01_TAG_ALL" in fluorescence mode, else "_01_TAG"
};

// The "*.tif" files of the folder holding `csv_path`, in name order; a later match of a kind
// replaces an earlier one.
camera_images_s find_camera_images(const QString& csv_path, bool fluorescence);

// A result is reported with all four images, or with bright field and tag alone.
bool camera_images_complete(const camera_images_s& images);

// The central quarter of a 1280 × 960 tag image, enlarged to 960 rows, with a yellow inset in
// its top left corner showing where that quarter lies in the whole image.
QImage make_zoom(const QImage& tag);
