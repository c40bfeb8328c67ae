#include "probe_run.h"

#include <gtest/gtest.h>

run_result_s probe(const std::vector<std::string>& args, double timeout_s) {
    std::vector<std::string> argv = {PROBE_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    run_options_s opt;
    opt.set_env = {{"TZ", "UTC"}};
    opt.timeout_s = timeout_s;
    run_result_s r = run_program(argv, opt);
    EXPECT_EQ(r.signal, 0) << r.err;
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
    return r;
}

std::vector<rapidjson::Document> json_lines(const std::string& out) {
    std::vector<rapidjson::Document> docs;
    for (const auto& line : lines_of(out)) {
        docs.emplace_back();
        docs.back().Parse(line.c_str());
        EXPECT_FALSE(docs.back().HasParseError()) << line;
        EXPECT_TRUE(docs.back().IsObject()) << line;
    }
    return docs;
}
