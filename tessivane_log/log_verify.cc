#include "log_verify.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "log_crypto.h"
#include "log_db.h"
#include "log_row.h"
#include "seal_chain.h"

namespace {

// A set-up of the log with, when the verifier was given it, the key walking its periods.
struct setup_check_s {
    setup_s setup;
    bool has_key = false;
    seal_key_s key;  // period by period as the seals go forward
    bool any_mac_ok = false;
};

entry_ref_s ref_of_row(sqlite3_stmt* row) {
    entry_ref_s ref;
    ref.rowid = sqlite3_column_int64(row, 0);
    ref.has_date = sqlite3_column_count(row) > 1 && sqlite3_column_type(row, 1) == SQLITE_INTEGER;
    ref.date = ref.has_date ? sqlite3_column_int64(row, 1) : 0;
    return ref;
}

std::string describe(const entry_ref_s& ref) {
    std::string text = "row " + std::to_string(ref.rowid);
    if (ref.has_date)
        text += ", " + format_utc_time(stored_date_seconds(ref.date));
    return text;
}

std::string join(const std::vector<int64_t>& numbers) {
    std::string text;
    for (size_t i = 0; i < numbers.size(); ++i)
        text += (i == 0                    ? ""
                 : i + 1 == numbers.size() ? " and "
                                           : ", ") +
                std::to_string(numbers[i]);
    return text;
}

class walker_s {
public:
    walker_s(std::map<int64_t, setup_check_s>& setups, verify_report_s& report)
        : setups_(setups), report_(report) {}

    bool crypto_ok() const { return sha_.ok() && hmac_.ok(); }

    // Judges seal against the row it names (null when that row is gone). Returns the status;
    // the first wrong one is recorded in the report.
    entry_status_e check(const seal_s& seal, sqlite3_stmt* row) {
        if (report_.fault)
            return entry_status_e::not_checked;
        std::string detail;
        const entry_status_e status = judge(seal, row, detail);
        if (status != entry_status_e::sealed) {
            report_.fault = true;
            report_.fault_kind = status;
            report_.fault_detail = detail;
            if (row) {
                report_.fault_entry = ref_of_row(row);
            } else {
                report_.fault_entry.rowid = seal.log_rowid;
                report_.fault_entry.has_date = false;
            }
        }
        return status;
    }

