// Decoding of the CSV result file's values into the report record.
#pragma once

#include <QString>

#include "record/pdf_data.h"

// Decodes `value` (UTF-8) by `key` (a CSV key, compared exactly) and stores it in `record`.
// Returns 0 for a known key, whether or not its value could be parsed, and -1 for an unknown
// key, which changes nothing. Only the fields of `key` change; the result fields read
// record.combine_result as it stands (only "Off" keeps the plain single-value form).
int set_value_by_key(pdfData_s& record, const char* key, const char* value);
// The same into g_data: the job's form.
int set_value_by_key(const char* key, const char* value);

// Stores the trimmed `text` in record.size_gating and, when it has the form "<min> ~ <max> um"
// (or with "x", "≤", "<" between the bounds, "μm" after), the digits of the bounds in
// size_gating_min and size_gating_max. True when the text is empty or parsed; false when it
// did not parse, leaving both bounds as they were.
bool size_gating_parser(pdfData_s& record, const QString& text);
