// verify: walks the log in row-id order beside its seals and judges every entry.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "log_db.h"
#include "seal_key.h"

// How an entry stands. Entries without a seal are counted and named but do not end the check;
// after the first wrong seal nothing that follows is vouched for.
enum class entry_status_e {
    sealed,          // its seal checks
    unsealed,        // no seal (inserted without the tool, or appended without a usable key)
    inserted,        // no seal, and dated before the sealed entry before it
    changed,         // its values or its seal differ from what was sealed
    missing_before,  // a sealed entry before it was deleted
    out_of_order,    // its seal goes back (sequence, row id, set-up or period) or fits no date
    wrong_key,       // its MAC does not check with the key the verification key gives
    not_checked,     // comes after the first wrong entry
};

// "sealed", "unsealed", "inserted", "changed", "missing before it", "out of order",
// "wrong key", "not checked"
const char* status_name(entry_status_e status);

struct entry_ref_s {
    int64_t rowid = 0;
    bool has_date = false;  // false for a deleted entry (only its seal is left) or a date that
    int64_t date = 0;       // is not an integer
};

struct verify_report_s {
    int64_t entries = 0;  // rows of logs
    int64_t sealed = 0;   // of them with a seal that checks
    int64_t unsealed = 0;
    bool any_sealed = false;
    entry_ref_s first_sealed, last_sealed;
    bool any_unsealed = false;
    entry_status_e unsealed_kind = entry_status_e::unsealed;
    entry_ref_s first_unsealed;
    bool fault = false;
    entry_status_e fault_kind = entry_status_e::changed;
    entry_ref_s fault_entry;    // the entry after a deleted one; the deleted one when it was last
    bool fault_at_end = false;  // the last sealed entries are gone (not merely cut with seals)
    std::string fault_detail;
    std::vector<int64_t> setups_with_key, setups_without_key;
};

enum class verify_e { pass, fail, cannot_check };

// Called for every row of logs in row-id order with its status; row's column 0 is the row id,
// the further columns the entry's values. Called with a null row between two slices of the walk,
// when the log is not locked: the moment for slow work, such as writing out what was gathered.
using entry_visitor = std::function<void(sqlite3_stmt* row, entry_status_e status)>;

// Checks the chain of every seal and, for every set-up whose verification key is among keys,
// every MAC. cannot_check (why set) when the log was never sealed, holds neither seals nor
// entries, a key belongs to no set-up of the log, or a statement fails; fail when any entry is
// not sealed or a seal is wrong; pass otherwise.
// The walk reads in slices (read_slice_s), so appends go on while it runs. It ends at the last
// entry and the last seal there were when it started: an append stores its entry and its seal
// together, so what comes during the walk is left out whole, for the next verify. slice_ms is
// the length of a slice.
verify_e verify_log(log_db_s& log, const std::vector<verification_key_s>& keys,
                    verify_report_s& report, std::string& why, const entry_visitor& visit = {},
                    int64_t slice_ms = kReadSliceMs);

// The report verify prints: counts, the sealed range, what was checked, the first wrong and the
// first unsealed entry, and "PASS" or "FAIL" on the last line.
std::string format_report(const verify_report_s& report, bool passed);
