// The blocks that page 1 and page 2 share, drawn identically on both: the header lines, the
// signature labels and values, and the device information at the foot.
#pragma once

#include <QString>
#include <array>

#include "pdf/report_document.h"

void draw_header_block(report_doc_s& rd);
// The labels, and the rows of shown_signatures unless the level is unknown.
void draw_signature_block(report_doc_s& rd);
void draw_device_information(report_doc_s& rd);

// One row of the signature block: who signed in that role, under which name, when.
struct signature_row_s {
    QString id, name, date;
};
using shown_signatures_t = std::array<signature_row_s, 3>;  // Creator, Reviewer, Approver

// The rows as both pages show them: the approval slots of `data`, the signed-in user of `job`
// in the slot of its level (and in the empty slots before it); all empty for a level other than
// "user", "supervisor" or "admin".
shown_signatures_t shown_signatures(const job_values_s& job, const pdfData_s& data);

// The file name as the header shows it: a name wider than MAX_FN_WIDTH (measured in a 34 pt
// Helvetica) loses its beginning to "...", and ".csv" reads ".pdf", naming the report itself.
// Needs the application object for the font metrics.
QString shorten_file_name(const QString& file_name);
