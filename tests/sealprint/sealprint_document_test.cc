// The saved reports of the bundled samples, checked with the PDF tools.
#include <regex>

#include "common/files.h"
#include "sealprint_run.h"

namespace {

using SealprintDocument = SealprintTest;

TEST_F(SealprintDocument, SamplesBecomeTwoPageA4ReportsWithEmbeddedFonts) {
    const std::string reports = dir_ + "/reports";
    run_result_s made = run_program({SEALPRINT_SAMPLES, reports});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string pdfs[] = {
        reports + "/fl_viability/K2-0137_20240301_101532.pdf",
        reports + "/bf_total_count/K2-0137_20240301_113004.pdf",
        reports + "/fl_3channel_combined/K2-0137_20240301_141518.pdf",
    };

    std::vector<std::string> args = job_args(reports);
    args[4] = "jdoe";
    args[5] = "4a6f686e20446f65";
    args[6] = "1709288132";
    run_result_s r = run_sealprint(args);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(lines_starting(r.out, "Generate PDF succeed !!! ").size(), 1u);
    EXPECT_TRUE(lines_starting(r.out, "ERROR").empty()) << r.out;

    for (const std::string& pdf : pdfs) {
        EXPECT_EQ(run_program({"/bin/sh", "-c", "qpdf --check '" + pdf + "'"}).status, 0) << pdf;
        const std::string info = shell_output("pdfinfo -f 1 -l 9 '" + pdf + "' 2>&1");
        EXPECT_NE(info.find("Pages:           2\n"), std::string::npos) << info;
        // Page 1 is set to A4, page 2 keeps the library's default (595 x 841 pt), also A4.
        EXPECT_NE(info.find("Page    1 size:  595.276 x 841.89 pts (A4)\nPage    1 rot:   0\n"),
                  std::string::npos)
            << info;
        EXPECT_NE(info.find("Page    2 size:  595 x 841 pts (A4)\nPage    2 rot:   0\n"),
                  std::string::npos)
            << info;
        // Both pages draw in 1/300 inch units.
        const std::string content =
            shell_output("qpdf --qdf --object-streams=disable '" + pdf + "' -");
        EXPECT_EQ(count_of(content, "0.24 0 0 0.24 0 0 cm\n"), 2) << pdf;
        // The two TrueType files are embedded under the names they register with.
        const std::string raw = read_file(pdf);
        EXPECT_EQ(count_of(raw, "/FontFile2 "), 2) << pdf;
        EXPECT_TRUE(std::regex_search(raw, std::regex(R"(/FontName /[A-Z]{6}\+FreeSerif\n)")))
            << pdf;
        EXPECT_TRUE(std::regex_search(raw, std::regex(R"(/FontName /[A-Z]{6}\+LiberationSans\n)")))
            << pdf;
        // Pages list the faces they use: FreeSerif for every "μ", the Arial face only for the
        // "≤" of the bright-field sample's gating.
        const std::string fonts = shell_output("pdffonts '" + pdf + "' 2>/dev/null");
        const std::string embedded = R"( +CID TrueType +Identity-H +yes yes)";
        EXPECT_TRUE(std::regex_search(fonts, std::regex(R"(\n[A-Z]{6}\+FreeSerif)" + embedded)))
            << fonts;
        EXPECT_EQ(std::regex_search(fonts, std::regex(R"(\n[A-Z]{6}\+LiberationSans)" + embedded)),
                  pdf == pdfs[1])
            << fonts;
    }
}

}  // namespace
