#pragma once

#include <string_view>

// Loads the record file `record_file`, lists the table, then serves the menu.
// It does not return: the session ends through UI_exit or
// stop_at_end_of_input.
[[noreturn]] void run_alias_manager(std::string_view record_file);
