// Runs the built tessivane_merge_protocol_json on protocol files written by hand.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/files.h"
#include "common/process.h"

namespace {

namespace fs = std::filesystem;

const std::string kUsage = "Usage: tessivane_merge_protocol_json <default_json> <target_json>\n";

class MergeTool : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::string(SCRATCH_DIR) + "/" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(fresh_dir(dir_));
        src_ = dir_ + "/default.json";
        target_ = dir_ + "/target.json";
    }

    run_result_s merge(const std::string& src, const std::string& target) {
        return run_program({MERGE_TOOL, src, target});
    }

    long files() const {
        return std::distance(fs::directory_iterator(dir_), fs::directory_iterator());
    }

    // Runs a merge that must fail and checks that the target kept its bytes and no file was left.
    void expect_rejected(int status, const std::string& message) {
        const auto contents = [this] {
            return fs::is_directory(target_) ? "" : read_file(target_);
        };
        const std::string before = contents();
        const long files_before = files();
        const run_result_s r = merge(src_, target_);
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.err, message);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(contents(), before);
        EXPECT_EQ(files(), files_before);
    }

    std::string dir_, src_, target_;
};

TEST_F(MergeTool, VersionAndUsage) {
    run_result_s r = run_program({MERGE_TOOL, "version", "extra", "words"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "tessivane_merge_protocol_json version: 1.3.5\n");

    const std::string renamed = dir_ + "/merge_json";
    fs::create_symlink(MERGE_TOOL, renamed);
    EXPECT_EQ(run_program({renamed, "version"}).out, "merge_json version: 1.3.5\n");

    for (const auto& args : {std::vector<std::string>{MERGE_TOOL},
                             std::vector<std::string>{MERGE_TOOL, "only_one.json"}}) {
        r = run_program(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, kUsage);
    }
}

TEST_F(MergeTool, CreatesMissingTargetPrettyWithoutTrailingNewline) {
    ASSERT_TRUE(write_file(src_, R"({"M":{"P":{"int":-7,"real":0.1,"big":1e300,"neg0":-0.0,)"
                                 R"("t":true,"n":null,"s":"a\"b\\c\/\u00e9\t\u0001","e":{},)"
                                 R"("ea":[],"nested":[{"x":[]}],"u":18446744073709551615}}})"));
    const mode_t old_mask = umask(027);
    const run_result_s r = merge(src_, target_);
    umask(old_mask);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(read_file(target_),
              "{\n"
              "    \"M\": {\n"
              "        \"P\": {\n"
              "            \"int\": -7,\n"
              "            \"real\": 0.1,\n"
              "            \"big\": 1e300,\n"
              "            \"neg0\": -0.0,\n"
              "            \"t\": true,\n"
              "            \"n\": null,\n"
              "            \"s\": \"a\\\"b\\\\c/\xc3\xa9\\t\\u0001\",\n"
              "            \"e\": {},\n"
              "            \"ea\": [],\n"
              "            \"nested\": [\n"
              "                {\n"
              "                    \"x\": []\n"
              "                }\n"
              "            ],\n"
              "            \"u\": 18446744073709551615\n"
              "        }\n"
              "    }\n"
              "}");
    struct stat st {};
    ASSERT_EQ(stat(target_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(MergeTool, AddsWhatTheTargetLacksAndKeepsTheRest) {
    ASSERT_TRUE(write_file(src_, R"({"CellCount": {"Standard": {"dilution": 1, "maxSize": 60.0,)"
                                 R"( "gates": [1, 2]}, "Viability": {"stain": "trypan"}},)"
                                 R"( "Fluorescence": {"Basic": {"channels": 2}}})"));
    ASSERT_TRUE(write_file(target_, R"({"CellCount":{"Standard":{"dilution":"2","minSize":3.5}},)"
                                    R"("Local":{"mine":{"k":true}}})"));
    ASSERT_EQ(chmod(target_.c_str(), 0604), 0);
    const run_result_s r = merge(src_, target_);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(read_file(target_), R"({
    "CellCount": {
        "Standard": {
            "dilution": "2",
            "minSize": 3.5,
            "maxSize": 60.0,
            "gates": [
                1,
                2
            ]
        },
        "Viability": {
            "stain": "trypan"
        }
    },
    "Local": {
        "mine": {
            "k": true
        }
    },
    "Fluorescence": {
        "Basic": {
            "channels": 2
        }
    }
})");
    struct stat st {};
    ASSERT_EQ(stat(target_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(files(), 2);
}

TEST_F(MergeTool, TargetWithEverythingIsNotRewritten) {
    ASSERT_TRUE(write_file(src_, R"({"A":{"p":{"x":1,"y":[1,2]}}})"));
    ASSERT_TRUE(write_file(target_, R"({ "A": { "p": { "y": [], "x": 5, "own": 0 } } })"));
    const timeval old_times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimes(target_.c_str(), old_times), 0);
    struct stat before {
    }, after{};
    ASSERT_EQ(stat(target_.c_str(), &before), 0);
    const run_result_s r = merge(src_, target_);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(target_), R"({ "A": { "p": { "y": [], "x": 5, "own": 0 } } })");
    ASSERT_EQ(stat(target_.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtime, 1000000000);
}

TEST_F(MergeTool, LinkedTargetStaysALink) {
    ASSERT_TRUE(write_file(src_, R"({"A":{"p":{"x":1}}})"));
    const std::string real = dir_ + "/real.json";
    ASSERT_TRUE(write_file(real, R"({"A":{}})"));
    fs::create_symlink("real.json", target_);
    EXPECT_EQ(merge(src_, target_).status, 0);
    EXPECT_TRUE(fs::is_symlink(target_));
    EXPECT_EQ(read_file(real),
              "{\n    \"A\": {\n        \"p\": {\n            \"x\": 1\n        }\n    }\n}");
}

TEST_F(MergeTool, UnopenableFilesAreReportedAndNothingIsWritten) {
    ASSERT_TRUE(write_file(target_, R"({"A":{}})"));
    expect_rejected(2, "Cannot open source json: " + src_ + "\n");
    fs::create_directory(src_);
    expect_rejected(2, "Cannot open source json: " + src_ + "\n");
    fs::remove(src_);

    ASSERT_TRUE(write_file(src_, R"({"A":{"p":{}}})"));
    fs::remove(target_);
    fs::create_directory(target_);
    expect_rejected(2, "Cannot open target json: " + target_ + ": Is a directory\n");
    EXPECT_TRUE(fs::is_empty(target_));

    const std::string nowhere = dir_ + "/missing/target.json";
    const run_result_s r = merge(src_, nowhere);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Cannot write target json: " + nowhere + ": No such file or directory\n");
}

TEST_F(MergeTool, InvalidJsonLeavesTargetUntouched) {
    ASSERT_TRUE(write_file(src_, R"({"A":{"p":{"x":1}}})"));
    ASSERT_TRUE(write_file(target_, R"({"A": {"p": {"y": 1,}}})"));
    expect_rejected(
        3, "Invalid JSON in " + target_ + " at offset 20: Missing a name for object member.\n");
    ASSERT_TRUE(write_file(target_, "{} {}"));
    expect_rejected(3,
                    "Invalid JSON in " + target_ +
                        " at offset 3: The document root must not be followed by other values.\n");

    ASSERT_TRUE(write_file(target_, R"({"A":{}})"));
    ASSERT_TRUE(write_file(src_, "// comment\n{}"));
    expect_rejected(3, "Invalid JSON in " + src_ + " at offset 0: Invalid value.\n");
    ASSERT_TRUE(write_file(src_, ""));
    expect_rejected(3, "Invalid JSON in " + src_ + " at offset 0: The document is empty.\n");
    // Far deeper than any protocol; copying or writing it must not exhaust the stack.
    ASSERT_TRUE(write_file(src_, R"({"A":{"p":{"deep":)" + std::string(200000, '[') +
                                     std::string(200000, ']') + "}}}"));
    expect_rejected(3, "Invalid JSON in " + src_ + ": nested deeper than 1000 levels\n");
}

TEST_F(MergeTool, WrongShapeIsRejected) {
    ASSERT_TRUE(write_file(src_, R"({"A":{"p":{"x":1}}})"));
    ASSERT_TRUE(write_file(target_, R"([{"A":{}}])"));
    expect_rejected(3, "Invalid protocol JSON in " + target_ + ": the root is not an object\n");
    ASSERT_TRUE(write_file(target_, R"({"A":{"p":"off"}})"));
    expect_rejected(3, "Invalid protocol JSON in " + target_ +
                           R"(: member "A" > "p" is not an object)"
                           "\n");

    ASSERT_TRUE(write_file(target_, R"({"A":{"p":{}}, "B":{}})"));
    ASSERT_TRUE(write_file(src_, R"({"C":{"q":{}}, "B":[]})"));
    expect_rejected(3, "Invalid protocol JSON in " + src_ +
                           R"(: member "B" is not an object)"
                           "\n");
    ASSERT_TRUE(write_file(src_, "42"));
    expect_rejected(3, "Invalid protocol JSON in " + src_ + ": the root is not an object\n");
}

// Every run that reports success has its additions in the final file, however the runs overlap.
TEST_F(MergeTool, ConcurrentMergesIntoOneTargetKeepEveryAddition) {
    constexpr int kRuns = 8;
    // Big enough that reading, merging and writing overlap between the runs.
    std::string filler;
    for (int i = 0; i < 3000; ++i)
        filler += ",\"f" + std::to_string(i) + "\":" + std::to_string(i);
    for (int run = 0; run < kRuns; ++run) {
        ASSERT_TRUE(write_file(dir_ + "/default" + std::to_string(run) + ".json",
                               R"({"M":{"shared":{"x":1)" + filler + R"(},"p)" +
                                   std::to_string(run) + R"(":{"v":)" + std::to_string(run) +
                                   "}}}"));
    }
    for (int round = 0; round < 4; ++round) {
        ASSERT_TRUE(write_file(target_, R"({"M":{}})"));
        std::vector<run_result_s> results(kRuns);
        std::vector<std::thread> runs;
        for (int run = 0; run < kRuns; ++run) {
            runs.emplace_back([&, run] {
                run_options_s opt;
                opt.timeout_s = 30;
                results[run] = run_program(
                    {MERGE_TOOL, dir_ + "/default" + std::to_string(run) + ".json", target_}, opt);
            });
        }
        for (std::thread& t : runs)
            t.join();
        const std::string merged = read_file(target_);
        for (int run = 0; run < kRuns; ++run) {
            EXPECT_EQ(results[run].status, 0) << results[run].err;
            const std::string added = "\"p" + std::to_string(run) + "\": {\n";
            EXPECT_NE(merged.find(added), std::string::npos) << "round " << round << " run " << run;
        }
        EXPECT_EQ(files(), kRuns + 1) << "round " << round;
    }
}

TEST_F(MergeTool, FifoIsRefusedWithoutWaiting) {
    ASSERT_TRUE(write_file(src_, R"({"A":{"p":{}}})"));
    ASSERT_EQ(mkfifo(target_.c_str(), 0644), 0);
    run_options_s opt;
    opt.timeout_s = 10;
    const auto start = std::chrono::steady_clock::now();
    run_result_s r = run_program({MERGE_TOOL, src_, target_}, opt);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Cannot open target json: " + target_ + ": not a regular file\n");

    const std::string fifo_src = dir_ + "/fifo_default.json";
    ASSERT_EQ(mkfifo(fifo_src.c_str(), 0644), 0);
    fs::remove(target_);
    r = run_program({MERGE_TOOL, fifo_src, target_}, opt);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Cannot open source json: " + fifo_src + "\n");
    EXPECT_FALSE(file_exists(target_));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5);
}

// What a killed run left behind goes; a temporary file that may still be written, a link, and
// what belongs to another target stay.
TEST_F(MergeTool, StaleTemporaryFilesOfTheTargetAreRemoved) {
    ASSERT_TRUE(write_file(src_, R"({"A":{"p":{"x":1}}})"));
    ASSERT_TRUE(write_file(target_, R"({"A":{}})"));
    const std::string linked = dir_ + "/linked.json";
    ASSERT_TRUE(write_file(linked, "keep"));
    const std::string stale = dir_ + "/.target.json.merge-a1B2c3";
    const std::string fresh = dir_ + "/.target.json.merge-d4E5f6";
    const std::string link = dir_ + "/.target.json.merge-g7H8i9";
    const std::string other = dir_ + "/.other.json.merge-j1K2l3";
    const std::string folder = dir_ + "/.target.json.merge-m4N5o6";
    ASSERT_TRUE(write_file(stale, "{\"half"));
    ASSERT_TRUE(write_file(fresh, "{\"half"));
    ASSERT_TRUE(write_file(other, "{\"half"));
    fs::create_symlink(linked, link);
    fs::create_directory(folder);
    const timeval two_minutes_ago[2] = {{time(nullptr) - 120, 0}, {time(nullptr) - 120, 0}};
    for (const std::string& path : {stale, other, folder, linked}) {
        ASSERT_EQ(utimes(path.c_str(), two_minutes_ago), 0);
    }
    ASSERT_EQ(lutimes(link.c_str(), two_minutes_ago), 0);

    EXPECT_EQ(merge(src_, target_).status, 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(stale)));
    EXPECT_TRUE(file_exists(fresh));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(read_file(linked), "keep");
    EXPECT_TRUE(file_exists(other));
    EXPECT_TRUE(fs::is_directory(folder));

    // A target that does not exist yet is cleaned up after the same way.
    fs::remove(target_);
    ASSERT_TRUE(write_file(stale, "{\"half"));
    ASSERT_EQ(utimes(stale.c_str(), two_minutes_ago), 0);
    EXPECT_EQ(merge(src_, target_).status, 0);
    EXPECT_FALSE(file_exists(stale));
}

