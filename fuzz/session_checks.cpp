#include "session_checks.h"

#include <cstdio>

#include "alias_table.h"
#include "fuzz_check.h"

void check_table() {
    const std::string broken = check_invariants();
    if (!broken.empty()) std::fprintf(stderr, "alias table: %s\n", broken.c_str());
    FUZZ_CHECK(broken.empty());
}
