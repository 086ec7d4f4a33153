// Fuzz target for a whole alias_manager session, run in process: the input
// gives the default record file and standard input (layout in
// session_input.h). The session runs confined to a private directory until
// its input ends or it quits; a session that goes on after its input has
// ended is a hang, which libFuzzer's -timeout reports. The table checks
// itself after every change; afterwards it is checked once more and emptied
// for the next input.

#include <cstdint>

#include "table_operations.h"
#include "menu.h"
#include "record_file.h"
#include "session_checks.h"
#include "session_input.h"
#include "session_jail.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    jail_init();
    check_invariants_after_every_change();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const session_input input = split_session_input({reinterpret_cast<const char*>(data), size});
    jail_prepare(input.records, input.keys);
    jail_enter();
    run_alias_manager(init_file);
    jail_leave();

    check_table();
    clear_table();
    forget_files();
    return 0;
}