TEST_F(MergeTool, TextThatIsNotUnicodeIsInvalidJson) {
    ASSERT_TRUE(write_file(target_, R"({"A":{}})"));
    ASSERT_TRUE(write_file(src_, "{\"A\":{\"p\":{\"name\":\"Zellz\xe4hlung\"}}}"));
    expect_rejected(3, "Invalid JSON in " + src_ + " at offset 24: Invalid encoding in string.\n");
    ASSERT_TRUE(write_file(src_, "{\"A\":{\"p\":{\"\xc0\xaf\":1}}}"));
    expect_rejected(3, "Invalid JSON in " + src_ + " at offset 12: Invalid encoding in string.\n");
    ASSERT_TRUE(write_file(src_, R"({"A":{"p":{"s":"\udc00"}}})"));
    expect_rejected(3, "Invalid JSON in " + src_ + ": a string escapes an unpaired surrogate\n");

    ASSERT_TRUE(write_file(src_, R"({"A":{"p":{"x":1}}})"));
    ASSERT_TRUE(write_file(target_, "{\"A\":{\"p\":{\"y\":\"\xed\xa0\x80\"}}}"));
    expect_rejected(3,
                    "Invalid JSON in " + target_ + " at offset 16: Invalid encoding in string.\n");

    // Characters beyond the basic plane, raw or as an escaped pair, are fine.
    ASSERT_TRUE(write_file(target_, "{\"A\":{\"p\":{\"y\":\"\xf0\x9f\x98\x80\\ud83d\\ude00\"}}}"));
    EXPECT_EQ(merge(src_, target_).status, 0);
    EXPECT_NE(read_file(target_).find("\"y\": \"\xf0\x9f\x98\x80\xf0\x9f\x98\x80\""),
              std::string::npos);
}

