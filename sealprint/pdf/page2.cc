#include "pdf/report_pages.h"

int draw_page2(report_doc_s&) {
    return 1;
}
