// The blocks that page 1 and page 2 share, drawn identically on both: the header lines, the
// signature labels and values, and the device information at the foot.
#pragma once

#include "pdf/report_document.h"

void draw_header_block(report_doc_s& rd);
void draw_signature_block(report_doc_s& rd);
void draw_device_information(report_doc_s& rd);
