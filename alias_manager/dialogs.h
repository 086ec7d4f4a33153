#pragma once
// The console dialogs behind the menu choices. Each prompts, reads standard
// input, calls the store and prints the outcome.

#include "address_tree.h"

// Ends the session when standard input has run out, with status 0. Defined
// beside main, like UI_exit.
[[noreturn]] void stop_at_end_of_input();

void UI_add_func();
address_t* UI_look_up();
void UI_update();
void UI_delete();
void UI_display_list();
void UI_display_aliases();
void UI_save_to_file();
// Choice 8: ends the session with status 0. Defined beside main.
[[noreturn]] void UI_exit();
