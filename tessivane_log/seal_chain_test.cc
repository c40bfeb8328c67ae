#include "seal_chain.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "log_db.h"

namespace {

// The digest of "SELECT <rowid>, <values>" from an in-memory database.
digest_t digest_of(const std::string& values) {
    sqlite3* raw = nullptr;
    sqlite3_open(":memory:", &raw);
    const db_ptr db(raw);
    const stmt_ptr row = prepare_statement(db.get(), ("SELECT " + values).c_str());
    EXPECT_TRUE(row && sqlite3_step(row.get()) == SQLITE_ROW) << values;
    sha256_s sha;
    return row ? entry_digest(sha, row.get()) : digest_t{};
}

// No two different stored entries may digest alike: storage class, length and position of every
// value are part of what is hashed.
TEST(SealChain, EntriesThatDifferInAnyWayDigestApart) {
    const char* entries[] = {
        "1, 1000, 'ab', 'c', 'd', 'e'",       "1, 1000, 'a', 'bc', 'd', 'e'",
        "2, 1000, 'ab', 'c', 'd', 'e'",       "1, 1001, 'ab', 'c', 'd', 'e'",
        "1, '1000', 'ab', 'c', 'd', 'e'",     "1, 1000.0, 'ab', 'c', 'd', 'e'",
        "1, 1000, x'6162', 'c', 'd', 'e'",    "1, 1000, 'ab', 'c', 'd', ''",
        "1, 1000, 'ab', 'c', 'd', NULL",      "1, 1000, 'ab', 'c', 'd'",
        "1, 1000, 'ab', 'c', 'd', 'e', NULL", "1, 1000, 'ab', 'c', 'd', 'e' || char(0)",
    };
    std::set<digest_t> seen;
    for (const char* e : entries)
        EXPECT_TRUE(seen.insert(digest_of(e)).second) << e;
    EXPECT_EQ(digest_of(entries[0]), digest_of(entries[0]));
}

TEST(SealChain, ChainCoversEverySealField) {
    sha256_s sha;
    seal_s seal;
    seal.seq = 3;
    seal.log_rowid = 5;
    seal.setup = 1;
    seal.period = 9;
    const digest_t previous{};
    std::set<digest_t> seen = {chain_value(sha, previous, seal)};
    for (int field = 0; field < 6; ++field) {
        seal_s other = seal;
        digest_t other_previous = previous;
        switch (field) {
        case 0:
            other.seq++;
            break;
        case 1:
            other.log_rowid++;
            break;
        case 2:
            other.setup++;
            break;
        case 3:
            other.period++;
            break;
        case 4:
            other.digest[0] ^= 1;
            break;
        default:
            other_previous[31] ^= 1;
        }
        EXPECT_TRUE(seen.insert(chain_value(sha, other_previous, other)).second) << field;
    }
}

}  // namespace
