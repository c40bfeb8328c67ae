#include "seal_key.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "common/files.h"
#include "common/scratch.h"

namespace {

std::string hex(const digest_t& d) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : d) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

const char kKeyFile[] =
    "tessivane_log sealing key\nsetup 2\nstart 1700000000\ninterval 900\nperiod 7\n"
    "key 000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f\n";

TEST(SealKey, KeyFileReadsOnlyItsDocumentedForm) {
    seal_key_s key;
    ASSERT_TRUE(parse_key_file(kKeyFile, key));
    EXPECT_EQ(key.setup, 2);
    EXPECT_EQ(key.start, 1700000000);
    EXPECT_EQ(key.interval, 900);
    EXPECT_EQ(key.period, 7);
    EXPECT_EQ(key.key[31], 0x1f);
    EXPECT_EQ(format_key_file(key), kKeyFile);

    const std::string good = kKeyFile;
    auto with = [&good](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    for (const std::string& bad :
         {with("tessivane_log sealing key\n", ""), good + "extra\n",
          good.substr(0, good.size() - 1), with("interval 900", "interval 0"),
          with("setup 2", "setup 0"), with("period 7", "period -7"), with("period 7", "period 7x"),
          with("start 1700000000", "start "), with("1e1f\n", "1e\n"), with("1e1f\n", "1e1g\n"),
          with("setup 2\nstart", "start 2\nsetup"), with("key ", "key  ")}) {
        seal_key_s out;
        EXPECT_FALSE(parse_key_file(bad, out)) << bad;
    }
}

TEST(SealKey, VerificationKeyAcceptsWhatPeopleRetype) {
    verification_key_s key;
    for (size_t i = 0; i < key.seed.size(); ++i)
        key.seed[i] = static_cast<uint8_t>(0xa0 + i);
    key.start = 1700000000;
    key.interval = 60;
    const std::string text = format_verification_key(key);
    EXPECT_EQ(text, "a0a1a2a3-a4a5a6a7-a8a9aaab-acadaeaf/1700000000/60");

    for (const std::string& same :
         {text, std::string("A0A1A2A3-A4A5A6A7-A8A9AAAB-ACADAEAF/1700000000/60"),
          std::string("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf/1700000000/60")}) {
        verification_key_s read;
        ASSERT_TRUE(parse_verification_key(same, read)) << same;
        EXPECT_EQ(read.seed, key.seed);
        EXPECT_EQ(read.start, key.start);
        EXPECT_EQ(read.interval, key.interval);
    }
    for (const std::string& bad :
         {std::string(""), std::string("a0a1a2a3-a4a5a6a7-a8a9aaab-acadae/1700000000/60"),
          std::string("a0a1a2a3-a4a5a6a7-a8a9aaab-acadaeaf/1700000000"),
          std::string("a0a1a2a3-a4a5a6a7-a8a9aaab-acadaeaf/1700000000/0"),
          std::string("a0a1a2a3-a4a5a6a7-a8a9aaab-acadaeaf/-1/60"),
          std::string("a0a1a2a3-a4a5a6a7-a8a9aaab-acadaeaf/1700000000/60/1"),
          std::string("z0a1a2a3-a4a5a6a7-a8a9aaab-acadaeaf/1700000000/60")}) {
        verification_key_s read;
        EXPECT_FALSE(parse_verification_key(bad, read)) << bad;
    }
}

// The derivation is the documented one: anyone can recompute the keys from the verification key.
TEST(SealKey, PeriodsAndKeysFollowTheDocumentedDerivation) {
    EXPECT_EQ(period_of(995, 1000, 60), 0);
    EXPECT_EQ(period_of(1000, 1000, 60), 0);
    EXPECT_EQ(period_of(1059, 1000, 60), 0);
    EXPECT_EQ(period_of(1060, 1000, 60), 1);
    EXPECT_EQ(period_of(1000 + 60 * 1000000, 1000, 60), 1000000);

    sha256_s sha;
    const digest_t k0 = first_key(sha, seed_t{});
    EXPECT_EQ(hex(k0), "2cbe9493e73ed4a7c4dc92b6d1775cfd5ef76e3fc0f946345fb7e531534b791f");
    EXPECT_EQ(hex(next_key(sha, k0)),
              "ab8cb4015795e3fe44254b715a1a6aa5fcec3a05b625bf8f033a8727e11a1348");
    seal_key_s key;
    key.key = k0;
    ASSERT_TRUE(evolve_key(sha, key, 2));
    EXPECT_EQ(key.period, 2);
    EXPECT_EQ(key.key, next_key(sha, next_key(sha, k0)));
    ASSERT_TRUE(evolve_key(sha, key, 1));  // never back
    EXPECT_EQ(key.period, 2);
    EXPECT_TRUE(sha.ok());
}

TEST(SealKey, ReplacedKeyFileIsOwnerOnlyAndLeftoversGo) {
    scratch_dir_s dir("seal_key");
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("logs.sealkey");
    seal_key_s read;
    std::string why;
    EXPECT_FALSE(read_key_file(path, read, why));
    EXPECT_EQ(why, "missing");

    ASSERT_TRUE(write_file(dir.file(".logs.sealkey.tmp-AbC123"), "killed writer's key"));
    ASSERT_TRUE(write_file(path, "an older key file"));
    seal_key_s key;
    ASSERT_TRUE(parse_key_file(kKeyFile, key));
    ASSERT_TRUE(replace_key_file(path, key, why)) << why;
    EXPECT_EQ(read_file(path), kKeyFile);
    EXPECT_FALSE(file_exists(dir.file(".logs.sealkey.tmp-AbC123")));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_TRUE(read_key_file(path, read, why));
    EXPECT_EQ(read.period, 7);

    ASSERT_TRUE(write_file(path, "tessivane_log sealing key\n"));
    EXPECT_FALSE(read_key_file(path, read, why));
    EXPECT_EQ(why, "not a sealing key file");
}

}  // namespace
