#include "output_status.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int first_error = 0;

}  // namespace

bool flush_output() {
    errno = 0;
    if (std::fflush(stdout) == 0) return true;
    if (first_error == 0) first_error = errno;
    return false;
}

void exit_after_output(const char* program) {
    // A failed write inside printf shows only in the error flag.
    if (!flush_output() || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: write error%s%s\n", program, first_error != 0 ? ": " : "",
                     first_error != 0 ? std::strerror(first_error) : "");
        std::exit(1);
    }
    std::exit(0);
}
