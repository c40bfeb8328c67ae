// The job as the calling software sees it: arguments, environment, log lines, exit status.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <regex>

#include "common/files.h"
#include "result_folder.h"
#include "sealprint_run.h"

namespace {

const char* const kUsage =
    "<sealprint> Usage:\n"
    "sealprint <login_id> <login_name> <level> <report_path>\n"
    "\t<L1_approval_id> <L1_approval_name> <L1_approval_date>\n"
    "\t<L2_approval_id> <L2_approval_name> <L2_approval_date>\n"
    "\t<L3_approval_id> <L3_approval_name> <L3_approval_date>\n";

const char* const kSuccess =
    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~ \n"
    "Generate PDF succeed !!! \n"
    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~ \n";

// Every lookup of a result, in the order the job logs them.
const char* const kKeys[] = {
    "Date",
    "Security",
    "User",
    "Device name",
    "File name",
    "Reanalysis",
    "Counting mode",
    "Serial number",
    "Firmware version",
    "Software version",
    "Slide type",
    "Counted chamber area",
    "Combine result",
    "Autofocusing channel in FL",
    "Autofocused counting",
    "Autofocus offset",
    "Autofocus upon slide insertion",
    "Last calibration",
    "Calibration setting",
    "Calibration value",
    "Pixel shift",
    "Protocol name",
    "Min. search size",
    "Max. search size",
    "Min. cell size",
    "Max. cell size",
    "Cell detection sensitivity",
    "Live cell sensitivity",
    "Noise reduction",
    "Dilution factor",
    "GF exposure level",
    "RF exposure level",
    "GF threshold level",
    "RF threshold level",
    "Cell size calculation",
    "Declumping sensitivity",
    "Min. FL intensity",
    "Min. roundness",
    "Size gating",
    "[Total cell]",
    "[Live cell]",
    "[Dead cell]",
    "Viability",
    "Avg. size",
    "Total cell number",
    "Live cell number",
    "Dead cell number",
    "Total Histogram",
    "Live Histogram",
    "Dead Histogram",
    "Cluster Histogram",
    "Total Histogram",
    "Live Histogram",
    "Dead Histogram",
    "Cluster Histogram",
    "-",
};

// A result file dated `date`: the job logs the date of each result it reads.
std::string dated(const std::string& date) {
    return result_file_s().set("Date", date).csv();
}

// A result folder under `report` with <stem>.pdf, <stem>.csv and camera images that only have to
// be there.
void add_dated(const std::string& report, const std::string& folder, const std::string& stem,
               const std::string& date) {
    add_result(report + "/" + folder, result_file_s().set("Date", date), kEmptyBrightFieldImages,
               stem);
}

// Camera images beside a CSV file written by hand.
void add_camera_images(const std::string& folder) {
    for (const std::string& suffix : kEmptyBrightFieldImages.suffixes)
        ASSERT_TRUE(write_file(folder + "/cam" + suffix, ""));
}

bool is_report(const std::string& path) {
    return read_file(path).compare(0, 8, "%PDF-1.3") == 0;
}

using SealprintJob = SealprintTest;

TEST_F(SealprintJob, VersionComesBeforeEveryCheck) {
    for (const auto& args : {std::vector<std::string>{"version"},
                             std::vector<std::string>{"version", "a", "b", "c", "d", "e", "f", "g",
                                                      "h", "i", "j", "k", "l"}}) {
        run_result_s r = run_sealprint(args, false);
        EXPECT_EQ(r.out, "<sealprint> version : 1.3.5\n");
        EXPECT_EQ(r.status, 0);
    }
}

TEST_F(SealprintJob, TooFewArgumentsPrintTheUsage) {
    run_result_s r = run_sealprint({});
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> twelve = job_args(dir_);
    twelve.pop_back();
    r = run_sealprint(twelve);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.status, 1);
}

TEST_F(SealprintJob, WithoutTheEnvironmentVariableDoesNothing) {
    add_dated(dir_, "r1", "r1", "2024-03-01");
    run_result_s r = run_sealprint(job_args(dir_), false);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(dir_ + "/r1/r1.pdf"), kInstrumentPdf);
}

