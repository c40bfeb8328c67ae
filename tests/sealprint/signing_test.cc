// Reports signed with an identity under the product folder's "signing/", judged by tools
// nobody here wrote: pdfsig, qpdf, openssl cms, pdftoppm and pdftotext. The identities are made
// at run time by make_test_identities.sh. These tests put files where every run of the job
// looks, so they run alone (RUN_SERIAL).
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/files.h"
#include "result_folder.h"
#include "sealprint_run.h"

namespace {

const std::string kSigningDir = SEALPRINT_PRODUCT_DIR "/signing";
const std::string kSamples[] = {"fl_viability/K2-0137_20240301_101532.pdf",
                                "bf_total_count/K2-0137_20240301_113004.pdf",
                                "fl_3channel_combined/K2-0137_20240301_141518.pdf"};

std::string quoted(const std::string& path) {
    return "'" + path + "'";
}

// The signed bytes and the DER signature of a signed file, read from its /ByteRange and
// /Contents; both empty when the file has no such dictionary.
struct signature_parts_s {
    std::string signed_bytes, der;
};

signature_parts_s signature_parts(const std::string& pdf) {
    const size_t at = pdf.rfind("/ByteRange [");
    if (at == std::string::npos)
        return {};
    size_t range[4];
    if (std::sscanf(pdf.c_str() + at, "/ByteRange [%zu %zu %zu %zu", &range[0], &range[1],
                    &range[2], &range[3]) != 4 ||
        range[2] + range[3] != pdf.size()) {
        return {};
    }
    signature_parts_s parts;
    parts.signed_bytes = pdf.substr(range[0], range[1]) + pdf.substr(range[2], range[3]);
    const std::string hex = pdf.substr(range[1] + 1, range[2] - range[1] - 2);
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        parts.der += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return parts;
}

// pdfsig's account of `pdf`; its exit status says nothing about the signature.
std::string pdfsig(const std::string& pdf) {
    return run_program({"/usr/bin/pdfsig", pdf}).out;
}

class SealprintSigning : public SealprintTest {
protected:
    static void SetUpTestSuite() {
        identities_ = std::make_unique<scratch_dir_s>("sealprint_identities");
        const run_result_s made =
            run_program({"/bin/sh", SEALPRINT_TEST_IDENTITIES, identities_->path()});
        ASSERT_EQ(made.status, 0) << made.err;
    }
    static void TearDownTestSuite() { identities_.reset(); }
    void SetUp() override {
        SealprintTest::SetUp();
        std::filesystem::remove_all(kSigningDir);
    }
    void TearDown() override { std::filesystem::remove_all(kSigningDir); }

    static std::string identity(const std::string& name) { return identities_->file(name); }
    // Copies identity files into "signing/" under their configured names.
    static void configure(const std::vector<std::pair<std::string, std::string>>& files) {
        ASSERT_TRUE(std::filesystem::create_directories(kSigningDir));
        for (const auto& [from, to] : files) {
            std::filesystem::copy_file(identity(from), kSigningDir + "/" + to);
            ASSERT_EQ(chmod((kSigningDir + "/" + to).c_str(), 0600), 0);
        }
    }

