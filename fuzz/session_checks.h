#pragma once
// Checks of the table that a fuzzed session leaves behind.

// Aborts, naming the broken rule, unless check_invariants() finds the table
// sound.
void check_table();
