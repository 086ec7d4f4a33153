#pragma once
// The console dialogs behind the menu choices. Each prompts, reads standard
// input, calls the store and prints the outcome. A dialog that meets the end
// of input throws end_of_input (see answers.h).

#include "table_operations.h"

void UI_add_func();
const address_t* UI_look_up();
void UI_update();
void UI_delete();
void UI_display_list();
void UI_display_aliases();
void UI_save_to_file();
