#include "job/report_job.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLocale>
#include <cstdio>
#include <limits>

#include "csv/csv_reader.h"
#include "pdf/report_document.h"
#include "record/record_decoder.h"

namespace {

// Display form of dates: "01 Mar 2024 10:15:32", in local time with English month names.
const QString kDateFormat = QStringLiteral("dd MMM yyyy hh:mm:ss");

QLocale english_locale() {
    return QLocale(QLocale::English, QLocale::AnyCountry);
}

struct approval_slot_s {
    const char* level;
    QString pdfData_s::*id;
    QString pdfData_s::*name_hex;
    QString pdfData_s::*name;
    QString pdfData_s::*date;
};

const approval_slot_s approval_slots[3] = {
    {"user", &pdfData_s::L1_approval_id, &pdfData_s::L1_approval_name_hex,
     &pdfData_s::L1_approval_name, &pdfData_s::L1_approval_date},
    {"supervisor", &pdfData_s::L2_approval_id, &pdfData_s::L2_approval_name_hex,
     &pdfData_s::L2_approval_name, &pdfData_s::L2_approval_date},
    {"admin", &pdfData_s::L3_approval_id, &pdfData_s::L3_approval_name_hex,
     &pdfData_s::L3_approval_name, &pdfData_s::L3_approval_date},
};

QString display_date(const QString& date, const QString& now_text) {
    if (date.isEmpty())
        return now_text;
    bool seconds = false;
    const qlonglong since_epoch = date.toLongLong(&seconds, 10);
    // Qt counts in milliseconds and, once the local offset is added, would wrap around
    // beyond this, showing a wrong date; the signer's own text says more. A day covers
    // every offset.
    constexpr qlonglong kMaxSeconds = std::numeric_limits<qlonglong>::max() / 1000 - 86400;
    if (!seconds || since_epoch > kMaxSeconds || since_epoch < -kMaxSeconds)
        return date;
    const QDateTime when = QDateTime::fromSecsSinceEpoch(since_epoch);
    return when.isValid() ? english_locale().toString(when, kDateFormat) : date;
}

const char* utf8(const QString& text, QByteArray& keep) {
    keep = text.toUtf8();
    return keep.constData();
}

}  // namespace

QString Hex2String(const QString& hex) {
    return QString::fromUtf8(QByteArray::fromHex(hex.toLatin1()));
}

void fill_approval_slots(pdfData_s& record, const QStringList& slot_args, const QString& now_text) {
    for (int i = 0; i < 3; ++i) {
        const approval_slot_s& slot = approval_slots[i];
        const QString& id = slot_args.at(3 * i);
        if (id == QLatin1String("_"))
            continue;
        record.*slot.id = id;
        record.*slot.name_hex = slot_args.at(3 * i + 1);
        const QString& date = slot_args.at(3 * i + 2);
        record.*slot.date = id.isEmpty() ? date : display_date(date, now_text);
    }
    for (const approval_slot_s& slot : approval_slots) {
        const QString& hex = record.*slot.name_hex;
        record.*slot.name = hex == QLatin1String("_") ? hex : Hex2String(hex);
    }
}

void scan_results(const QString& report_path, QStringList& pdfList, QStringList& csvList) {
    QDirIterator dirs(report_path, QDir::Dirs | QDir::NoDotAndDotDot);
    while (dirs.hasNext()) {
        QDirIterator pdfs(dirs.next(), QStringList{QStringLiteral("*.pdf")}, QDir::Files);
        if (!pdfs.hasNext())
            continue;
        const QString pdf = pdfs.next();
        pdfList.append(pdf);
        csvList.append(QString(pdf).replace(QLatin1String(".pdf"), QLatin1String(".csv")));
    }
}

void read_result(const QString& csv_path) {
    const QByteArray path = QFile::encodeName(csv_path);
    char value[CSV_VALUE_SIZE];
    for (const csv_item_s* item = items; item->category != CSV_END_OF_ITEMS; ++item) {
        const int found = search_value_by_key(
            path.constData(), static_cast<csv_category_e>(item->category), item->key, value);
        if (found != 1) {
            printf("<sealprint> %s : search fail ! \n", item->key);
            continue;
        }
        if (value[0] == '\0') {
            printf("<sealprint> %s : null \n", item->key);
        } else {
            printf("<sealprint> %s : %s \n", item->key, value);
        }
        set_value_by_key(item->key, value);
    }
    // Lists of numbers read better with slashes on the page.
    for (QString* field :
         {&g_data.calibration_value, &g_data.calibration_setting, &g_data.pixel_shift}) {
        field->replace(QLatin1String(","), QLatin1String(" / "));
    }
}

int run_report_job(const QStringList& args) {
    job_values_s job;
    job.now_text = english_locale().toString(QDateTime::currentDateTime(), kDateFormat);
    job.login_id = args.at(0);
    job.level = args.at(2);
    job.report_path = args.at(3);
    fill_approval_slots(g_data, args.mid(4, 9), job.now_text);
    job.login_name = Hex2String(args.at(1));

    QByteArray a, b, c;
    printf("\n");
    printf("<sealprint> [login] id : %s, name : %s , level : %s \n", utf8(job.login_id, a),
           utf8(job.login_name, b), utf8(job.level, c));
    printf("\n");
    printf("<sealprint> PDF path : %s \n", QFile::encodeName(job.report_path).constData());
    printf("\n");
    for (const approval_slot_s& slot : approval_slots) {
        const QString& id = g_data.*slot.id;
        const QString& name = g_data.*slot.name;
        printf("<sealprint> [%s] approval id : %s(empty : %d), name : %s(empty : %d) \n",
               slot.level, utf8(id, a), id.isEmpty() ? 1 : 0, utf8(name, b),
               name.isEmpty() ? 1 : 0);
    }
    printf("\n");

    QStringList pdfList, csvList;
    scan_results(job.report_path, pdfList, csvList);
    if (pdfList.isEmpty()) {
        printf("[Error] <sealprint> pdfList.empty() ! \n");
        return -1;
    }

    for (int i = 0; i < pdfList.size(); ++i) {
        read_result(csvList.at(i));
        if (compose_report(job, csvList.at(i), pdfList.at(i)) < 0)
            return -1;
    }
    printf("~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~ \n");
    printf("Generate PDF succeed !!! \n");
    printf("~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~ \n");
    return 0;
}
