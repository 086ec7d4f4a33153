#pragma once
// The new text of a save, as a C stream that the caller fills: written to a
// descriptor through short writes and interruptions, or only counted.

#include <sys/types.h>

#include <cstdio>
#include <functional>

#include "unique_fd.h"

// Writes the new text into the stream it is given.
using fill_function = std::function<void(std::FILE*)>;

struct filled {
    int error = 0;     // errno value of the first failure
    off_t length = 0;  // the bytes written, or counted
};

// Writes what `fill` puts in its stream to `fd`, from the descriptor's own
// offset and with its own flags; with `fd` -1, only counts it.
filled fill_descriptor(int fd, const fill_function& fill);

// Closes `fd`, which a save wrote: a failure here is the save's failure. 0
// or the errno value.
int close_written(unique_fd& fd);