    static std::unique_ptr<scratch_dir_s> identities_;
};

std::unique_ptr<scratch_dir_s> SealprintSigning::identities_;

TEST_F(SealprintSigning, SignedSamplesVerifyAndLookAsBefore) {
    for (const char* folder : {"/unsigned", "/signed"})
        ASSERT_EQ(run_program({SEALPRINT_SAMPLES, dir_ + folder}).status, 0);
    // The level "none" leaves the signature values, which hold the time of the run, blank.
    std::vector<std::string> args = job_args(dir_ + "/unsigned");
    args[2] = "none";
    const run_result_s plain = run_sealprint(args);
    ASSERT_EQ(plain.status, 0) << plain.out;
    EXPECT_TRUE(lines_starting(plain.out, "<sealprint> signed").empty()) << plain.out;

    configure(
        {{"report.key", "report.key"}, {"report.crt", "report.crt"}, {"chain.pem", "chain.pem"}});
    args[3] = dir_ + "/signed";
    const run_result_s signed_run = run_sealprint(args);
    ASSERT_EQ(signed_run.status, 0) << signed_run.out;
    EXPECT_EQ(lines_starting(signed_run.out, "Generate PDF succeed !!! ").size(), 1u);

    for (const std::string& sample : kSamples) {
        SCOPED_TRACE(sample);
        const std::string unsigned_pdf = dir_ + "/unsigned/" + sample;
        const std::string signed_pdf = dir_ + "/signed/" + sample;
        const std::string before = read_file(unsigned_pdf);
        const std::string after = read_file(signed_pdf);
        ASSERT_GT(after.size(), before.size());
        EXPECT_EQ(after.compare(0, before.size(), before), 0) << "the saved report is no prefix";
        EXPECT_EQ(lines_starting(signed_run.out, "<sealprint> signed " + signed_pdf +
                                                     " : CN=Quality Assurance Test,O=Test Lab, "
                                                     "certificate valid until ")
                      .size(),
                  1u)
            << signed_run.out;

        const std::string verdict = pdfsig(signed_pdf);
        EXPECT_NE(verdict.find("Signature Type: ETSI.CAdES.detached\n"), std::string::npos)
            << verdict;
        EXPECT_NE(verdict.find("Signature Validation: Signature is Valid.\n"), std::string::npos);
        EXPECT_NE(verdict.find("  - Total document signed\n"), std::string::npos);
        EXPECT_EQ(run_program({"/usr/bin/qpdf", "--check", signed_pdf}).status, 0);

        // The signature verifies against the root alone: the chain travels inside it.
        const signature_parts_s parts = signature_parts(after);
        ASSERT_FALSE(parts.der.empty());
        const std::string der = dir_ + "/signature.der", content = dir_ + "/signed.bin";
        ASSERT_TRUE(write_file(der, parts.der) && write_file(content, parts.signed_bytes));
        const run_result_s verified = run_program(
            {"/usr/bin/openssl", "cms", "-verify", "-cades", "-binary", "-inform", "DER", "-in",
             der, "-content", content, "-CAfile", identity("root.pem"), "-out", "/dev/null"});
        EXPECT_EQ(verified.status, 0) << verified.err;
        EXPECT_NE(verified.err.find("Verification successful"), std::string::npos) << verified.err;
        const std::string printed =
            shell_output("openssl cms -cmsout -print -inform DER -in " + quoted(der) + " 2>&1");
        EXPECT_NE(printed.find("id-smime-aa-signingCertificateV2"), std::string::npos);
        EXPECT_EQ(printed.find("signingTime"), std::string::npos) << "PAdES wants none";

        const std::string pages = dir_ + "/pages";
        ASSERT_TRUE(fresh_dir(pages));
        for (const auto& [pdf, stem] : {std::pair{unsigned_pdf, "u"}, std::pair{signed_pdf, "s"}}) {
            ASSERT_EQ(
                run_program({"/usr/bin/pdftoppm", "-r", "150", pdf, pages + "/" + stem}).status, 0);
            ASSERT_EQ(run_program({"/usr/bin/pdftotext", pdf, pages + "/" + stem + ".txt"}).status,
                      0);
        }
        for (const char* page : {"-1.ppm", "-2.ppm", ".txt"}) {
            const std::string u = read_file(pages + "/u" + page);
            EXPECT_FALSE(u.empty()) << page;
            EXPECT_TRUE(u == read_file(pages + "/s" + page)) << page << " differs";
        }
    }
}

TEST_F(SealprintSigning, ReasonNamesTheRowsAndChangesAfterSigningShow) {
    configure({{"ec.key", "report.key"}, {"ec.crt", "report.crt"}});
    const result_paths_s r = add_bright_field_result(dir_ + "/r1", "r1");
    // A reviewer signs after the creator "Jürgen Müller".
    std::vector<std::string> args = job_args(dir_);
    args[2] = "supervisor";
    args[4] = "jm";
    args[5] = "4ac3bc7267656e204dc3bc6c6c6572";
    args[6] = "1709288132";
    const run_result_s ran = run_sealprint(args);
    ASSERT_EQ(ran.status, 0) << ran.out;
    const std::string pdf = read_file(r.pdf);
    EXPECT_NE(pdfsig(r.pdf).find("Signature is Valid."), std::string::npos) << pdfsig(r.pdf);

    const size_t reason = pdf.rfind("/Reason <FEFF");
    ASSERT_NE(reason, std::string::npos);
    std::u16string text;
    for (size_t i = reason + 13; pdf[i] != '>'; i += 4)
        text += static_cast<char16_t>(std::stoi(pdf.substr(i, 4), nullptr, 16));
    const std::u16string expected_start =
        u"Creator: jm, J\u00fcrgen M\u00fcller, 01 Mar 2024 10:15:32; Reviewer: jdoe, John Doe, ";
    EXPECT_EQ(text.compare(0, expected_start.size(), expected_start), 0);
    EXPECT_EQ(text.substr(text.size() - 16), u"; Approver: none");

    std::string changed = pdf;
    changed[signature_parts(pdf).signed_bytes.size() / 3] ^= 0x01;
    ASSERT_TRUE(write_file(r.pdf, changed));
    EXPECT_NE(pdfsig(r.pdf).find("Signature Validation: Digest Mismatch."), std::string::npos)
        << pdfsig(r.pdf);
    ASSERT_TRUE(write_file(r.pdf, pdf + "\n% appended later\n"));
    const std::string appended = pdfsig(r.pdf);
    EXPECT_NE(appended.find("  - Not total document signed\n"), std::string::npos) << appended;
    EXPECT_NE(appended.find("Signature is Valid."), std::string::npos);
}

TEST_F(SealprintSigning, UnusableIdentityFailsTheResultAndKeepsThePdf) {
    struct case_s {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;
        std::string reason;  // the end of the [Error] line
    };
    const std::string key = kSigningDir + "/report.key", crt = kSigningDir + "/report.crt";
    std::vector<case_s> cases = {
        {"no key",
         {{"report.crt", "report.crt"}},
         key + ": cannot be read (No such file or directory) "},
        {"not a key",
         {{"root.pem", "report.key"}, {"report.crt", "report.crt"}},
         key + ": holds no private key that can be read without a passphrase "},
        {"another identity's key",
         {{"other.key", "report.key"}, {"report.crt", "report.crt"}},
         crt + ": a certificate that does not belong to the key in " + key + " "},
        {"expired",
         {{"report.key", "report.key"}, {"expired.crt", "report.crt"}},
         crt + ": a certificate that expired on 2021-01-01 00:00:00 UTC "},
        {"not yet valid",
         {{"report.key", "report.key"}, {"future.crt", "report.crt"}},
         crt + ": a certificate not valid before 2099-01-01 00:00:00 UTC "},
        {"chain not certificates",
         {{"report.key", "report.key"}, {"report.crt", "report.crt"}, {"ca.cnf", "chain.pem"}},
         kSigningDir + "/chain.pem: holds no PEM certificate that can be read "},
    };
    // Root reads any file whatever its mode.
    if (geteuid() != 0) {
        cases.push_back({"unreadable key",
                         {{"report.key", "report.key"}, {"report.crt", "report.crt"}},
                         key + ": cannot be read (Permission denied) "});
    }
    const result_paths_s r = add_bright_field_result(dir_ + "/r1", "r1");
    for (const case_s& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(kSigningDir);
        configure(c.files);
        if (std::string(c.what) == "unreadable key") {
            ASSERT_EQ(chmod(key.c_str(), 0), 0);
        }
        const run_result_s ran = run_sealprint(job_args(dir_));
        EXPECT_EQ(ran.status, 255) << ran.out;
        const std::vector<std::string> lines = lines_of(ran.out);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2],
                  "[Error] Cannot sign the report " + r.pdf + " : " + c.reason);
        EXPECT_EQ(lines.back(), "[Error] Generate PDF fail !!! : " + r.pdf + ", (4119)0x1017 ");
        EXPECT_EQ(read_file(r.pdf), kInstrumentPdf);
        EXPECT_EQ(shell_output("ls -A " + quoted(r.folder) + " | grep -c sealprint"), "0\n");
    }
}

}  // namespace
