// A tag image whose header declares more pixels than any camera of the instrument family makes
// (a few kilobytes of file can declare gigabytes of pixels) is refused before it is decoded:
// page 1 keeps both picture frames empty and the result still succeeds.
#include <cstdint>
#include <string>

#include "common/files.h"
#include "page_reader.h"
#include "picture_files.h"
#include "result_folder.h"
#include "sealprint_run.h"

namespace {

// The camera pictures of page 1 (1124 × 899, the tag image and its zoom) in the saved report.
int camera_pictures(const std::string& pdf) {
    return images_listed(pdf, 1, R"(1124\s+899\s)");
}

struct declared_s {
    const char* name;
    uint32_t width, height;
};

class OversizedTag : public SealprintTest, public ::testing::WithParamInterface<declared_s> {};

TEST_P(OversizedTag, IsRefusedFromItsHeaderAndTheResultSucceeds) {
    const declared_s d = GetParam();
    const result_paths_s r = add_bright_field_result(dir_ + "/r1", "r1");
    ASSERT_TRUE(write_file(r.tag, tiff_declaring(d.width, d.height)));
    run_result_s ran = run_sealprint(job_args(dir_));

    ASSERT_EQ(ran.status, 0) << ran.out;
    EXPECT_FALSE(ran.timed_out);
    const std::string size = std::to_string(d.width) + " x " + std::to_string(d.height);
    const std::string refused = "[Error] <sealprint> tag image not drawn, it declares " + size +
                                " pixels (at most 16384 x 16384 and 67108864 pixels) : " + r.tag +
                                " ";
    EXPECT_EQ(lines_starting(ran.out, refused).size(), 1u) << ran.out;
    EXPECT_EQ(lines_starting(ran.out, "Generate PDF succeed !!! ").size(), 1u);
    EXPECT_EQ(camera_pictures(r.pdf), 0);
}

INSTANTIATE_TEST_SUITE_P(, OversizedTag,
                         ::testing::Values(declared_s{"Bomb30000Square", 30000, 30000},
                                           declared_s{"Wider16385", 16385, 4},
                                           declared_s{"Taller16385", 4, 16385},
                                           declared_s{"Over64MPixels", 8193, 8192}),
                         [](const ::testing::TestParamInfo<declared_s>& info) {
    return std::string(info.param.name);
});

TEST_F(SealprintTest, TagImagesWithinTheLimitsAreDrawn) {
    // The largest square the pixel limit allows, declared but not held: the header passes, the
    // decoder then fails on the missing pixels as on any damaged image.
    const result_paths_s r = add_bright_field_result(dir_ + "/r1", "r1");
    ASSERT_TRUE(write_file(r.tag, tiff_declaring(8192, 8192)));
    run_result_s ran = run_sealprint(job_args(dir_));
    ASSERT_EQ(ran.status, 0) << ran.out;
    EXPECT_TRUE(lines_starting(ran.out, "[Error] <sealprint> tag image").empty()) << ran.out;

    // A real picture is drawn in both frames.
    const result_paths_s ok = add_bright_field_result(dir_ + "/r1", "r1");
    ASSERT_TRUE(write_file(ok.tag, tiff_rgb(320, 240, [](int x, int) {
                               return pixel_s{static_cast<unsigned char>(x), 90, 30, 255};
                           })));
    ran = run_sealprint(job_args(dir_));
    ASSERT_EQ(ran.status, 0) << ran.out;
    EXPECT_EQ(camera_pictures(ok.pdf), 2);
}

}  // namespace
