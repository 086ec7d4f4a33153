#pragma once
// The end of an alias_manager process whose output went well or not.

// Flushes standard output and ends the process with status 0 when all that
// was written to it got out. Otherwise prints "alias_manager: write error:
// REASON" on standard error and ends with status 1. A broken pipe normally
// never gets here: SIGPIPE has ended the process before.
[[noreturn]] void exit_after_output();
