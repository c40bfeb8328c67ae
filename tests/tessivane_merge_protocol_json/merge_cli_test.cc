// Runs the built tessivane_merge_protocol_json on protocol files written by hand.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
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

// The layout and the forms of numbers and strings are json_file_test's.
TEST_F(MergeTool, CreatesMissingTargetPrettyWithoutTrailingNewline) {
    ASSERT_TRUE(write_file(src_, R"({"M":{"P":{"int":-7,"s":"\u00e9"}}})"));
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
              "            \"s\": \"\xc3\xa9\"\n"
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

// Which texts are refused, and the reasons, are json_file_test's.
TEST_F(MergeTool, InvalidJsonLeavesTargetUntouched) {
    ASSERT_TRUE(write_file(src_, R"({"A":{"p":{"x":1}}})"));
    ASSERT_TRUE(write_file(target_, R"({"A": {"p": {"y": 1,}}})"));
    expect_rejected(
        3, "Invalid JSON in " + target_ + " at offset 20: Missing a name for object member.\n");

    ASSERT_TRUE(write_file(target_, R"({"A":{}})"));
    ASSERT_TRUE(write_file(src_, "{\"A\":{\"p\":{\"name\":\"Zellz\xe4hlung\"}}}"));
    expect_rejected(3, "Invalid JSON in " + src_ + " at offset 24: Invalid encoding in string.\n");
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
                // The last of the runs waits for all the others: under a sanitizer on a busy
                // machine that has taken more than 30 s.
                opt.timeout_s = 120;
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

    // And one that lacks nothing, so that nothing is written.
    const std::string complete = read_file(target_);
    ASSERT_TRUE(write_file(stale, "{\"half"));
    ASSERT_EQ(utimes(stale.c_str(), two_minutes_ago), 0);
    EXPECT_EQ(merge(src_, target_).status, 0);
    EXPECT_FALSE(file_exists(stale));
    EXPECT_EQ(read_file(target_), complete);
}

}  // namespace