    int64_t last_date_sealed() const { return last_date_; }
    bool any_date_sealed() const { return any_date_; }

private:
    entry_status_e judge(const seal_s& seal, sqlite3_stmt* row, std::string& detail) {
        const std::string number = " (seal " + std::to_string(seal.seq) + ")";
        if (seal.seq != expected_seq_) {
            detail = "seals " + std::to_string(expected_seq_) + " to " +
                     std::to_string(seal.seq - 1) + " are gone with the entries they sealed";
            return entry_status_e::missing_before;
        }
        const auto found = setups_.find(seal.setup);
        if (found == setups_.end()) {
            detail = "sealed under setup " + std::to_string(seal.setup) +
                     ", which the log does not record" + number;
            return entry_status_e::out_of_order;
        }
        setup_check_s& setup = found->second;
        if (seal.setup < setup_ || (seal.setup == setup_ && seal.period < period_) ||
            (seal.setup > setup_ && seal.seq != setup.setup.first_seq) ||
            (seq_ > 0 && seal.log_rowid <= rowid_)) {
            detail = "its seal goes back behind the seal before it" + number;
            return entry_status_e::out_of_order;
        }
        if (!digests_equal(chain_value(sha_, chain_, seal), seal.chain)) {
            detail =
                "its seal does not follow from the seal before it (a seal was altered, or "
                "removed and the rest renumbered)" +
                number;
            return entry_status_e::changed;
        }
        if (!row) {
            detail =
                "the entry with row id " + std::to_string(seal.log_rowid) + number + " was deleted";
            return entry_status_e::missing_before;
        }
        if (!digests_equal(entry_digest(sha_, row), seal.digest)) {
            detail = "its values differ from those it was sealed with" + number;
            return entry_status_e::changed;
        }
        const entry_ref_s ref = ref_of_row(row);
        const bool by_setup_keys = seal.seq < setup.setup.first_seq + setup.setup.setup_seals;
        if (by_setup_keys && seal.period != 0) {
            detail = "sealed by setup-keys, but not in its first period" + number;
            return entry_status_e::out_of_order;
        }
        if (!by_setup_keys && ref.has_date) {
            const int64_t dated = period_of(ref.date, setup.setup.start, setup.setup.interval);
            if (dated > seal.period) {
                detail = "dated after the period it was sealed in" + number;
                return entry_status_e::out_of_order;
            }
            if (dated < seal.period) {
                detail =
                    "sealed in a later period than its date (sealed again later, or the "
                    "clock was set back when it was appended)" +
                    number;
                return entry_status_e::out_of_order;
            }
        }
        if (setup.has_key) {
            if (setup.key.period != seal.period) {
                evolve_key(sha_, setup.key, seal.period);
                hmac_.set_key(setup.key.key);
            } else if (!keyed_ || keyed_setup_ != seal.setup) {
                hmac_.set_key(setup.key.key);
            }
            keyed_ = true;
            keyed_setup_ = seal.setup;
            if (!digests_equal(hmac_.mac(seal.chain.data(), seal.chain.size()), seal.mac)) {
                detail = "its MAC does not check with the key of period " +
                         std::to_string(seal.period) + " that the verification key gives" + number;
                if (!setup.any_mac_ok)
                    detail += "; no seal of setup " + std::to_string(seal.setup) +
                              " before it checks: is it this log's verification key?";
                return entry_status_e::wrong_key;
            }
            setup.any_mac_ok = true;
        }
        expected_seq_ = seal.seq + 1;
        seq_ = seal.seq;
        setup_ = seal.setup;
        period_ = seal.period;
        rowid_ = seal.log_rowid;
        chain_ = seal.chain;
        if (ref.has_date) {
            last_date_ = ref.date;
            any_date_ = true;
        }
        return entry_status_e::sealed;
    }

