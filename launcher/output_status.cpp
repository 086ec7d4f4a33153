#include "output_status.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
int output_error = 0;
}

void note_output_error(int error) {
    if (output_error == 0) output_error = error;
}

void exit_after_output() {
    errno = 0;
    const bool flush_failed = std::fflush(stdout) != 0;
    const int reason = flush_failed ? errno : output_error;
    if (flush_failed || std::ferror(stdout)) {
        std::fprintf(stderr, "launcher: write error%s%s\n", reason != 0 ? ": " : "",
                     reason != 0 ? std::strerror(reason) : "");
        std::exit(1);
    }
    std::exit(0);
}