TEST_F(SealprintJob, LogsTheLoginAndTheDecodedSlots) {
    // Slot 1 unsigned, slot 2 signed under the name "_", slot 3 with an empty id.
    // The login name skips non-hex characters ("-" and blanks) and is UTF-8.
    run_result_s r = run_sealprint({"-platform", "4A-6f 73c3A9", "supervisor", dir_, "_", "416e6e",
                                    "1709288132", "u2", "_", "", "", "416e6e", "12"});
    EXPECT_EQ(r.status, 255);
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 12u) << r.out;
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex(R"(<sealprint> build - \w{3} \w{3} \d\d \d\d:\d\d:\d\d \d{4})")))
        << lines[0];
    const std::vector<std::string> expected = {
        "<sealprint> version: 1.3.5",
        "",
        "<sealprint> [login] id : -platform, name : Jos\xC3\xA9 , level : supervisor ",
        "",
        "<sealprint> PDF path : " + dir_ + " ",
        "",
        "<sealprint> [user] approval id : (empty : 1), name : (empty : 1) ",
        "<sealprint> [supervisor] approval id : u2(empty : 0), name : _(empty : 0) ",
        "<sealprint> [admin] approval id : (empty : 1), name : Ann(empty : 0) ",
        "",
        "[Error] <sealprint> pdfList.empty() ! ",
    };
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), expected);
}

TEST_F(SealprintJob, LoginNameUnderscoreDecodesToNothing) {
    std::vector<std::string> args = job_args(dir_ + "/missing");
    args[1] = "_";
    run_result_s r = run_sealprint(args);
    EXPECT_EQ(lines_starting(r.out, "<sealprint> [login]"),
              std::vector<std::string>{"<sealprint> [login] id : jdoe, name :  , level : user "});
    EXPECT_EQ(lines_starting(r.out, "[Error]"),
              std::vector<std::string>{"[Error] <sealprint> pdfList.empty() ! "});
    EXPECT_EQ(r.status, 255);
}

TEST_F(SealprintJob, LogsEveryLookupOfAResult) {
    add_result(dir_ + "/r", {}, kEmptyBrightFieldImages);
    ASSERT_TRUE(write_file(dir_ + "/r/r.csv",
                           "Cell count report\n"
                           "=================\n"
                           "Date,2024-03-01 10:15:32\n"
                           "Instrument name,K2-0137\n"
                           "Reanalysis,Yes,,2024-03-01 11:00\n"
                           "Counting mode,Bright field cell counting\n"
                           ",Total cell counting\n"
                           "Serial number,ORK2-0137\n"
                           "\n"
                           "Instrument setting\n"
                           "------------------\n"
                           "Slide type,1 channel slide\n"
                           "Combine result,Off\n"
                           "Calibration value,0.98,1.02,1.00\n"
                           "\n"
                           "Protocol\n"
                           "--------\n"
                           "Protocol name,\n"
                           "Size gating,5 ~ 50 um\n"
                           "\n"
                           "Cell count results\n"
                           "------------------\n"
                           "[Total cell],9.65e5 cells/mL\n"
                           "\n"
                           "Graph\n"
                           "-----\n"
                           "Total Histogram," +
                               counts(91, 2) +
                               "\n"
                               "Live Histogram," +
                               counts(91, 2) +
                               "\n"
                               "Dead Histogram," +
                               counts(91, 0) +
                               "\n"
                               "Cluster Histogram," +
                               counts(9, 1) +
                               "\n"
                               "\n"
                               "Volume\n"
                               "------\n"
                               "416.6667,2\n"));
    const std::map<std::string, std::string> found = {
        {"Date", "2024-03-01 10:15:32"},
        {"Device name", "K2-0137"},
        {"Reanalysis", "Yes,2024-03-01 11:00"},
        {"Counting mode", "Bright field cell counting,Total cell counting"},
        {"Serial number", "ORK2-0137"},
        {"Slide type", "1 channel slide"},
        {"Combine result", "Off"},
        {"Calibration value", "0.98,1.02,1.00"},
        {"Protocol name", "null"},
        {"Size gating", "5 ~ 50 um"},
        {"[Total cell]", "9.65e5 cells/mL"},
        {"Total Histogram", counts(91, 2)},
        {"Live Histogram", counts(91, 2)},
        {"Dead Histogram", counts(91, 0)},
        {"Cluster Histogram", counts(9, 1)},
        {"-", "416.6667,2"},
    };
    std::vector<std::string> expected;
    for (const char* key : kKeys) {
        auto it = found.find(key);
        expected.push_back(std::string("<sealprint> ") + key + " : " +
                           (it == found.end() ? "search fail !" : it->second) + " ");
    }
    run_result_s r = run_sealprint(job_args(dir_));
    // The lookups, then the document, then success.
    std::vector<std::string> logged;
    const std::vector<std::string> lines = lines_of(r.out);
    auto first = std::find(lines.begin(), lines.end(), "<sealprint> Date : 2024-03-01 10:15:32 ");
    ASSERT_NE(first, lines.end()) << r.out;
    EXPECT_EQ(std::vector<std::string>(first, first + std::min<long>(56, lines.end() - first)),
              expected);
    EXPECT_EQ(std::vector<std::string>(first + 56, lines.end()),
              (std::vector<std::string>{
                  "~~Loading & embedding fonts to PDF ~~~~~~~~~",
                  "HPDF_LoadTTFontFromFile : FreeSerif",
                  "HPDF_LoadTTFontFromFile : LiberationSans",
                  "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~",
                  "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~ ",
                  "Generate PDF succeed !!! ",
                  "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~ ",
              }));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(is_report(dir_ + "/r/r.pdf"));
}

