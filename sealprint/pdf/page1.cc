#include "pdf/report_pages.h"

int draw_page1(report_doc_s&) {
    return 1;
}
