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

TEST(ProtocolMerge, AddsMissingMembersAtEachLevelInDefaultOrder) {
    const merged_s m =
        merge(R"({"A":{"p1":{"x":1}},"Z":{}})",
              R"({"B":{"q":{"k":[1,2]}},"A":{"p2":{"y":2},"p1":{"z":3,"x":9,"w":4}},"C":5})");
    EXPECT_TRUE(m.result.ok);
    EXPECT_TRUE(m.result.changed);
    EXPECT_EQ(
        m.target,
        R"({"A":{"p1":{"x":1,"z":3,"w":4},"p2":{"y":2}},"Z":{},"B":{"q":{"k":[1,2]}},"C":5})");
}

TEST(ProtocolMerge, NeverTouchesWhatTheTargetHas) {
    const merged_s m = merge(R"({"A":{"p":{"x":"text","arr":[1],"obj":{"a":1}}}})",
                             R"({"A":{"p":{"x":{"deep":1},"arr":[1,2,3],"obj":{"b":2}}}})");
    EXPECT_TRUE(m.result.ok);
    EXPECT_FALSE(m.result.changed);
    EXPECT_EQ(m.target, R"({"A":{"p":{"x":"text","arr":[1],"obj":{"a":1}}}})");
}

TEST(ProtocolMerge, NamesTheMemberThatIsNotAnObject) {
    merged_s m = merge(R"({"A":{"p":{}}})", R"({"A":{"p":[]}})");
    EXPECT_FALSE(m.result.ok);
    EXPECT_FALSE(m.result.in_target);
    EXPECT_EQ(m.result.member, R"(member "A" > "p")");

    m = merge(R"({"A":1})", R"({"A":{}})");
    EXPECT_FALSE(m.result.ok);
    EXPECT_TRUE(m.result.in_target);
    EXPECT_EQ(m.result.member, R"(member "A")");

    m = merge(R"([])", R"({})");
    EXPECT_TRUE(m.result.in_target);
    EXPECT_EQ(m.result.member, "the root");

    m = merge(R"({"a\"b\n":{}})", R"({"a\"b\n":0})");
    EXPECT_EQ(m.result.member, R"(member "a\"b\u000a")");
}

TEST(ProtocolMerge, CopiesAnyValueWhoseKeyIsMissing) {
    // Only a member both sides have must be an object; a missing one is copied whatever it is.
    const merged_s m = merge(R"({"A":{}})", R"({"v":1,"A":{"list":[{"n":null}],"s":"x"}})");
    EXPECT_TRUE(m.result.ok);
    EXPECT_EQ(m.target, R"({"A":{"list":[{"n":null}],"s":"x"},"v":1})");
}

}  // namespace
