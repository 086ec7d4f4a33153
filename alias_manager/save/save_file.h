#pragma once
// Saving to a file the user names, as one unit: the name is walked once to a
// directory descriptor and a final name (or one of the process's own
// descriptors), and everything after goes by them: the check that the file
// did not change on disk since this session last read or wrote it, the
// write, and what is remembered of the result. Reports go to standard error.

#include <functional>
#include <string_view>

#include "text_stream.h"

enum class answer { yes, no, end_of_input };
enum class save_result { saved, failed, end_of_input };

// Asks the user whether to overwrite a file that changed on disk.
using ask_function = std::function<answer()>;

// Writes through `fill` to the file `name` leads to (see held_file.h). A
// file that changed on disk since it was loaded or saved is overwritten
// only when `ask` says yes, asked again when it changes once more before it
// is replaced; "no" there, or the end of input there, writes nothing and is
// reported. The end of input at the first question returns `end_of_input`
// with nothing written or reported. Failures are reported as "Cannot save to
// 'NAME': REASON".
save_result save_file(std::string_view name, const fill_function& fill, const ask_function& ask);

// What the load of the record file `name` found: the file open at `fd`, once
// read, or (`remember_absent`) no file of that name.
void remember_loaded(std::string_view name, int fd);
void remember_absent(std::string_view name);

// Forgets every file remembered. The program never does; tests and the
// session fuzzer start each case from a session that has seen nothing.
void forget_files();
