// What the job knows before any result is read: set once by the job, read by every page.
#pragma once

#include <QString>

struct job_values_s {
    QString login_id;
    QString login_name;   // decoded from hex
    QString level;        // "user", "supervisor" or "admin": the slot the signed-in user fills
    QString report_path;  // the scanned folder; may hold the logo "icon.png"
    QString now_text;     // start of the job, "dd MMM yyyy hh:mm:ss"
};
