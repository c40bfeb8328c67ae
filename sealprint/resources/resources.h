// The compiled-in page artwork and logo:
//   ":/images/report_1.jpg"      page 1 with the camera-image frames
//   ":/images/report_1_3ch.jpg"  page 1 with the Mean/SD/CV table (combined layout)
//   ":/images/report_2.jpg"      page 2
//   ":/images/pelta_logo.png"    built-in logo, 160 x 160 with alpha
// Their frames follow page_layout.h.
#pragma once

// Registers the images with Qt's resource system. The resource data lives in the static
// library sealprint_resources, whose automatic registration the linker drops; call this once
// before the first ":/images/..." path is opened. Further calls do nothing.
void init_sealprint_resources();