    std::map<int64_t, setup_check_s>& setups_;
    verify_report_s& report_;
    sha256_s sha_;
    hmac_sha256_s hmac_;
    bool keyed_ = false;
    int64_t keyed_setup_ = 0;
    int64_t expected_seq_ = 1, seq_ = 0, setup_ = 0, period_ = 0, rowid_ = 0;
    digest_t chain_{};
    int64_t last_date_ = 0;
    bool any_date_ = false;
};

// The seal that is the current row of seals.
seal_s seal_of_row(sqlite3_stmt* seals) {
    seal_s seal;
    seal.seq = sqlite3_column_int64(seals, 0);
    seal.log_rowid = sqlite3_column_int64(seals, 1);
    seal.setup = sqlite3_column_int64(seals, 2);
    seal.period = sqlite3_column_int64(seals, 3);
    // A seal whose values are not 32-byte blobs keeps zeros, which match nothing computed.
    read_digest_column(seals, 4, seal.digest);
    read_digest_column(seals, 5, seal.chain);
    read_digest_column(seals, 6, seal.mac);
    return seal;
}

// The log's set-ups, each with its key when keys hold one for it (matched by start and
// period). False with why set when there is none, a key matches none, or the table cannot be read.
bool load_setups(sqlite3* db, const std::vector<verification_key_s>& keys,
                 std::map<int64_t, setup_check_s>& setups, std::string& why) {
    const stmt_ptr stmt = prepare_statement(
        db, "SELECT setup, start, interval, first_seq, setup_seals FROM seal_setup");
    int rc = stmt ? SQLITE_ROW : SQLITE_ERROR;
    while (stmt && (rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        setup_check_s check;
        check.setup = {sqlite3_column_int64(stmt.get(), 0), sqlite3_column_int64(stmt.get(), 1),
                       sqlite3_column_int64(stmt.get(), 2), sqlite3_column_int64(stmt.get(), 3),
                       sqlite3_column_int64(stmt.get(), 4)};
        setups[check.setup.setup] = check;
    }
    if (rc != SQLITE_DONE) {
        why = sqlite3_errmsg(db);
        return false;
    }
    if (setups.empty()) {
        why = "the log is not sealed (tessivane_log setup-keys sets sealing up)";
        return false;
    }
    sha256_s sha;
    for (const verification_key_s& key : keys) {
        auto match = std::find_if(setups.begin(), setups.end(), [&key](const auto& s) {
            return s.second.setup.start == key.start && s.second.setup.interval == key.interval;
        });
        if (match == setups.end()) {
            why =
                "the verification key belongs to no setup of this log (no setup-keys "
                "started at " +
                format_utc_time(key.start) + " with a period of " + std::to_string(key.interval) +
                " s)";
            return false;
        }
        setup_check_s& check = match->second;
        check.has_key = true;
        check.key.setup = check.setup.setup;
        check.key.start = key.start;
        check.key.interval = key.interval;
        check.key.period = 0;
        check.key.key = first_key(sha, key.seed);
    }
    if (!sha.ok())
        why = "the keys could not be computed (OpenSSL failed)";
    return sha.ok();
}

}  // namespace

const char* status_name(entry_status_e status) {
    switch (status) {
    case entry_status_e::sealed:
        return "sealed";
    case entry_status_e::unsealed:
        return "unsealed";
    case entry_status_e::inserted:
        return "inserted";
    case entry_status_e::changed:
        return "changed";
    case entry_status_e::missing_before:
        return "missing before it";
    case entry_status_e::out_of_order:
        return "out of order";
    case entry_status_e::wrong_key:
        return "wrong key";
    case entry_status_e::not_checked:
        break;
    }
    return "not checked";
}

verify_e verify_log(log_db_s& log, const std::vector<verification_key_s>& keys,
                    verify_report_s& report, std::string& why, const entry_visitor& visit,
                    int64_t slice_ms) {
    sqlite3* db = log.db.get();
    report = {};
    if (!log_is_sealed(db)) {
        why = "the log is not sealed (tessivane_log setup-keys sets sealing up)";
        return verify_e::cannot_check;
    }
    // The set-ups and both ends of the walk in one read, so they are of one state of the log.
    if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
        why = sqlite3_errmsg(db);
        return verify_e::cannot_check;
    }
    std::map<int64_t, setup_check_s> setups;
    const bool loaded = load_setups(db, keys, setups, why);
    key_range_reader_s rows(db, kEntriesInRangeSql, kLastEntrySql);
    key_range_reader_s seals(db,
                             "SELECT seq, log_rowid, setup, period, digest, chain, mac FROM seals "
                             "WHERE seq BETWEEN ?1 AND ?2 ORDER BY seq",
                             "SELECT max(seq) FROM seals");
    if (loaded && (!rows.ok() || !seals.ok()))
        why = sqlite3_errmsg(db);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (!loaded || !rows.ok() || !seals.ok())
        return verify_e::cannot_check;
    for (const auto& s : setups)
        (s.second.has_key ? report.setups_with_key : report.setups_without_key).push_back(s.first);

