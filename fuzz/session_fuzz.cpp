// Fuzz target for a whole alias_manager session, run in process: the input
// gives the default record file and standard input (layout in
// session_input.h). The session runs confined to a private directory until
// its input ends or it quits; a session that goes on after its input has
// ended is a hang, which libFuzzer's -timeout reports. Afterwards the table
// is checked and emptied for the next input.

#include <cstdint>

#include "address_tree.h"
#include "menu.h"
#include "record_file.h"
#include "session_checks.h"
#include "session_input.h"
#include "session_jail.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    jail_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const session_input input = split_session_input({reinterpret_cast<const char*>(data), size});
    jail_prepare(input.records, input.keys);
    jail_enter();
    run_alias_manager(init_file);
    jail_leave();

    const auto probes = addresses_a_session_may_store(input.records.value_or(""), input.keys);
    check_table(probes);
    while (head != nullptr) delete_func(head);
    check_table(probes);
    return 0;
}
