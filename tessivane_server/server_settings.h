// The site's password and logout policy, read afresh for every server-information request.
#pragma once

#include <string>

#include "paths.h"
#include "wire.h"

// Fills the six policy fields of `info` from <product_dir>/settings/server_settings.json, or from
// <product_dir>/default/default_server.json when the first does not exist. Every member is a JSON
// string: "pw. Minimum length", "pw. Change cycle", "pw. Account lock", "msc. Auto logout" and
// "msc. File transfer" are read like atoi; "msc. Self approval" is 0 for "Off" in any letter case,
// else 1. A missing member takes its default: 8, 3, 3, 5, 1, 0 in field order.
//
// Returns 0 when the fields were filled from a file, -1 otherwise; after -1 the six fields hold
// those defaults, so a reply that is still sent carries a sane policy. `checksum` is left alone.
// Standard output: "get_server_info() : server_settings exist !!! " (own file chosen) or
// "get_server_info() : server_settings not exist !!! " (default chosen); then on failure one of
// "get_server_info() : file size fail ", "get_server_info() : fopen fail ",
// "get_server_info() : json fail <path> : <problem> " (not valid JSON, not an object, or
// "<key>" is not a string). Nothing at all when neither file exists.
int get_server_info(server_info_s* info, const std::string& product_dir = default_product_dir);
