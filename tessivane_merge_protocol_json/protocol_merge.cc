#include "protocol_merge.h"

#include <cstdio>

namespace {

using rapidjson::Value;

// The value of dst's member named like m; when dst has none, appends a deep copy of m as its last
// member, sets changed and returns nullptr.
Value* find_or_add(Value& dst, const Value::Member& m, rapidjson::Document::AllocatorType& alloc,
                   bool& changed) {
    const auto found = dst.FindMember(m.name);
    if (found != dst.MemberEnd())
        return &found->value;
    Value name(m.name, alloc);
    Value value(m.value, alloc);
    dst.AddMember(name, value, alloc);
    changed = true;
    return nullptr;
}

merge_result_s shape_error(bool in_target, std::string member) {
    merge_result_s r;
    r.ok = false;
    r.in_target = in_target;
    r.member = std::move(member);
    return r;
}

// Error naming the first of (default, target) whose value is not an object, or ok.
merge_result_s need_objects(const Value& src, const Value& dst, const std::string& member) {
    if (!src.IsObject())
        return shape_error(false, member);
    if (!dst.IsObject())
        return shape_error(true, member);
    return {};
}

}  // namespace

std::string quoted_name(const Value& name) {
    std::string out = "\"";
    const char* s = name.GetString();
    for (rapidjson::SizeType i = 0; i < name.GetStringLength(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

merge_result_s merge_protocol(rapidjson::Document& target, const Value& src) {
    auto& alloc = target.GetAllocator();
    merge_result_s result = need_objects(src, target, "the root");
    if (!result.ok)
        return result;
    bool& changed = result.changed;
    for (auto src_mode = src.MemberBegin(); src_mode != src.MemberEnd(); ++src_mode) {
        Value* mode = find_or_add(target, *src_mode, alloc, changed);
        if (!mode)
            continue;
        const std::string mode_name = "member " + quoted_name(src_mode->name);
        const merge_result_s mode_shape = need_objects(src_mode->value, *mode, mode_name);
        if (!mode_shape.ok)
            return mode_shape;
        for (auto src_proto = src_mode->value.MemberBegin();
             src_proto != src_mode->value.MemberEnd(); ++src_proto) {
            Value* proto = find_or_add(*mode, *src_proto, alloc, changed);
            if (!proto)
                continue;
            const merge_result_s proto_shape = need_objects(
                src_proto->value, *proto, mode_name + " > " + quoted_name(src_proto->name));
            if (!proto_shape.ok)
                return proto_shape;
            // A parameter the target already has keeps its value, whatever the default says.
            for (auto param = src_proto->value.MemberBegin(); param != src_proto->value.MemberEnd();
                 ++param) {
                find_or_add(*proto, *param, alloc, changed);
            }
        }
    }
    return result;
}
