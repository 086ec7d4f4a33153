#pragma once

// Loads the default record file, lists the table, then serves the menu. It
// does not return: the session ends through UI_exit or stop_at_end_of_input.
[[noreturn]] void run_alias_manager();
