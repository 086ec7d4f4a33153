// The alias manager program. How a session ends is decided here, beside
// main, so that a test driver can link the same front end and end sessions
// its own way.

#include <cstdlib>

#include "dialogs.h"
#include "menu.h"

void stop_at_end_of_input() {
    std::exit(0);
}

void UI_exit() {
    std::exit(0);  // the normal exit writes out buffered output
}

int main() {
    run_alias_manager();
}
