#include "record/record_decoder.h"

#include <QRegularExpression>
#include <QStringList>
#include <cstring>

namespace {

// Keys whose value is stored unchanged.
struct plain_key_s {
    const char* key;
    QString pdfData_s::*field;
};

const plain_key_s plain_keys[] = {
    {"Date", &pdfData_s::date},
    {"Security", &pdfData_s::security},
    {"User", &pdfData_s::user},
    {"Device name", &pdfData_s::device_name},
    {"Instrument name", &pdfData_s::device_name},
    {"File name", &pdfData_s::file_name},
    {"Serial number", &pdfData_s::serial_number},
    {"Firmware version", &pdfData_s::firmware_version},
    {"Software version", &pdfData_s::software_version},
    {"Slide type", &pdfData_s::slide_type},
    {"Counted chamber area", &pdfData_s::counted_chamber_area},
    {"Combine result", &pdfData_s::combine_result},
    {"Autofocusing channel in FL", &pdfData_s::autofocusing_channel_in_fl},
    {"Autofocused counting", &pdfData_s::autofocused_counting},
    {"Autofocus offset", &pdfData_s::autofocus_offset},
    {"Autofocus upon slide insertion", &pdfData_s::autofocus_upon_slide_insertion},
    {"Last calibration", &pdfData_s::last_calibration},
    {"Calibration setting", &pdfData_s::calibration_setting},
    {"Calibration value", &pdfData_s::calibration_value},
    {"Pixel shift", &pdfData_s::pixel_shift},
    {"Protocol name", &pdfData_s::protocol_name},
    {"Min. search size", &pdfData_s::min_search_size},
    {"Max. search size", &pdfData_s::max_search_size},
    {"Min. cell size", &pdfData_s::min_cell_size},
    {"Max. cell size", &pdfData_s::max_cell_size},
    {"Cell detection sensitivity", &pdfData_s::cell_detection_sensitivity},
    {"Live cell sensitivity", &pdfData_s::live_cell_sensitivity},
    {"Noise reduction", &pdfData_s::noise_reduction},
    {"Dilution factor", &pdfData_s::dilution_factor},
    {"GF exposure level", &pdfData_s::gf_exposure_level},
    {"RF exposure level", &pdfData_s::rf_exposure_level},
    {"GF threshold level", &pdfData_s::gf_threshold_level},
    {"RF threshold level", &pdfData_s::rf_threshold_level},
    {"Cell size calculation", &pdfData_s::cell_size_calculation},
    {"Declumping sensitivity", &pdfData_s::declumping_sensitivity},
    {"Min. FL intensity", &pdfData_s::min_fl_intensity},
    {"Min. roundness", &pdfData_s::min_roundness},
    {"Total Histogram", &pdfData_s::total_histogram},
    {"Dead Histogram", &pdfData_s::dead_histogram},
    {"Live Histogram", &pdfData_s::live_histogram},
    {"Cluster Histogram", &pdfData_s::cluster_histogram},
};

// Result values: with "Combine result" other than "Off" each holds mean, SD and CV, and its
// list gets the parts. `units` are removed in order, in both forms when `always_strip`.
struct result_key_s {
    const char* key;
    QString pdfData_s::*field;
    QStringList pdfData_s::*list;
    const char* units[2];
    bool always_strip;
};

const result_key_s result_keys[] = {
    {"[Total cell]",
     &pdfData_s::total_cell,
     &pdfData_s::total_cell_list,
     {" cells/mL", " %"},
     true},
    {"[Live cell]", &pdfData_s::live_cell, &pdfData_s::live_cell_list, {" cells/mL", " %"}, true},
    {"[Dead cell]", &pdfData_s::dead_cell, &pdfData_s::dead_cell_list, {" cells/mL", " %"}, true},
    {"Viability", &pdfData_s::viability, &pdfData_s::viability_list, {" %", nullptr}, false},
    {"Avg. size", &pdfData_s::avg_size, &pdfData_s::avg_size_list, {" um", " %"}, false},
    {"Total cell number",
     &pdfData_s::total_cell_number,
     &pdfData_s::total_cell_number_list,
     {" %", nullptr},
     false},
    {"Live cell number",
     &pdfData_s::live_cell_number,
     &pdfData_s::live_cell_number_list,
     {" %", nullptr},
     false},
    {"Dead cell number",
     &pdfData_s::dead_cell_number,
     &pdfData_s::dead_cell_number_list,
     {" %", nullptr},
     false},
};

void store_result(pdfData_s& record, const result_key_s& rk, QString value) {
    if (record.combine_result == QLatin1String("Off")) {
        // The plain form keeps its unit, except the concentrations, which the page labels itself.
        if (rk.always_strip)
            value.remove(QLatin1String(rk.units[0]));
        record.*rk.field = value;
        return;
    }
    for (const char* unit : rk.units) {
        if (unit)
            value.remove(QLatin1String(unit));
    }
    record.*rk.field = value;
    record.*rk.list = value.split(QLatin1Char(','), Qt::KeepEmptyParts);
}

}  // namespace

bool size_gating_parser(pdfData_s& record, const QString& text) {
    record.size_gating = text.trimmed();
    if (record.size_gating.isEmpty())
        return true;
    static const QRegularExpression size_gating_re(
        QStringLiteral("^ ?(?<min>\\d+)[ x~\u2264<]+(?<max>\\d+)[ um\u03bc]+$"));
    const QRegularExpressionMatch m = size_gating_re.match(record.size_gating);
    if (!m.hasMatch())
        return false;
    record.size_gating_min = m.captured(QStringLiteral("min"));
    record.size_gating_max = m.captured(QStringLiteral("max"));
    return true;
}

int set_value_by_key(pdfData_s& record, const char* key, const char* value) {
    const QString text = QString::fromUtf8(value);
    for (const plain_key_s& pk : plain_keys) {
        if (strcmp(key, pk.key) == 0) {
            record.*pk.field = text;
            return 0;
        }
    }
    for (const result_key_s& rk : result_keys) {
        if (strcmp(key, rk.key) == 0) {
            store_result(record, rk, text);
            return 0;
        }
    }
    if (strcmp(key, "Reanalysis") == 0) {
        // "Yes,2024-03-01 10:00" reads "Yes, 2024-03-01 10:00" on the page.
        record.reanalysis = text;
        record.reanalysis.insert(record.reanalysis.indexOf(QLatin1Char(',')) + 1, QLatin1Char(' '));
        return 0;
    }
    if (strcmp(key, "Counting mode") == 0) {
        // A value without its method part leaves the method empty rather than stale.
        const QStringList parts = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
        record.counting_mode = parts.value(0);
        record.counting_method = parts.value(1);
        return 0;
    }
    if (strcmp(key, "Size gating") == 0) {
        size_gating_parser(record, text);
        return 0;
    }
    if (strcmp(key, "-") == 0) {
        const QStringList parts = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (parts.size() >= 2) {
            record.volume_factor_1 = parts[0];
            record.volume_factor_2 = parts[1];
        }
        return 0;
    }
    return -1;
}

int set_value_by_key(const char* key, const char* value) {
    return set_value_by_key(g_data, key, value);
}