// Numbers the target already has read back as the same doubles after a rewrite, and every number
// is written in a form that reads back to the value it came from.
TEST_F(MergeTool, RewritingKeepsEveryNumberExactly) {
    std::mt19937_64 random(20261209);
    std::vector<double> values = {
        123456789.12345679, 0.1, 5e-324, 1.7976931348623157e308, 2.2250738585072014e-308,
        9007199254740993.0};
    std::uniform_real_distribution<double> ordinary(0, 1e9);
    while (values.size() < 800) {
        if (values.size() % 2) {
            values.push_back(ordinary(random));
        } else {
            const uint64_t bits = random();
            double d;
            std::memcpy(&d, &bits, sizeof d);
            if (std::isfinite(d))
                values.push_back(d);
        }
    }
    std::string target = "{\"M\":{\"P\":{";
    for (size_t i = 0; i < values.size(); ++i) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", values[i]);
        target += (i ? ",\"d" : "\"d") + std::to_string(i) + "\":" + text;
    }
    ASSERT_TRUE(write_file(target_, target + "}}}"));
    ASSERT_TRUE(write_file(src_, R"({"M":{"P":{"added":1}}})"));
    ASSERT_EQ(merge(src_, target_).status, 0);

    const std::string merged = read_file(target_);
    ASSERT_NE(merged.find("\"added\": 1"), std::string::npos);
    for (size_t i = 0; i < values.size(); ++i) {
        const std::string key = "\"d" + std::to_string(i) + "\": ";
        const size_t at = merged.find(key);
        ASSERT_NE(at, std::string::npos) << key;
        const char* number = merged.c_str() + at + key.size();
        EXPECT_EQ(std::strtod(number, nullptr), values[i])
            << std::string(number, std::strcspn(number, ",\n")) << " was written for "
            << target.substr(target.find(key.substr(0, key.size() - 1)), 30);
    }
}

}  // namespace
