#include "command_line.h"

#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "alias_tools_version.h"
#include "default_record_file.h"
#include "output_status.h"

namespace {

constexpr int usage_error_status = 2;

command_line usage_error(std::string text) {
    return {command_request::usage_error, {}, std::move(text)};
}

void print_help() {
    std::printf(
        "Usage: alias_manager [--] [FILE]\n"
        "       alias_manager --help | --version\n"
        "Keep a table of IPv4 addresses by alias, and work on it through a menu of\n"
        "eight choices on the console. The table is loaded from FILE, by default\n"
        "ZD482_Inet.txt in the working directory; only choice 7 writes it to a file.\n"
        "\n"
        "  --help     print this help and exit\n"
        "  --version  print the version and exit\n"
        "  --         end the options: the next argument is FILE even if it begins\n"
        "             with '-'\n"
        "\n"
        "Exit status: 0 after choice 8 or at the end of standard input, 1 when\n"
        "standard output could not be written, 2 for a usage error.\n"
        "Manual: man alias_manager\n");
}

}  // namespace

command_line parse_command_line(int argc, const char* const argv[]) {
    command_line line{command_request::session, init_file, {}};
    if (argc < 2) return line;
    bool options_ended = false;
    bool operand_seen = false;
    for (std::string_view arg : std::span(argv + 1, static_cast<std::size_t>(argc - 1))) {
        if (!options_ended && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--") {
                options_ended = true;
            } else if (arg == "--help") {
                return {command_request::help, {}, {}};
            } else if (arg == "--version") {
                return {command_request::version, {}, {}};
            } else {
                return usage_error("unknown option '" + std::string(arg) + "'");
            }
            continue;
        }
        if (operand_seen) return usage_error("extra operand '" + std::string(arg) + "'");
        line.record_file = arg;
        operand_seen = true;
        options_ended = true;
    }
    return line;
}

void answer_command_line(const command_line& line) {
    if (line.request == command_request::usage_error) {
        std::fprintf(stderr, "alias_manager: %s; usage: alias_manager [--] [FILE] (see --help)\n",
                     line.error.c_str());
        std::exit(usage_error_status);
    }
    if (line.request == command_request::help) {
        print_help();
    } else {
        std::printf("alias_manager (%s) %s\n", ALIAS_TOOLS_PACKAGE, ALIAS_TOOLS_VERSION);
    }
    exit_after_output("alias_manager");
}
