#include "cellcounting_settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "decimal.h"
#include "files.h"

namespace {

// The serial as text, never read past its field on the wire.
std::string serial_text(const char* serial) {
    return serial ? std::string(serial, strnlen(serial, sizeof(device_announce_s::serial))) : "";
}

std::string device_settings_path(const std::string& product_dir, const std::string& serial) {
    return product_dir + "/settings/" + serial + "_cellcounting_settings.json";
}

std::string default_settings_path(const std::string& product_dir) {
    return product_dir + "/default/cellcounting_settings.json";
}

// Copies `from` over `to` keeping the mode, the owner (where permitted) and the times, as cp -p.
bool copy_preserving(const std::string& from, const std::string& to) {
    const unique_fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0)
        return false;
    // Synced by the replace: an empty file left by a power cut would never be copied again.
    return replace_file_atomically(to, st.st_mode & 07777, [&](int out) {
        char buffer[8192];
        ssize_t n;
        while ((n = ::read(in.get(), buffer, sizeof buffer)) != 0) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || !write_all(out, buffer, static_cast<size_t>(n)))
                return false;
        }
        // Only root may give the copy another owner; like cp -p, keep going without it.
        [[maybe_unused]] const int owner_kept = ::fchown(out, st.st_uid, st.st_gid);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        return ::futimens(out, times) == 0;
    });
}

const char* const parser_name = "settings_json_parser";

struct setting_key {
    const char* key;
    const char* warn_format;  // function name, device file path
    const char* error_text;
};

// Lookup order is the order of this table; `channel` uses one of the two channel keys.
enum setting_index_e {
    slide_type_key,
    chamber_area_key,
    selected_chamber_key,
    combine_result_key,
    staining_option_key,
    autofocusing_channel_key,
    autofocused_counting_key,
    autofocus_upon_slide_insertion_key,
};
constexpr setting_key setting_keys[] = {
    {"Slide type", "%s, WARN: No - Slide type in %s, taking from defaults\n",
     "ERROR: No - Slide type in default settings!"},
    {"Chamber area", "%s, WARN: No - Chamber area in %s, taking from defaults\n",
     "ERROR: No - Chamber area in default settings!"},
    {"Selected chamber", "%s, WARN: No - Selected chamber in %s, taking from defaults\n",
     "ERROR: No - Selected chamber in default settings!"},
    {"Combine result", "%s, WARN: No - Combine result in %s, taking from defaults\n",
     "ERROR: No - Combine result in default settings!"},
    {"Staining option", "%s, WARN: No - Staining option in %s, taking from defaults\n",
     "ERROR: No - Staining option in default settings!"},
    {"Autofocusing channel in FL",
     "%s, WARN: No - Autofocusing channel in FL in %s, taking from defaults\n",
     "ERROR: No - Autofocusing channel in FL in default settings!"},
    {"Autofocused counting", "%s, WARN: No - Autofocused counting in %s, taking from defaults\n",
     "ERROR: No - Autofocused counting in default settings!"},
    // The stray "counting" in this WARN line stays: log readers match these lines as they are.
    {"Autofocus upon slide insertion",
     "%s, WARN: No - Autofocus upon slide insertion counting in %s, taking from defaults\n",
     "ERROR: No - Autofocus upon slide insertion in default settings!"},
};

struct settings_documents {
    std::string device_path;
    std::string default_path;
    rapidjson::Document device;
    rapidjson::Document defaults;
    mutable bool took_defaults = false;

    // The text of a key: the device's own, else (with a WARN line) the default. Null after
    // printing why when neither file has it as a string.
    const char* text(setting_index_e index) const {
        const setting_key& k = setting_keys[index];
        auto member = device.FindMember(k.key);
        const std::string* path = &device_path;
        if (member == device.MemberEnd()) {
            member = defaults.FindMember(k.key);
            if (member == defaults.MemberEnd()) {
                std::fprintf(stderr, "%s, %s\n", parser_name, k.error_text);
                return nullptr;
            }
            std::fprintf(stderr, k.warn_format, parser_name, device_path.c_str());
            path = &default_path;
            took_defaults = true;
        }
        if (!member->value.IsString()) {
            std::fprintf(stderr, "%s, json fail: %s: \"%s\" is not a string\n", parser_name,
                         path->c_str(), k.key);
            return nullptr;
        }
        return member->value.GetString();
    }
};

bool parse_settings_file(std::FILE* file, const std::string& path, rapidjson::Document& doc) {
    std::string problem;
    if (parse_json_object(file, doc, problem))
        return true;
    std::fprintf(stderr, "%s, json fail: %s: %s\n", parser_name, path.c_str(), problem.c_str());
    return false;
}

bool is(const char* text, const char* word) {
    return std::strcmp(text, word) == 0;
}

}  // namespace

