#include "sign/pdf_signer.h"

#include <cstdio>
#include <cstdlib>

#include "sign/pdf_update.h"

std::string pdf_date(time_t when) {
    struct tm local {};
    localtime_r(&when, &local);
    char date[32];
    std::strftime(date, sizeof date, "D:%Y%m%d%H%M%S", &local);
    // Offsets lie within a day.
    const int minutes = static_cast<int>(std::labs(local.tm_gmtoff) / 60 % (24 * 60));
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d'%02d'", local.tm_gmtoff < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return std::string(date) + zone;
}

sign_failure_e sign_pdf(std::string& pdf, const identity_files_s& files,
                        const std::u16string& reason, time_t now, signer_s& signer,
                        std::string& error) {
    const signing_identity_t identity = load_signing_identity(files, now, error);
    if (!identity)
        return SIGN_IDENTITY;
    const size_t saved_size = pdf.size();
    signature_slot_s slot;
    if (!append_signature_update(pdf, {reason, pdf_date(now), signature_size_bound(*identity)},
                                 slot, error)) {
        return SIGN_DOCUMENT;
    }
    std::string der;
    const char* data = pdf.data();
    if (!sign_detached(*identity, data + slot.ranges[0], slot.ranges[1], data + slot.ranges[2],
                       slot.ranges[3], der, error) ||
        !fill_signature(pdf, slot, der, error)) {
        pdf.resize(saved_size);
        return SIGN_DOCUMENT;
    }
    signer.subject = identity_subject(*identity);
    signer.not_after = identity_not_after(*identity);
    return SIGN_DONE;
}
