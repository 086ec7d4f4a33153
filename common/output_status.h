#pragma once
// How a program ends once it has written what it had to say. The C library
// drops the text of a write that failed; the reason of the first failure is
// kept here, told by the code that writes, so that the end can name it.

// Flushes standard output; false when that failed, whose reason is kept if
// it is the first.
bool flush_output();

// Flushes standard output and ends the process: with status 0 when all that
// was written to it got out, otherwise with "PROGRAM: write error: REASON" on
// standard error and status 1. A broken pipe normally never gets here:
// SIGPIPE has ended the process before.
[[noreturn]] void exit_after_output(const char* program);
