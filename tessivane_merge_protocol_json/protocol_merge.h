// Adds to a target protocol document every counting mode, protocol and parameter that a default
// document has and the target lacks. Existing target members are never touched.
#pragma once

#include <rapidjson/document.h>

#include <string>

struct merge_result_s {
    bool ok = true;
    bool changed = false;    // something was appended to the target
    bool in_target = false;  // when !ok: the target (not the default) has the wrong shape
    std::string member;      // when !ok: "the root" or member "mode" > "protocol"
};

// Both roots must be objects; a mode or protocol that both documents have must be an object in
// both. On a shape error the target may be partly merged in memory: the caller must not save it.
// Added members are deep copies made with target's allocator, appended in the default's order.
merge_result_s merge_protocol(rapidjson::Document& target, const rapidjson::Value& src);

// "\"name\"" with quotes, backslashes and control characters escaped, for messages.
std::string quoted_name(const rapidjson::Value& name);
