// The alias manager program.

#include "command_line.h"
#include "menu.h"
#include "output_status.h"

namespace {

// Choice 8, and the end of input: ends the process with status 0, or 1 when
// standard output could not be written.
[[noreturn]] void UI_exit() {
    exit_after_output("alias_manager");
}

}  // namespace

int main(int argc, char* argv[]) {
    const command_line line = parse_command_line(argc, argv);
    if (line.request != command_request::session) answer_command_line(line);
    run_alias_manager(line.record_file);
    UI_exit();
}
