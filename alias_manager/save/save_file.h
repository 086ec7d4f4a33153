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

// What a save asks before it overwrites a file.
enum class question {
    partly_loaded,    // the session loaded only part of it
    changed_on_disk,  // it changed on disk since the session read or wrote it
};

// Asks the user a question about the file to be overwritten.
using ask_function = std::function<answer(question)>;

// Writes through `fill` to the file `name` leads to (see held_file.h). A
// file that the session loaded only in part is overwritten only when `ask`
// says yes to question::partly_loaded; "no" writes nothing and is reported.
// A file that changed on disk since it was loaded or saved is overwritten
// only when `ask` says yes to question::changed_on_disk (after the other
// question, where both apply), asked again when it changes once more before
// it is replaced; "no" there, or the end of input there, writes nothing and
// is reported. The end of input at the first question of either kind
// returns `end_of_input` with nothing written or reported. Failures are
// reported as "Cannot save to 'NAME': REASON".
save_result save_file(std::string_view name, const fill_function& fill, const ask_function& ask);

// What the load of the record file `name` found: the file open at `fd`, once
// read, or (`remember_absent`) no file of that name.
void remember_loaded(std::string_view name, int fd);
void remember_absent(std::string_view name);

// The load of `name`, just remembered, took only part of the file (a read
// error ended it, or a record was refused for lack of memory). A save that
// would overwrite that file asks first; one that completes clears the mark.
void mark_partly_loaded(std::string_view name);

// Forgets every file remembered. The program never does; tests and the
// session fuzzer start each case from a session that has seen nothing.
void forget_files();
