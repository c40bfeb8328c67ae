// The blocks that page 1 and page 2 share, drawn identically on both: the header lines, the
// signature labels and values, and the device information at the foot.
#pragma once

#include <QString>

#include "pdf/report_document.h"

void draw_header_block(report_doc_s& rd);
void draw_signature_block(report_doc_s& rd);
void draw_device_information(report_doc_s& rd);

// The file name as the header shows it: a name wider than MAX_FN_WIDTH (measured in a 34 pt
// Helvetica) loses its beginning to "...", and ".csv" reads ".pdf", naming the report itself.
// Needs the application object for the font metrics.
QString shorten_file_name(const QString& file_name);
