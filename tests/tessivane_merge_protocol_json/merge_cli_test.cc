// Runs the built tessivane_merge_protocol_json on protocol files written by hand.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <filesystem>
#include <string>
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

}  // namespace
