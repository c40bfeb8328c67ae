// JSON texts for the files the programs read, built member by member so that a test writes only
// the members it is about. Members keep the order they are added in; the text reads like the
// installation's files: {"key": "value", "other": 2}.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class json_object_s {
public:
    json_object_s() = default;
    // An object of string members.
    json_object_s(std::initializer_list<std::pair<std::string, std::string>> texts);

    // A string member, quoted and escaped.
    json_object_s& text(const std::string& key, const std::string& value);
    // A member whose value goes in as written: a number, an array, a deliberately broken value.
    json_object_s& raw(const std::string& key, const std::string& json);

    std::string dump() const;

private:
    std::vector<std::pair<std::string, std::string>> members_;  // key, value as JSON text
};

// `s` as a JSON string: quoted, with quote, backslash and control characters escaped.
std::string json_quoted(const std::string& s);
