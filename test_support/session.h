#pragma once
// Runs the built alias_manager in a fresh temporary directory with a given
// default record file and standard input, and pieces of its expected output.

#include <optional>
#include <string>

#include "run_program.h"
#include "temp_dir.h"

inline const std::string menu =
    "====================\n"
    " 1) Add address       5) Display list               \n"
    " 2) Look up address   6) Display aliases for location\n"
    " 3) Update address    7) Save to file               \n"
    " 4) Delete address    8) Quit                       \n"
    "________\n"
    " Enter choice: ";
inline const std::string pause_line = "\n [Press Enter to Continue]\n";
inline const std::string loading = "Adding lines from file name: ZD482_Inet.txt\n";
inline const std::string init_done = "Init done\n___________________________\n\n";

// One menu pass: the menu, the separator, what the choice printed, the pause.
inline std::string pass(const std::string& output) {
    return menu + "____\n" + output + pause_line;
}

// The menu pass of choice 8, which ends the program.
inline const std::string quit = menu + "____\n";

// A record file of two records, what loading it prints, and its listing.
inline const std::string two_records = "10.0.0.1 web\n10.0.0.2 db\n";
inline const std::string two_loaded = loading +
                                      "Head is null, creating... web Done\n"
                                      "Checking for duplicate, then adding line... db Done adding\n" +
                                      init_done;
inline const std::string two_listed = " 10.  0.  0.  2 : db\n 10.  0.  0.  1 : web\nNumber of nodes: 2\n";

struct Session {
    TempDir dir;
    RunResult result;

    // `records`: content of the default record file; nullopt leaves it out.
    RunResult run(const std::optional<std::string>& records, const std::string& input,
                  RunOptions options = {}) {
        if (records) dir.write("ZD482_Inet.txt", *records);
        options.cwd = dir.path();
        options.input = input;
        result = run_program(ALIAS_MANAGER_BIN, options);
        return result;
    }
};
