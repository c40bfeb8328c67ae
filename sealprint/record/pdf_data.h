// The one report record: every value a report page shows, as text.
#pragma once

#include <QString>
#include <QStringList>

struct pdfData_s {
    // Approval slots: 1 = "user" (Creator), 2 = "supervisor" (Reviewer), 3 = "admin" (Approver).
    QString L1_approval_id, L1_approval_name_hex, L1_approval_name, L1_approval_date;
    QString L2_approval_id, L2_approval_name_hex, L2_approval_name, L2_approval_date;
    QString L3_approval_id, L3_approval_name_hex, L3_approval_name, L3_approval_date;

    QString date;
    QString security;
    QString user;
    QString device_name;
    QString file_name;
    QString reanalysis;
    QString counting_mode;    // light mode, e.g. "Fluorescence cell counting"
    QString counting_method;  // e.g. "Total cell counting"
    QString serial_number;
    QString firmware_version;
    QString software_version;
    QString slide_type;
    QString counted_chamber_area;
    QString combine_result;  // "On", "Off" or empty; anything but "Off" fills the lists
    QString autofocusing_channel_in_fl;
    QString autofocused_counting;
    QString autofocus_offset;
    QString autofocus_upon_slide_insertion;
    QString last_calibration;
    QString calibration_value;
    QString calibration_setting;
    QString pixel_shift;
    QString protocol_name;
    QString min_search_size;
    QString max_search_size;
    QString min_cell_size;
    QString max_cell_size;
    QString cell_detection_sensitivity;
    QString live_cell_sensitivity;
    QString noise_reduction;
    QString dilution_factor;
    QString gf_exposure_level;
    QString rf_exposure_level;
    QString gf_threshold_level;
    QString rf_threshold_level;
    QString cell_size_calculation;
    QString declumping_sensitivity;
    QString min_fl_intensity;
    QString min_roundness;
    QString size_gating;      // trimmed; empty means no gating
    QString size_gating_min;  // digits of the lower bound in micrometres
    QString size_gating_max;  // digits of the upper bound in micrometres
    QString total_cell;
    QString live_cell;
    QString dead_cell;
    QString viability;
    QString avg_size;
    QString total_cell_number;
    QString live_cell_number;
    QString dead_cell_number;
    QStringList total_cell_list;
    QStringList live_cell_list;
    QStringList dead_cell_list;
    QStringList viability_list;
    QStringList avg_size_list;
    QStringList total_cell_number_list;
    QStringList live_cell_number_list;
    QStringList dead_cell_number_list;
    QString total_histogram;    // 91 comma-separated counts
    QString dead_histogram;     // 91
    QString live_histogram;     // 91
    QString cluster_histogram;  // 9
    QString volume_factor_1;
    QString volume_factor_2;
};

// Lives for the whole run and is never cleared: a key missing from one result keeps the
// previous result's value.
extern pdfData_s g_data;
