#include "sign/pdf_update.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/process.h"
#include "common/scratch.h"

namespace {

// The objects of a one-page file as the report library writes them, numbered from 1.
std::vector<std::string> one_page() {
    return {
        "<<\n/Type /Catalog\n/Pages 2 0 R\n/PageMode /UseOutlines\n/Lang (en) % a comment >>\n>>",
        "<<\n/Type /Pages\n/Kids [ 3 0 R ]\n/Count 1\n>>",
        "<<\n/Type /Page\n/MediaBox [ 0 0 595.276 841.89001 ]\n/Contents 5 0 R\n"
        "/Resources <<\n/Font <<\n/F1 6 0 R\n>>\n>>\n/Parent 2 0 R\n>>",
        // Strings holding brackets of both kinds must not end a dictionary early.
        "<<\n/Producer (made (for) the test\\) >> <<)\n/Title <3E3E>\n>>",
        "<<\n/Length 0\n>>\nstream\n\nendstream",
        "<<\n/Type /Font\n/Subtype /Type1\n/BaseFont /Helvetica\n>>",
    };
}

// A file of `objects` with a classic cross-reference table, ending like the library's files
// without a line feed after %%EOF.
std::string pdf_of(const std::vector<std::string>& objects, const std::string& trailer = "") {
    std::string pdf = "%PDF-1.3\n%\xB7\xBE\xAD\xAA\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f\r\n";
    for (size_t offset : offsets) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n\r\n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<<\n/Root 1 0 R\n/Info 4 0 R\n/Size " + std::to_string(objects.size() + 1) +
           "\n" + trailer + ">>\nstartxref\n" + std::to_string(xref) + "\n%%EOF";
    return pdf;
}

const signature_fields_s kFields{u"Creator: jdoe", "D:20240301101532+01'00'", 100};

TEST(PdfUpdate, AppendsAFieldThatCoversAllButTheSignature) {
    scratch_dir_s scratch("pdf_update");
    ASSERT_TRUE(scratch.ok());
    const std::string saved = pdf_of(one_page(), "/ID [<0102><0304>]\n");
    std::string pdf = saved;
    signature_slot_s slot;
    std::string error;
    ASSERT_TRUE(append_signature_update(pdf, kFields, slot, error)) << error;

    EXPECT_EQ(pdf.compare(0, saved.size(), saved), 0);
    EXPECT_EQ(slot.ranges[0], 0u);
    EXPECT_EQ(pdf[slot.ranges[1]], '<');
    EXPECT_EQ(slot.ranges[1] + 1, slot.contents_at);
    EXPECT_EQ(slot.ranges[2], slot.contents_at + 200 + 1);
    EXPECT_EQ(slot.ranges[2] + slot.ranges[3], pdf.size());
    const std::string shown = "/ByteRange [0 " + std::to_string(slot.ranges[1]) + " " +
                              std::to_string(slot.ranges[2]) + " " + std::to_string(slot.ranges[3]);
    EXPECT_NE(pdf.find(shown), std::string::npos);
    EXPECT_NE(pdf.find("/Contents <" + std::string(200, '0') + ">"), std::string::npos);

    ASSERT_TRUE(fill_signature(pdf, slot, std::string("\x30\x03\x02\x01\xfe", 5), error));
    EXPECT_EQ(pdf.compare(slot.contents_at, 12, "30030201fe00"), 0);
    const std::string filled = pdf;
    EXPECT_FALSE(fill_signature(pdf, slot, std::string(101, 'x'), error));
    EXPECT_EQ(pdf, filled);

    // qpdf reads the update through the new cross-reference section: the objects it shows are
    // the rewritten ones, and nothing is out of place.
    const std::string file = scratch.file("signed.pdf");
    ASSERT_TRUE(write_file(file, pdf));
    const run_result_s check = run_program({"/usr/bin/qpdf", "--check", file});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_EQ(check.err, "");
    const auto object = [&file](const std::string& which) {
        return run_program({"/usr/bin/qpdf", "--show-object=" + which, file}).out;
    };
    const std::string catalog = object("1");
    EXPECT_NE(catalog.find("/AcroForm << /Fields [ 8 0 R ] /SigFlags 3 >>"), std::string::npos)
        << catalog;
    EXPECT_NE(catalog.find("/PageMode /UseOutlines"), std::string::npos);
    const std::string page = object("3");
    EXPECT_NE(page.find("/Annots [ 8 0 R ]"), std::string::npos) << page;
    const std::string widget = object("8");
    EXPECT_NE(widget.find("/FT /Sig"), std::string::npos) << widget;
    EXPECT_NE(widget.find("/P 3 0 R"), std::string::npos);
    EXPECT_NE(widget.find("/Rect [ 0 0 0 0 ]"), std::string::npos);
    EXPECT_NE(widget.find("/V 7 0 R"), std::string::npos);
    const std::string trailer = object("trailer");
    EXPECT_NE(trailer.find("/ID [ <0102> <0304> ]"), std::string::npos) << trailer;
    EXPECT_NE(trailer.find("/Info 4 0 R"), std::string::npos);
    EXPECT_NE(trailer.find("/Size 9"), std::string::npos);
}

TEST(PdfUpdate, ReasonIsAPdfTextString) {
    EXPECT_EQ(pdf_text_string(u"Creator: a (b) \\ c"), "(Creator: a \\(b\\) \\\\ c)");
    // Anything beyond printable ASCII: UTF-16BE with its byte order mark.
    EXPECT_EQ(pdf_text_string(u"J\u00fcrgen \u03bc"), "<FEFF004A00FC007200670065006E002003BC>");
    EXPECT_EQ(pdf_text_string(u"line\nbreak"), "<FEFF006C0069006E0065000A0062007200650061006B>");
}

TEST(PdfUpdate, RefusesFilesOfAnotherForm) {
    struct case_s {
        const char* what;
        std::string pdf;
    };
    std::vector<case_s> cases;
    std::string truncated = pdf_of(one_page());
    cases.push_back({"no startxref", truncated.substr(0, truncated.rfind("startxref"))});
    std::string stream_xref = pdf_of(one_page());
    stream_xref.replace(stream_xref.rfind("startxref\n") + 10, std::string::npos, "15\n%%EOF");
    cases.push_back({"startxref not at a table", stream_xref});
    cases.push_back({"encrypted", pdf_of(one_page(), "/Encrypt 6 0 R\n")});
    std::string small_size = pdf_of(one_page());
    small_size.replace(small_size.find("/Size 7"), 7, "/Size 3");
    cases.push_back({"objects beyond /Size", small_size});
    std::vector<std::string> objects = one_page();
    objects[0] = "<<\n/Type /Catalog\n/Pages 2 0 R\n/AcroForm << /Fields [] >>\n>>";
    cases.push_back({"a form already", pdf_of(objects)});
    objects = one_page();
    objects[2] = "<<\n/Type /Page\n/Parent 2 0 R\n/Annots []\n>>";
    cases.push_back({"annotations already", pdf_of(objects)});
    objects = one_page();
    objects[1] = "<<\n/Type /Pages\n/Kids [ 6 0 R ]\n/Count 1\n>>";
    cases.push_back({"first kid not a page", pdf_of(objects)});
    objects = one_page();
    objects[0] = "<<\n/Type /Catalog\n/Pages 2 0 R\n/Broken (unterminated\n>>";
    cases.push_back({"unterminated string", pdf_of(objects)});
    for (const case_s& c : cases) {
        SCOPED_TRACE(c.what);
        std::string pdf = c.pdf;
        signature_slot_s slot;
        std::string error;
        EXPECT_FALSE(append_signature_update(pdf, kFields, slot, error));
        EXPECT_NE(error, "");
        EXPECT_EQ(pdf, c.pdf);
    }
}

}  // namespace