TEST_F(SealprintJob, ScanTakesTheFirstPdfOfEachVisibleFolder) {
    add_dated(dir_, "a", "a", "A");
    add_dated(dir_, ".hidden", "h", "H");
    add_dated(dir_, "c/inner", "i", "I");  // folders are not descended into
    ASSERT_TRUE(write_file(dir_ + "/c/c.csv", dated("C")));
    ASSERT_TRUE(write_file(dir_ + "/top.pdf", kInstrumentPdf));
    ASSERT_TRUE(write_file(dir_ + "/top.csv", dated("TOP")));
    add_dated(dir_, "f", "f", "F");
    ASSERT_TRUE(write_file(dir_ + "/f/.old.pdf", kInstrumentPdf));
    add_dated(dir_, "g", "g1", "G1");
    ASSERT_TRUE(write_file(dir_ + "/g/g2.pdf", kInstrumentPdf));
    ASSERT_TRUE(write_file(dir_ + "/g/g2.csv", dated("G2")));

    run_result_s r = run_sealprint(job_args(dir_));
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<std::string> dates = lines_starting(r.out, "<sealprint> Date : ");
    std::sort(dates.begin(), dates.end());
    ASSERT_EQ(dates.size(), 3u) << r.out;
    EXPECT_EQ(dates[0], "<sealprint> Date : A ");
    EXPECT_EQ(dates[1], "<sealprint> Date : F ");
    const bool g1 = dates[2] == "<sealprint> Date : G1 ";
    EXPECT_TRUE(g1 || dates[2] == "<sealprint> Date : G2 ") << dates[2];
    EXPECT_TRUE(is_report(dir_ + "/a/a.pdf"));
    EXPECT_TRUE(is_report(dir_ + "/f/f.pdf"));
    EXPECT_EQ(is_report(dir_ + "/g/g1.pdf"), g1);
    EXPECT_EQ(is_report(dir_ + "/g/g2.pdf"), !g1);
    for (const char* untouched : {"/.hidden/h.pdf", "/c/inner/i.pdf", "/top.pdf", "/f/.old.pdf"}) {
        EXPECT_EQ(read_file(dir_ + untouched), kInstrumentPdf) << untouched;
    }
}

TEST_F(SealprintJob, CsvPathReplacesEveryLowerCasePdf) {
    // "x.pdf.d/r.pdf" reads "x.csv.d/r.csv"; "U/R.PDF" is found but reads itself.
    add_dated(dir_, "x.pdf.d", "r", "IN-PDF-FOLDER");
    ASSERT_TRUE(fresh_dir(dir_ + "/x.csv.d"));
    ASSERT_TRUE(write_file(dir_ + "/x.csv.d/r.csv", dated("IN-CSV-FOLDER")));
    add_camera_images(dir_ + "/x.csv.d");  // the images lie beside the CSV file read
    ASSERT_TRUE(fresh_dir(dir_ + "/U"));
    add_camera_images(dir_ + "/U");
    ASSERT_TRUE(write_file(dir_ + "/U/R.PDF", kInstrumentPdf));
    ASSERT_TRUE(write_file(dir_ + "/U/R.csv", dated("UPPER")));

    run_result_s r = run_sealprint(job_args(dir_));
    std::vector<std::string> dates = lines_starting(r.out, "<sealprint> Date : ");
    std::sort(dates.begin(), dates.end());
    EXPECT_EQ(dates, (std::vector<std::string>{"<sealprint> Date : IN-CSV-FOLDER ",
                                               "<sealprint> Date : search fail ! "}));
    EXPECT_EQ(lines_starting(r.out, "<sealprint> Total Histogram : search fail !").size(), 2u);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(is_report(dir_ + "/U/R.PDF"));
    EXPECT_TRUE(is_report(dir_ + "/x.pdf.d/r.pdf"));
}

