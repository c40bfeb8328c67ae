#include "server_settings.h"

#include <cstdio>
#include <strings.h>
#include <sys/stat.h>

#include "decimal.h"
#include "files.h"

namespace {

constexpr server_info_s default_policy = {8, 3, 3, 5, 1, 0, 0};

struct policy_key {
    const char* key;
    int32_t server_info_s::*field;
};
constexpr policy_key policy_keys[] = {
    {"pw. Minimum length", &server_info_s::pw_min_length},
    {"pw. Change cycle", &server_info_s::pw_change_cycle},
    {"pw. Account lock", &server_info_s::pw_account_lock},
    {"msc. Auto logout", &server_info_s::auto_logout},
    {"msc. Self approval", &server_info_s::self_approval},
    {"msc. File transfer", &server_info_s::file_transfer},
};

// Reads the chosen file into `policy` (which starts from the defaults); -1 after printing why not.
int read_policy(const std::string& path, off_t size, server_info_s& policy) {
    if (size <= 0) {
        std::printf("get_server_info() : file size fail \n");
        return -1;
    }
    const unique_file file = open_for_reading(path);
    if (!file) {
        std::printf("get_server_info() : fopen fail \n");
        return -1;
    }
    rapidjson::Document doc;
    std::string problem;
    if (!parse_json_object(file.get(), doc, problem)) {
        std::printf("get_server_info() : json fail %s : %s \n", path.c_str(), problem.c_str());
        return -1;
    }
    for (const policy_key& k : policy_keys) {
        const auto member = doc.FindMember(k.key);
        if (member == doc.MemberEnd())
            continue;
        if (!member->value.IsString()) {
            std::printf("get_server_info() : json fail %s : \"%s\" is not a string \n",
                        path.c_str(), k.key);
            return -1;
        }
        const char* text = member->value.GetString();
        if (k.field == &server_info_s::self_approval)
            policy.*k.field = ::strcasecmp(text, "Off") == 0 ? 0 : 1;
        else
            policy.*k.field = c_decimal(text);
    }
    return 0;
}

}  // namespace

int get_server_info(server_info_s* info, const std::string& product_dir) {
    const std::string own = product_dir + "/settings/server_settings.json";
    const std::string fallback = product_dir + "/default/default_server.json";
    struct stat st {};
    const std::string* chosen = nullptr;
    if (::stat(own.c_str(), &st) == 0) {
        std::printf("get_server_info() : server_settings exist !!! \n");
        chosen = &own;
    } else if (::stat(fallback.c_str(), &st) == 0) {
        std::printf("get_server_info() : server_settings not exist !!! \n");
        chosen = &fallback;
    }

    const int32_t checksum = info->checksum;
    server_info_s policy = default_policy;
    const int result = chosen ? read_policy(*chosen, st.st_size, policy) : -1;
    *info = result == 0 ? policy : default_policy;
    info->checksum = checksum;
    return result;
}
