// The save of a report: a link planted where the temporary file could be, a chmod or rename
// that fails, and the temporary files a killed run leaves behind.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/files.h"
#include "result_folder.h"
#include "sealprint_run.h"

namespace {

using SealprintSave = SealprintTest;

bool is_report(const std::string& path) {
    const std::string bytes = read_file(path);
    return bytes.compare(0, 7, "%PDF-1.") == 0 && bytes != kInstrumentPdf;
}

bool is_link(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// The names in `dir`, hidden ones included, sorted.
std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names = lines_of(shell_output("ls -A '" + dir + "'"));
    std::sort(names.begin(), names.end());
    return names;
}

// A process id that no process has: a child that has already been reaped.
pid_t dead_pid() {
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

// sealprint started from a shell that first runs `script` with its own process id, which the
// job keeps, since the shell execs it.
std::vector<std::string> shell_then_job(const std::string& script) {
    return {"/bin/sh", "-c", script + "\nexec \"$0\" \"$@\""};
}

TEST_F(SealprintSave, LinksPlantedAtPredictableNamesAreNeverFollowed) {
    const result_paths_s r = add_bright_field_result(dir_ + "/r1", "r1");
    const std::string victim = dir_ + "/victim.txt";
    ASSERT_TRUE(write_file(victim, "not to be written\n"));
    // Names derived from the process id, the PDF's name or a fixed pattern.
    const std::vector<std::string> planted = {".sealprint-$$.tmp", ".sealprint-$$-XXXXXX",
                                              ".sealprint-$$",     "r1.pdf.tmp",
                                              ".r1.pdf.tmp",       ".sealprint.tmp"};
    std::string script = "cd '" + r.folder + "' || exit 99";
    for (const std::string& name : planted)
        script += "\nln -s '" + victim + "' \"" + name + "\"";
    run_result_s ran = run_sealprint(job_args(dir_), true, shell_then_job(script));
    ASSERT_EQ(ran.status, 0) << ran.out;

    EXPECT_EQ(read_file(victim), "not to be written\n");
    EXPECT_TRUE(is_report(r.pdf));
    EXPECT_FALSE(is_link(r.pdf));
    // The links stay links to the victim (a link is never taken for a stale temporary file),
    // and nothing else was left beside them.
    int links = 0;
    for (const std::string& name : names_in(r.folder)) {
        if (is_link(r.folder + "/" + name)) {
            ++links;
        } else {
            const bool result_file =
                name == "r1.pdf" || name == "r1.csv" || name.find(".tif") != std::string::npos;
            EXPECT_TRUE(result_file) << name;
        }
    }
    EXPECT_EQ(links, static_cast<int>(planted.size()));
}

struct fault_case_s {
    const char* name;
    const char* fail;  // SEALPRINT_TEST_FAIL
    int detail;        // the errno the library's error line shows
};

class SaveFault : public SealprintSave, public ::testing::WithParamInterface<fault_case_s> {};

TEST_P(SaveFault, LeavesTheInstrumentPdfAndNoTemporaryFile) {
    const result_paths_s r = add_bright_field_result(dir_ + "/r1", "r1");
    ASSERT_EQ(chmod(r.pdf.c_str(), 0640), 0);
    const std::vector<std::string> before = names_in(r.folder);
    const std::string script = std::string("export LD_PRELOAD='") + SEALPRINT_FAULT_SHIM +
                               "' SEALPRINT_TEST_FAIL=" + GetParam().fail +
                               "\nexport ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\"";
    run_result_s ran = run_sealprint(job_args(dir_), true, shell_then_job(script));

    EXPECT_EQ(ran.status, 255) << ran.out;
    const std::vector<std::string> lines = lines_of(ran.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "ERROR: error_no=0x1016, detail_no=" + std::to_string(GetParam().detail));
    EXPECT_EQ(lines.back(), "[Error] Generate PDF fail !!! : " + r.pdf + ", (4118)0x1016 ");
    EXPECT_EQ(read_file(r.pdf), kInstrumentPdf);
    struct stat st;
    ASSERT_EQ(stat(r.pdf.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(names_in(r.folder), before);
}

INSTANTIATE_TEST_SUITE_P(, SaveFault,
                         ::testing::Values(fault_case_s{"ChmodFails", "fchmod", EPERM},
                                           fault_case_s{"ChmodIgnored", "fchmod_ignored", EPERM},
                                           fault_case_s{"RenameFails", "rename", EXDEV}),
                         [](const ::testing::TestParamInfo<fault_case_s>& info) {
    return std::string(info.param.name);
});

TEST_F(SealprintSave, ReportKeepsThePermissionBitsOfTheInstrumentPdf) {
    const result_paths_s r = add_bright_field_result(dir_ + "/r1", "r1");
    ASSERT_EQ(chmod(r.pdf.c_str(), 0604), 0);
    run_result_s ran = run_sealprint(job_args(dir_));
    ASSERT_EQ(ran.status, 0) << ran.out;
    EXPECT_TRUE(is_report(r.pdf));
    struct stat st;
    ASSERT_EQ(stat(r.pdf.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
}

TEST_F(SealprintSave, StaleTemporaryFilesOfDeadRunsAreRemoved) {
    const result_paths_s r = add_bright_field_result(dir_ + "/r1", "r1");
    const std::string dead = std::to_string(dead_pid());
    const std::string alive = std::to_string(getpid());
    const std::string victim = dir_ + "/victim.txt";
    ASSERT_TRUE(write_file(victim, "kept\n"));
    const std::string f = r.folder + "/";
    // Left by killed runs of this and of earlier versions: removed.
    ASSERT_TRUE(write_file(f + ".sealprint-" + dead + "-a1B2c3", "partial"));
    ASSERT_TRUE(write_file(f + ".sealprint-" + dead + ".tmp", "partial"));
    // A run still writing, a link, a folder, a name of another form, another program's file:
    // all kept.
    ASSERT_TRUE(write_file(f + ".sealprint-" + alive + "-d4E5f6", "being written"));
    ASSERT_EQ(symlink(victim.c_str(), (f + ".sealprint-" + dead + "-link00").c_str()), 0);
    ASSERT_EQ(mkdir((f + ".sealprint-" + dead + "-folder").c_str(), 0755), 0);
    ASSERT_TRUE(write_file(f + ".sealprint-x" + dead + "-abcdef", "odd name"));
    ASSERT_TRUE(write_file(f + ".other-" + dead + "-abcdef", "someone else's"));

    run_result_s ran = run_sealprint(job_args(dir_));
    ASSERT_EQ(ran.status, 0) << ran.out;
    const std::string removed = "<sealprint> removed 2 stale temporary file(s) in " + r.folder;
    EXPECT_EQ(lines_starting(ran.out, removed).size(), 1u) << ran.out;
    EXPECT_FALSE(file_exists(f + ".sealprint-" + dead + "-a1B2c3"));
    EXPECT_FALSE(file_exists(f + ".sealprint-" + dead + ".tmp"));
    EXPECT_EQ(read_file(f + ".sealprint-" + alive + "-d4E5f6"), "being written");
    EXPECT_TRUE(is_link(f + ".sealprint-" + dead + "-link00"));
    EXPECT_EQ(read_file(victim), "kept\n");
    EXPECT_TRUE(file_exists(f + ".sealprint-" + dead + "-folder"));
    EXPECT_TRUE(file_exists(f + ".sealprint-x" + dead + "-abcdef"));
    EXPECT_TRUE(file_exists(f + ".other-" + dead + "-abcdef"));
    EXPECT_TRUE(is_report(r.pdf));
}

}  // namespace
