#pragma once
// Confinement of the fuzzed session. Menu choice 7 writes a file under any
// name the input spells, relative or absolute, and fuzzing may run as root:
// so each session runs chroot-ed into a private, empty directory (the jail).
// Between sessions the process returns to the real root through directory
// descriptors kept from before, because libFuzzer reads its corpus and writes
// new inputs and reports there.
//
// libFuzzer writes the input of a crash or time-out to its working directory
// ("./crash-..." by default); one that happens during a session therefore
// lands in the jail, whose path jail_init prints.

#include <optional>
#include <string_view>

// Sends standard output to /dev/null, creates the jail and a private file for
// standard input under $TMPDIR (default /tmp), and checks that the process can
// enter and leave the jail: as root, or else as root of a new user namespace.
// Exits with a message when it cannot. Everything is removed at normal exit.
void jail_init();

// Empties the jail, writes the default record file into it (none when
// `records` is nullopt), and reopens standard input on `keys`.
void jail_prepare(std::optional<std::string_view> records, std::string_view keys);

// Changes the root and working directory to the jail, and back.
void jail_enter();
void jail_leave();
