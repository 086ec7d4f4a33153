#pragma once

#include <string_view>

enum class session_end { quit, end_of_input };

// Loads the record file `record_file`, lists the table, then serves the menu
// until choice 8 or the end of standard input, and says which it was.
session_end run_alias_manager(std::string_view record_file);
