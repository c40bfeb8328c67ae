// The signature of a report with the lab's own identity, configured by files under the product
// folder: "signing/report.key", "signing/report.crt" and, optionally, "signing/chain.pem".
#pragma once

#include <hpdf.h>

#include <string>

#include "pdf/report_document.h"

// Whether reports are signed: exactly when "signing/report.crt" exists. A name that exists in
// any form (a link to nowhere, a file nobody may read) counts, so that a lab that asked for
// signed reports never gets an unsigned one silently.
bool report_signing_configured();

// The saved bytes of `rd`'s document in `pdf`, signed in place: the signature's incremental update
// is appended, its /Reason naming the signature rows as the pages show them. Prints
// "<sealprint> signed ..." naming the certificate. On failure prints one "[Error] Cannot sign the
// report ..." line naming the file and the reason and returns the status for the failure line:
// HPDF_FILE_OPEN_ERROR when the identity cannot be used, HPDF_INVALID_DOCUMENT otherwise; `pdf`
// is then not to be written.
HPDF_STATUS sign_saved_report(const report_doc_s& rd, std::string& pdf);
