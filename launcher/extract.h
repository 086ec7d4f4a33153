#pragma once
// Splitting of the launcher's command line into the word vector for execvp.

// Splits argv[1] at every blank (the single character ' '; tabs and other
// white space are ordinary characters). Consecutive, leading and trailing
// blanks give empty words; an empty argument gives one empty word. Quotes and
// backslashes have no special meaning.
//
// Returns a new[]-allocated vector of new[]-allocated, null-terminated words,
// ending in a null entry; release it with free_words. Only argv[1] is read;
// returns nullptr when argv[1] is null (no argument given).
char** extract_func(const char* const argv[]);

// Releases a vector returned by extract_func; accepts nullptr.
void free_words(char** words);
