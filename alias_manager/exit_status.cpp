#include "exit_status.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console_input.h"

void exit_after_output() {
    errno = 0;
    const bool flush_failed = std::fflush(stdout) != 0;
    // A failure before the last prompt shows only in the error flag.
    const int reason = flush_failed ? errno : last_output_error();
    if (flush_failed || std::ferror(stdout)) {
        std::fprintf(stderr, "alias_manager: write error%s%s\n", reason != 0 ? ": " : "",
                     reason != 0 ? std::strerror(reason) : "");
        std::exit(1);
    }
    std::exit(0);
}
