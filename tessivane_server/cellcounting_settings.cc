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

bool is(const char* text, const char* word) {
    return std::strcmp(text, word) == 0;
}

uint8_t low_byte_of_decimal(const char* text, const cellcounting_setting_s&) {
    return static_cast<uint8_t>(c_decimal(text));
}

uint8_t on(const char* text, const cellcounting_setting_s&) {
    return is(text, "On");
}

// Which devices a key is read for: all, or only those of one settings format.
enum class for_format_e { any, old_only, new_only };

// One key of the settings files and the byte it fills.
struct setting_s {
    const char* key;
    uint8_t cellcounting_setting_s::*field;
    // The byte's value for the key's text; `so_far` holds the bytes of the keys before it.
    uint8_t (*decode)(const char* text, const cellcounting_setting_s& so_far);
    for_format_e format;
    // The key as its WARN line names it, where that differs from the key.
    const char* warn_name;
};

// Read in this order; a missing key's WARN or ERROR line comes out before the next key is read.
const setting_s settings_table[] = {
    {"Slide type", &cellcounting_setting_s::slide_type, low_byte_of_decimal, for_format_e::any,
     nullptr},
    {"Chamber area", &cellcounting_setting_s::chamber_area,
     [](const char* text, const cellcounting_setting_s&) -> uint8_t {
         return is(text, "Current") ? 0 : is(text, "All") ? 1 : 2;
     },
     for_format_e::any, nullptr},
    {"Selected chamber", &cellcounting_setting_s::selected_chamber, low_byte_of_decimal,
     for_format_e::any, nullptr},
    // Read (and required) whatever the slide type; it counts only for slide type 3.
    {"Combine result", &cellcounting_setting_s::combine_result,
     [](const char* text, const cellcounting_setting_s& so_far) -> uint8_t {
         return so_far.slide_type == 3 && is(text, "On");
     },
     for_format_e::any, nullptr},
    {"Staining option", &cellcounting_setting_s::channel,
     [](const char* text, const cellcounting_setting_s&) -> uint8_t {
         return is(text, "Trypan") ? 0 : 1;
     },
     for_format_e::old_only, nullptr},
    {"Autofocusing channel in FL", &cellcounting_setting_s::channel,
     [](const char* text, const cellcounting_setting_s&) -> uint8_t {
         return is(text, "GF") ? 1 : is(text, "RF") ? 2 : 0;
     },
     for_format_e::new_only, nullptr},
    {"Autofocused counting", &cellcounting_setting_s::autofocused_counting, on, for_format_e::any,
     nullptr},
    // The stray "counting" in this WARN line stays: log readers match these lines as they are.
    {"Autofocus upon slide insertion", &cellcounting_setting_s::autofocus_upon_slide_insertion, on,
     for_format_e::any, "Autofocus upon slide insertion counting"},
};

struct settings_documents {
    std::string device_path;
    std::string default_path;
    rapidjson::Document device;
    rapidjson::Document defaults;
    bool took_defaults = false;

    // The text of a key: the device's own, else (with a WARN line) the default. Null after
    // printing why when neither file has it as a string.
    const char* text(const setting_s& setting) {
        const char* const key = setting.key;
        auto member = device.FindMember(key);
        const std::string* path = &device_path;
        if (member == device.MemberEnd()) {
            member = defaults.FindMember(key);
            if (member == defaults.MemberEnd()) {
                std::fprintf(stderr, "%s, ERROR: No - %s in default settings!\n", parser_name, key);
                return nullptr;
            }
            std::fprintf(stderr, "%s, WARN: No - %s in %s, taking from defaults\n", parser_name,
                         setting.warn_name ? setting.warn_name : key, device_path.c_str());
            path = &default_path;
            took_defaults = true;
        }
        if (!member->value.IsString()) {
            std::fprintf(stderr, "%s, json fail: %s: \"%s\" is not a string\n", parser_name,
                         path->c_str(), key);
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
    for (const setting_s& setting : settings_table) {
        if (setting.format != for_format_e::any) {
            if (new_format != 0 && new_format != 1) {
                std::fprintf(stderr, "%s\n", "Unknown cellcounting settings version!");
                return -1;
            }
            if ((setting.format == for_format_e::new_only) != (new_format == 1))
                continue;
        }
        const char* const text = docs.text(setting);
        if (!text)
            return -1;
        filled.*setting.field = setting.decode(text, filled);
    }
    *settings = filled;  // source and spare stay 0
    if (took_defaults)
        *took_defaults = docs.took_defaults;
    return 1;
}