// Saving runs out of room: the shell caps the size of files the job may write (and
// ignores the signal that would kill it), which holds for root too.
const std::vector<std::string> kSmallFileLimit = {"/bin/sh", "-c",
                                                  "ulimit -f 64; trap '' XFSZ; exec \"$0\" \"$@\""};

// The files of a result folder besides its camera images.
std::vector<std::string> listing(const std::string& dir) {
    return lines_of(shell_output("ls -A '" + dir + "' | grep -v '[.]tif$'"));
}

TEST_F(SealprintJob, FailedSaveKeepsTheInstrumentPdfAndStopsTheJob) {
    add_dated(dir_, "r1", "r1", "R1");
    add_dated(dir_, "r2", "r2", "R2");
    run_result_s r = run_sealprint(job_args(dir_), true, kSmallFileLimit);
    EXPECT_EQ(r.status, 255);
    // Only the first result listed is tried.
    const std::vector<std::string> dates = lines_starting(r.out, "<sealprint> Date : ");
    ASSERT_EQ(dates.size(), 1u) << r.out;
    const std::string failed = dates[0] == "<sealprint> Date : R1 " ? "r1" : "r2";
    const std::string pdf = dir_ + "/" + failed + "/" + failed + ".pdf";
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_GE(lines.size(), 2u);
    // The library's own report of the failed write, then the job's, with the same status.
    EXPECT_TRUE(std::regex_match(lines[lines.size() - 2],
                                 std::regex("ERROR: error_no=0x[0-9a-f]{4}, detail_no=[0-9]+")))
        << r.out;
    std::smatch status;
    const std::string& last = lines.back();
    ASSERT_TRUE(std::regex_match(
        last, status,
        std::regex(R"(\[Error\] Generate PDF fail !!! : (.*), \((\d+)\)0x([0-9A-F]+) )")))
        << last;
    EXPECT_EQ(status[1], pdf);
    EXPECT_EQ(std::stoul(status[2]), std::stoul(status[3], nullptr, 16));
    EXPECT_NE(status[2], "0");
    EXPECT_TRUE(lines_starting(r.out, "Generate PDF succeed").empty());
    for (const char* folder : {"r1", "r2"}) {
        const std::string dir = dir_ + "/" + folder;
        EXPECT_EQ(read_file(dir + "/" + folder + ".pdf"), kInstrumentPdf);
        EXPECT_EQ(listing(dir), (std::vector<std::string>{std::string(folder) + ".csv",
                                                          std::string(folder) + ".pdf"}));
    }
}

// Root writes anywhere: the job runs as nobody then.
std::vector<std::string> as_unprivileged_user() {
    if (geteuid() != 0)
        return {};
    return {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
}

TEST_F(SealprintJob, ReadOnlyResultFolderFailsTheResult) {
    add_dated(dir_, "r1", "r1", "R1");
    const std::string folder = dir_ + "/r1";
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    run_result_s r = run_sealprint(job_args(dir_), true, as_unprivileged_user());
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(lines_of(r.out).back(),
              "[Error] Generate PDF fail !!! : " + folder + "/r1.pdf, (4119)0x1017 ")
        << r.out;
    EXPECT_EQ(read_file(folder + "/r1.pdf"), kInstrumentPdf);
    EXPECT_EQ(listing(folder), (std::vector<std::string>{"r1.csv", "r1.pdf"}));
}

TEST_F(SealprintJob, WriteProtectedPdfStaysInItsWritableFolder) {
    add_dated(dir_, "r1", "r1", "R1");
    const std::string folder = dir_ + "/r1";
    ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
    ASSERT_EQ(chmod((folder + "/r1.pdf").c_str(), 0444), 0);
    run_result_s r = run_sealprint(job_args(dir_), true, as_unprivileged_user());
    EXPECT_EQ(r.status, 255);
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "ERROR: error_no=0x1017, detail_no=13");
    EXPECT_EQ(lines.back(), "[Error] Generate PDF fail !!! : " + folder + "/r1.pdf, (4119)0x1017 ");
    EXPECT_EQ(read_file(folder + "/r1.pdf"), kInstrumentPdf);
    EXPECT_EQ(listing(folder), (std::vector<std::string>{"r1.csv", "r1.pdf"}));
}

}  // namespace
