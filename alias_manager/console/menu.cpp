// Start-up and the menu loop of the alias manager.

#include <cstdint>
#include <cstdio>

#include "answers.h"
#include "dialogs.h"
#include "menu.h"
#include "record_file.h"

namespace {

void print_menu() {
    std::printf("====================\n %-20s %-30s\n %-20s %-30s\n %-20s %-30s\n %-20s %-30s\n"
                "________\n Enter choice: ",
                "1) Add address", "5) Display list", "2) Look up address",
                "6) Display aliases for location", "3) Update address", "7) Save to file",
                "4) Delete address", "8) Quit");
}

// Reads the choice like "%d" followed by discarding the rest of the line;
// the previous choice stays when the line holds no number.
std::int32_t read_choice(std::int32_t previous) {
    const number_read choice = answer_number();
    skip_line(stdin);  // at end of input the pause below ends the session
    return choice.status == read_status::number ? choice.value : previous;
}

void run_choice(std::int32_t choice) {
    switch (choice) {
        case 1: UI_add_func(); break;
        case 2: UI_look_up(); break;
        case 3: UI_update(); break;
        case 4: UI_delete(); break;
        case 5: UI_display_list(); break;
        case 6: UI_display_aliases(); break;
        case 7: UI_save_to_file(); break;
        default: break;
    }
}

void pause_for_enter() {
    std::printf("\n [Press Enter to Continue]\n");
    discard_line();
}

}  // namespace

session_end run_alias_manager(std::string_view record_file) {
    init_func(record_file);
    display_list();
    std::int32_t choice = 0;
    try {
        for (;;) {
            print_menu();
            choice = read_choice(choice);
            std::printf("____\n");
            if (choice == 8) return session_end::quit;
            run_choice(choice);
            pause_for_enter();
        }
    } catch (const end_of_input&) {
        return session_end::end_of_input;
    }
}
