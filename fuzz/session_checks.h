#pragma once
// Checks of the table that a fuzzed session leaves behind.

#include <string_view>
#include <vector>

#include "record_line.h"

// Every address that the session may have stored at some time: those of the
// record lines the loader can read from `records`, and those that the add
// dialog (26 characters) or the update dialog (15 characters) can read from
// any position of `keys`, its standard input. A superset, sorted and unique.
std::vector<octet_array> addresses_a_session_may_store(std::string_view records, std::string_view keys);

// The tree holds valid, unique aliases in strict alias order and unique
// addresses, every record fits the line a save writes for it, and the
// duplicate-address test answers for each of `probes`
// exactly whether a record holds it. Aborts when any of this fails.
void check_table(const std::vector<octet_array>& probes);
