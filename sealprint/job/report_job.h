// The report job: approval slots, the scan of the report folder and the per-result loop.
#pragma once

#include <QString>
#include <QStringList>

#include "record/pdf_data.h"

// Hex text to a name: every character that is not a hex digit is skipped, digits pair up
// from the end (an odd first digit is a byte alone), the bytes are read as UTF-8.
QString Hex2String(const QString& hex);

// The three approval slots from their nine arguments (id, hex name, date for slots 1 to 3).
// A slot whose id is "_" stays empty. A slot with an id gets `now_text` for an empty date
// and the display form of a date in whole seconds since 1970; other dates stay as given.
// A hex name "_" is kept as "_", any other is decoded.
void fill_approval_slots(pdfData_s& record, const QStringList& slot_args, const QString& now_text);

// Result folders: each non-hidden directory directly under `report_path` that holds a
// "*.pdf" file (any case) gives its first PDF, and that path with ".pdf" replaced by
// ".csv" (exact case) as its CSV file. In the order the file system lists them.
void scan_results(const QString& report_path, QStringList& pdfList, QStringList& csvList);

// Looks up every item of the CSV file into g_data, one log line per lookup, then puts " / "
// between the numbers of the calibration and pixel-shift lists. A key the file lacks keeps
// the value an earlier result stored.
void read_result(const QString& csv_path);

// Everything after the start banner, for the 13 arguments `args`: slots, log, scan, one
// report per result. The exit status: 0 when every result was written, -1 otherwise.
int run_report_job(const QStringList& args);
