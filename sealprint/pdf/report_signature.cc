#include "pdf/report_signature.h"

#include <sys/stat.h>

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "pdf/page_blocks.h"
#include "record/pdf_data.h"
#include "sign/pdf_signer.h"

namespace {

const char* const kSigningDir = PRODUCT_DIR "/signing";

// "Creator: jdoe, John Doe, 01 Mar 2024 10:15:32; Reviewer: none; Approver: none".
std::u16string signature_reason(const report_doc_s& rd) {
    const char* const roles[3] = {"Creator", "Reviewer", "Approver"};
    const shown_signatures_t rows = shown_signatures(*rd.job, g_data);
    QString reason;
    for (size_t i = 0; i < rows.size(); ++i) {
        QStringList shown;
        for (const QString* value : {&rows[i].id, &rows[i].name, &rows[i].date}) {
            if (!value->isEmpty())
                shown.append(*value);
        }
        if (i > 0)
            reason += QLatin1String("; ");
        reason += QLatin1String(roles[i]) + QLatin1String(": ") +
                  (shown.isEmpty() ? QStringLiteral("none") : shown.join(QLatin1String(", ")));
    }
    return reason.toStdU16String();
}

}  // namespace

bool report_signing_configured() {
    struct stat st;
    const std::string certificate = std::string(kSigningDir) + "/report.crt";
    return lstat(certificate.c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

HPDF_STATUS sign_saved_report(const report_doc_s& rd, std::string& pdf) {
    const std::string dir = kSigningDir;
    const identity_files_s files{dir + "/report.key", dir + "/report.crt", dir + "/chain.pem"};
    signer_s signer;
    std::string error;
    const sign_failure_e failed =
        sign_pdf(pdf, files, signature_reason(rd), time(nullptr), signer, error);
    const QByteArray target = QFile::encodeName(rd.pdf_path);
    if (failed == SIGN_DONE) {
        printf("<sealprint> signed %s : %s, certificate valid until %s \n", target.constData(),
               signer.subject.c_str(), signer.not_after.c_str());
        return HPDF_OK;
    }
    printf("[Error] Cannot sign the report %s : %s \n", target.constData(), error.c_str());
    return failed == SIGN_IDENTITY ? HPDF_FILE_OPEN_ERROR : HPDF_INVALID_DOCUMENT;
}
