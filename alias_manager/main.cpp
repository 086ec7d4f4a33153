// The alias manager program. How a session ends is decided here, beside
// main, so that a test driver can link the same front end and end sessions
// its own way.

#include "command_line.h"
#include "dialogs.h"
#include "exit_status.h"
#include "menu.h"

void stop_at_end_of_input() {
    exit_after_output();
}

void UI_exit() {
    exit_after_output();
}

int main(int argc, char* argv[]) {
    const command_line line = parse_command_line(argc, argv);
    if (line.request == command_request::session) run_alias_manager(line.record_file);
    answer_command_line(line);
}
