// The notice that a password was changed: the joining interface leaves it in
// <product_dir>/users/pw_changed.txt (the user name, no line end), and the device interface hands
// it to the next device that announces itself without a name.
#pragma once

#include <string>

#include "paths.h"

// Replaces the notice with `user_name` atomically (a new file renamed over the old one), so a
// reader never sees half a name. False when it could not be written; the old notice then stays.
bool write_password_notice(const std::string& user_name,
                           const std::string& product_dir = default_product_dir);

// Takes the notice, if there is one: first renames it to a name of its own, so a notice written
// meanwhile is left for the next claim instead of being deleted unread; then reads its first line
// (at most 31 bytes, without the line end; empty for an empty notice) into `user_name` and
// deletes it. False when there was no notice to take.
bool claim_password_notice(std::string& user_name,
                           const std::string& product_dir = default_product_dir);
