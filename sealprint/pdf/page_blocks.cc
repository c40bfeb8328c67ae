#include "pdf/page_blocks.h"

void draw_header_block(report_doc_s&) {}
void draw_signature_block(report_doc_s&) {}
void draw_device_information(report_doc_s&) {}
