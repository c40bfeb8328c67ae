#include "json_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// A stream holding text, read from its start.
file_ptr stream_of(const std::string& text) {
    file_ptr fp(std::tmpfile());
    std::fwrite(text.data(), 1, text.size(), fp.get());
    std::rewind(fp.get());
    return fp;
}

// The error line of parsing text as "t.json", empty when it parses.
std::string parse_error(const std::string& text, rapidjson::Document& doc) {
    const file_ptr fp = stream_of(text);
    std::string error;
    const json_read_e read = parse_json_file(fp.get(), "t.json", doc, error);
    EXPECT_EQ(read == json_read_e::ok, error.empty()) << error;
    EXPECT_NE(read, json_read_e::unreadable);
    return error;
}

std::string parse_error(const std::string& text) {
    rapidjson::Document doc;
    return parse_error(text, doc);
}

// text parsed and written back.
std::string rewritten(const std::string& text) {
    rapidjson::Document doc;
    const std::string error = parse_error(text, doc);
    EXPECT_EQ(error, "");
    const file_ptr fp(std::tmpfile());
    EXPECT_TRUE(write_pretty(fp.get(), doc));
    std::fflush(fp.get());
    std::string out(static_cast<size_t>(std::ftell(fp.get())), '\0');
    std::rewind(fp.get());
    out.resize(std::fread(out.data(), 1, out.size(), fp.get()));
    return out;
}

}  // namespace

TEST(JsonFile, NamesWhereAndWhyTextIsNotJson) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"A": {"p": {"y": 1,}}})", "at offset 20: Missing a name for object member."},
        {"{} {}", "at offset 3: The document root must not be followed by other values."},
        {"// comment\n{}", "at offset 0: Invalid value."},
        {"", "at offset 0: The document is empty."},
        // Far deeper than any protocol; copying or writing it must not exhaust the stack.
        {R"({"A":{"p":{"deep":)" + std::string(200000, '[') + std::string(200000, ']') + "}}}",
         ": nested deeper than 1000 levels"},
        {"{\"A\":{\"p\":{\"name\":\"Zellz\xe4hlung\"}}}",
         "at offset 24: Invalid encoding in string."},
        {"{\"A\":{\"p\":{\"\xc0\xaf\":1}}}", "at offset 12: Invalid encoding in string."},
        {"{\"A\":{\"p\":{\"y\":\"\xed\xa0\x80\"}}}", "at offset 16: Invalid encoding in string."},
        {R"({"A":{"p":{"s":"\udc00"}}})", ": a string escapes an unpaired surrogate"},
        {R"({"A":{"\udfff":1}})", ": a name escapes an unpaired surrogate"},
    };
    for (const auto& [text, problem] : cases) {
        const std::string at = problem[0] == ':' ? "" : " ";
        EXPECT_EQ(parse_error(text), "Invalid JSON in t.json" + at + problem) << text.substr(0, 40);
    }
}

TEST(JsonFile, WritesPrettyWithoutTrailingNewline) {
    EXPECT_EQ(rewritten(R"({"M":{"P":{"int":-7,"real":0.1,"big":1e300,"neg0":-0.0,)"
                        R"("t":true,"n":null,"s":"a\"b\\c\/\u00e9\t\u0001","e":{},)"
                        R"("ea":[],"nested":[{"x":[]}],"u":18446744073709551615,)"
                        "\"emoji\":\"\xf0\x9f\x98\x80\\ud83d\\ude00\"}}}"),
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
              "            \"u\": 18446744073709551615,\n"
              "            \"emoji\": \"\xf0\x9f\x98\x80\xf0\x9f\x98\x80\"\n"
              "        }\n"
              "    }\n"
              "}");
}

// Every number reads back as the double it was read from, so a rewrite changes no value.
TEST(JsonFile, RewritingKeepsEveryNumberExactly) {
    std::mt19937_64 random(20261209);
    std::vector<double> values = {
        123456789.12345679, 0.1, 5e-324, 1.7976931348623157e308, 2.2250738585072014e-308,
        9007199254740993.0};
    std::uniform_real_distribution<double> ordinary(0, 1e9);
    while (values.size() < 800) {
        if (values.size() % 2) {
            values.push_back(ordinary(random));
        } else {
            const uint64_t bits = random();
            double d;
            std::memcpy(&d, &bits, sizeof d);
            if (std::isfinite(d))
                values.push_back(d);
        }
    }
    std::string text = "{";
    for (size_t i = 0; i < values.size(); ++i) {
        char number[40];
        std::snprintf(number, sizeof number, "%.17g", values[i]);
        text += (i ? ",\"d" : "\"d") + std::to_string(i) + "\":" + number;
    }
    const std::string written = rewritten(text + "}");
    for (size_t i = 0; i < values.size(); ++i) {
        const std::string key = "\"d" + std::to_string(i) + "\": ";
        const size_t at = written.find(key);
        ASSERT_NE(at, std::string::npos) << key;
        const char* number = written.c_str() + at + key.size();
        EXPECT_EQ(std::strtod(number, nullptr), values[i])
            << std::string(number, std::strcspn(number, ",\n")) << " was written for "
            << text.substr(text.find(key.substr(0, key.size() - 1)), 30);
    }
}
