#include "info_options.h"

#include "alias_tools_version.h"
#include "output_status.h"

#include <cstdio>
#include <string_view>

namespace {

void print_help() {
    std::printf(
        "Usage: launcher 'COMMAND [ARGUMENT...]'\n"
        "       launcher --help | --version\n"
        "Run one command line in a child process, with its standard error in the file\n"
        "\"Error Log.txt\" of the working directory and its standard output on the\n"
        "terminal, and report how the child stopped, continued and ended.\n"
        "The command line is the first argument, split at each single blank; quotes\n"
        "and backslashes have no special meaning, and further arguments are ignored.\n"
        "--help and --version are options only as the one and only argument.\n"
        "Manual: man launcher\n");
}

}  // namespace

void answer_help_or_version(int argc, const char* const argv[]) {
    if (argc != 2) return;
    const std::string_view arg = argv[1];
    if (arg == "--help") {
        print_help();
    } else if (arg == "--version") {
        std::printf("launcher (%s) %s\n", ALIAS_TOOLS_PACKAGE, ALIAS_TOOLS_VERSION);
    } else {
        return;
    }
    exit_after_output("launcher");
}
