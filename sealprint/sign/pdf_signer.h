// Signs a saved report in memory: the lab's identity, the incremental update (sign/pdf_update.h)
// and the CMS signature over it (sign/cms_signer.h).
#pragma once

#include <ctime>
#include <string>

#include "sign/cms_signer.h"

enum sign_failure_e {
    SIGN_DONE = 0,
    SIGN_IDENTITY,  // the identity's files cannot be used
    SIGN_DOCUMENT,  // the report is not of the form the update takes, or OpenSSL failed
};

// Who signed, for the log.
struct signer_s {
    std::string subject;    // the certificate's subject, RFC 2253
    std::string not_after;  // end of its validity, "2027-12-09 10:15:00 UTC"
};

// Signs `pdf` with the identity in `files` at `now`, with `reason` as the signature's /Reason
// and `now` in local time as its /M. On failure `pdf` is unchanged and `error` says why: for
// SIGN_IDENTITY "<file>: <reason>", for SIGN_DOCUMENT the reason alone.
sign_failure_e sign_pdf(std::string& pdf, const identity_files_s& files,
                        const std::u16string& reason, time_t now, signer_s& signer,
                        std::string& error);

// `when` in local time as a PDF date, "D:20240301101532+01'00'".
std::string pdf_date(time_t when);
