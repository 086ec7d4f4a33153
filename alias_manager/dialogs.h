#pragma once
// The console dialogs behind the menu choices.

#include "address_tree.h"

// Ends the program with status 0 when standard input has run out.
[[noreturn]] void stop_at_end_of_input();

void UI_display_list();
[[noreturn]] void UI_exit();