    walker_s walker(setups, report);
    read_slice_s slice(log, slice_ms);
    seal_s seal;
    bool have_seal = false, have_row = false;
    // The first fault was a seal whose entry is gone: it is named at the entry after it, or
    // at the end of the log when none follows.
    bool fault_at_deleted = false;
    int64_t seal_count = 0;
    int rc = SQLITE_DONE;
    for (;;) {
        if (slice.over()) {
            rows.pause(have_row);  // the row not yet judged is read again
            seals.pause();         // the seal ahead is kept
            have_row = false;
            if (visit)
                visit(nullptr, entry_status_e::not_checked);
            slice.next();
        }
        if (!have_row) {
            rc = rows.step();
            have_row = rc == SQLITE_ROW;
            if (!have_row && rc != SQLITE_DONE)
                break;
        }
        if (!have_seal) {
            rc = seals.step();
            have_seal = rc == SQLITE_ROW;
            if (have_seal)
                seal = seal_of_row(seals.row());
            else if (rc != SQLITE_DONE)
                break;
        }
        sqlite3_stmt* row = rows.row();
        if (have_seal && (!have_row || seal.log_rowid < sqlite3_column_int64(row, 0))) {
            // A seal whose entry is gone.
            const bool fault_before = report.fault;
            ++seal_count;
            walker.check(seal, nullptr);
            have_seal = false;
            fault_at_deleted = fault_at_deleted || (!fault_before && report.fault);
            continue;
        }
        if (!have_row)
            break;
        have_row = false;
        const entry_ref_s ref = ref_of_row(row);
        ++report.entries;
        const bool deleted_before = fault_at_deleted;
        if (deleted_before) {
            report.fault_entry = ref;
            fault_at_deleted = false;
        }
        entry_status_e status;
        if (have_seal && seal.log_rowid == ref.rowid) {
            ++seal_count;
            status = walker.check(seal, row);
            have_seal = false;
        } else {
            status =
                walker.any_date_sealed() && ref.has_date && ref.date < walker.last_date_sealed()
                    ? entry_status_e::inserted
                    : entry_status_e::unsealed;
            ++report.unsealed;
            if (!report.any_unsealed) {
                report.any_unsealed = true;
                report.unsealed_kind = status;
                report.first_unsealed = ref;
            }
        }
        if (deleted_before && status == entry_status_e::not_checked)
            status = entry_status_e::missing_before;
        if (status == entry_status_e::sealed) {
            ++report.sealed;
            if (!report.any_sealed)
                report.first_sealed = ref;
            report.any_sealed = true;
            report.last_sealed = ref;
        }
        if (visit)
            visit(row, status);
    }
    report.fault_at_end = fault_at_deleted;
    if (rc != SQLITE_DONE) {
        why = sqlite3_errmsg(db);
        return verify_e::cannot_check;
    }
    if (!walker.crypto_ok()) {
        why = "the seals could not be computed (OpenSSL failed)";
        return verify_e::cannot_check;
    }
    if (seal_count == 0 && report.entries == 0) {
        why = "the log holds no entry and no seal yet";
        return verify_e::cannot_check;
    }
    return report.fault || report.any_unsealed ? verify_e::fail : verify_e::pass;
}

std::string format_report(const verify_report_s& r, bool passed) {
    std::string text = "entries: " + std::to_string(r.entries) + " (" + std::to_string(r.sealed) +
                       " sealed, " + std::to_string(r.unsealed) + " unsealed)\n";
    if (r.any_sealed)
        text +=
            "sealed: from " + describe(r.first_sealed) + " to " + describe(r.last_sealed) + "\n";
    else
        text += "sealed: none\n";
    text += "checked: the chain";
    if (!r.setups_with_key.empty())
        text += " and the MACs of setup " + join(r.setups_with_key);
    if (!r.setups_without_key.empty()) {
        text += r.setups_with_key.empty()
                    ? " only (no --key: the MACs are not checked)"
                    : "; setup " + join(r.setups_without_key) + " without its key: chain only";
    }
    text += "\n";
    if (r.fault) {
        text += "first wrong entry: " + describe(r.fault_entry) + ": " +
                (r.fault_at_end ? "missing at the end of the log" : status_name(r.fault_kind)) +
                ": " + r.fault_detail + "\n";
    }
    if (r.any_unsealed) {
        text += "first unsealed entry: " + describe(r.first_unsealed) + ": " +
                status_name(r.unsealed_kind) +
                (r.unsealed_kind == entry_status_e::inserted
                     ? ": it has no seal and is dated before the sealed entry before it"
                     : ": it has no seal") +
                " (" + std::to_string(r.unsealed) + (r.unsealed == 1 ? " entry" : " entries") +
                " without a seal)\n";
    }
    text += passed ? "PASS\n" : "FAIL\n";
    return text;
}
