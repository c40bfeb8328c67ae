#include "protocol_merge.h"

#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>

namespace {

struct merged_s {
    merge_result_s result;
    std::string target;  // compact text of the target after the merge
};

merged_s merge(const char* target_text, const char* src_text) {
    rapidjson::Document target, src;
    target.Parse(target_text);
    src.Parse(src_text);
    EXPECT_FALSE(target.HasParseError() || src.HasParseError());
    merged_s m;
    m.result = merge_protocol(target, src);
    rapidjson::StringBuffer out;
    rapidjson::Writer<rapidjson::StringBuffer> writer(out);
    target.Accept(writer);
    m.target = out.GetString();
    return m;
}

TEST(ProtocolMerge, NamesTheOffendingMemberReadably) {
    const merged_s m = merge(R"({"a\"b\n":{"p":{}}})", R"({"a\"b\n":{"p":0}})");
    EXPECT_FALSE(m.result.ok);
    EXPECT_FALSE(m.result.in_target);
    EXPECT_EQ(m.result.member, R"(member "a\"b\u000a" > "p")");
}

TEST(ProtocolMerge, CopiesAnyValueWhoseKeyIsMissing) {
    // Only a member both sides have must be an object; a missing one is copied whatever it is.
    const merged_s m = merge(R"({"A":{}})", R"({"v":1,"A":{"list":[{"n":null}],"s":"x"}})");
    EXPECT_TRUE(m.result.ok);
    EXPECT_EQ(m.target, R"({"A":{"list":[{"n":null}],"s":"x"},"v":1})");
}

}  // namespace