int64_t protocol_json_parser(const char* serial, int& bf, int& fl, const std::string& product_dir) {
    const std::string id = serial_text(serial);
    const std::string path = product_dir + "/settings/" + id + ".json";
    struct stat st;
    if (!is_safe_path_component(id) || ::stat(path.c_str(), &st) != 0) {
        std::printf("stat fail: %s\n", path.c_str());
        return -1;
    }
    if (st.st_size <= 0) {
        std::printf("file size fail\n");
        return -1;
    }
    rapidjson::Document doc;
    {
        const unique_file file = open_for_reading(path);
        if (!file) {
            std::printf("fopen fail\n");
            return -1;
        }
        std::string problem;
        if (!parse_json_object(file.get(), doc, problem)) {
            std::printf("json fail: %s: %s\n", path.c_str(), problem.c_str());
            return -1;
        }
    }

    static const struct {
        const char* key;
        const char* missing;
    } groups[] = {
        {"BF_TOTAL_CELL_COUNTING", "Threre are no [BF - Total cell counting] protocols "},
        {"BF_CELL_COUNTING_VIABILITY", "Threre are no [BF - Cell counting & Viability] protocols "},
        {"FL_CELL_LINES_PRIMARY_CELLS",
         "Threre are no [FL - Cell lines & Primary cells] protocols "},
        {"FL_ADVANCED", "Threre are no [FL - Cell lines & Primary cells, Advanced] protocols "},
    };
    uint32_t counts[4];
    for (size_t i = 0; i < 4; ++i) {
        const auto member = doc.FindMember(groups[i].key);
        if (member == doc.MemberEnd()) {
            std::printf("%s\n", groups[i].missing);
            return -1;
        }
        if (!member->value.IsObject()) {
            std::printf("json fail: %s: [%s] is not an object\n", path.c_str(), groups[i].key);
            return -1;
        }
        counts[i] = member->value.MemberCount();
    }
    bf = static_cast<int>(counts[0] << 16 | (counts[1] & 0xFFFF));
    fl = static_cast<int>(counts[2] << 16 | (counts[3] & 0xFFFF));
    return st.st_mtime;
}

int settings_mem_to_json(const char* serial, cellcounting_setting_s* settings,
                         const std::string& product_dir) {
    if (settings->source != 0)
        return 0;
    const std::string id = serial_text(serial);
    if (is_safe_path_component(id)) {
        const std::string path = device_settings_path(product_dir, id);
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            copy_preserving(default_settings_path(product_dir), path);
    }
    return -1;
}

int settings_json_parser(const char* serial, cellcounting_setting_s* settings, int new_format,
                         const std::string& product_dir, bool* took_defaults) {
    if (settings->source == 1) {
        std::printf("%s, from dev \n", parser_name);
        return -1;
    }
    const std::string id = serial_text(serial);
    settings_documents docs;
    docs.device_path = device_settings_path(product_dir, id);
    docs.default_path = default_settings_path(product_dir);
    struct stat st;
    if (!is_safe_path_component(id) || ::stat(docs.device_path.c_str(), &st) != 0) {
        std::printf("%s, stat fail \n", parser_name);
        return -1;
    }
    if (st.st_size <= 0) {
        std::printf("%s, file size fail \n", parser_name);
        return -1;
    }
    {
        const unique_file device_file = open_for_reading(docs.device_path);
        const unique_file default_file = open_for_reading(docs.default_path);
        if (!device_file || !default_file) {
            std::printf("%s, fopen fail\n", parser_name);
            return -1;
        }
        if (!parse_settings_file(device_file.get(), docs.device_path, docs.device) ||
            !parse_settings_file(default_file.get(), docs.default_path, docs.defaults))
            return -1;
    }

    cellcounting_setting_s filled{};
    const char* text;
    if (!(text = docs.text(slide_type_key)))
        return -1;
    filled.slide_type = static_cast<uint8_t>(c_decimal(text));
    if (!(text = docs.text(chamber_area_key)))
        return -1;
    filled.chamber_area = is(text, "Current") ? 0 : is(text, "All") ? 1 : 2;
    if (!(text = docs.text(selected_chamber_key)))
        return -1;
    filled.selected_chamber = static_cast<uint8_t>(c_decimal(text));
    if (!(text = docs.text(combine_result_key)))
        return -1;
    filled.combine_result = filled.slide_type == 3 && is(text, "On");
    if (new_format == 0) {
        if (!(text = docs.text(staining_option_key)))
            return -1;
        filled.channel = is(text, "Trypan") ? 0 : 1;
    } else if (new_format == 1) {
        if (!(text = docs.text(autofocusing_channel_key)))
            return -1;
        filled.channel = is(text, "GF") ? 1 : is(text, "RF") ? 2 : 0;
    } else {
        std::fprintf(stderr, "%s\n", "Unknown cellcounting settings version!");
        return -1;
    }
    if (!(text = docs.text(autofocused_counting_key)))
        return -1;
    filled.autofocused_counting = is(text, "On");
    if (!(text = docs.text(autofocus_upon_slide_insertion_key)))
        return -1;
    filled.autofocus_upon_slide_insertion = is(text, "On");

    *settings = filled;  // source and spare stay 0
    if (took_defaults)
        *took_defaults = docs.took_defaults;
    return 1;
}
