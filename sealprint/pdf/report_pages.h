// The two pages of the report. compose_report adds each page and scales it to page units
// before calling its function; rd.page is that page.
#pragma once

#include "pdf/report_document.h"

// 1 when the page is drawn; any other value (-1) after printing the page's own failure
// message: the caller then frees the document without saving, so the result keeps the
// instrument's PDF, and draws no further page.
int draw_page1(report_doc_s& rd);
int draw_page2(report_doc_s& rd);
