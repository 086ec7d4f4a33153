#include "dialogs.h"

#include <cstdio>
#include <optional>
#include <string>

#include "answers.h"
#include "record_file.h"

// The longest entries of the dialogs but the record line, in characters.
namespace entry_limit {

inline constexpr std::size_t new_address = 15;

// A look-up entry: an alias, or one character more to tell a longer entry.
inline constexpr std::size_t look_up = alias_max_length + 1;

inline constexpr std::size_t file_name = 255;

}  // namespace entry_limit

namespace {

// Longest deletion answer that can be valid: "y" and its newline.
constexpr std::size_t answer_max = 2;

// A line of at most `max_chars`, or nullopt when the line goes on past that
// with text that is not blank; the rest of such a line is discarded.
std::optional<std::string> answer_entry(std::size_t max_chars) {
    line_read line = answer_line(max_chars);
    if (!line.whole && !rest_of_line_is_blank(stdin)) return std::nullopt;
    return line.text;
}

// The whole answer line without its line end. A line longer than any valid
// answer is read to its end and comes back cut, still invalid.
std::string read_answer() {
    line_read answer = answer_line(answer_max);
    if (!answer.whole) skip_line(stdin);
    return answer.text;
}

// Asks `question` until the answer is a whole line "y" or "n".
bool confirmed(const char* question) {
    for (;;) {
        std::printf("%s", question);
        const std::string reply = read_answer();
        if (reply == "y") return true;
        if (reply == "n") return false;
        std::printf("Only character 'y' or 'n' accepted, re-enter\n");
    }
}

// Whether to overwrite the file that a save `asked` about.
answer ask_overwrite(question asked) {
    const char* text = asked == question::partly_loaded
                           ? "Only part of this file was loaded, overwrite? (y/n): "
                           : "File changed on disk since it was last read or saved, overwrite? (y/n): ";
    try {
        return confirmed(text) ? answer::yes : answer::no;
    } catch (const end_of_input&) {
        return answer::end_of_input;
    }
}

std::int32_t read_locality(const char* prompt) {
    std::int32_t value = -1;
    std::printf("%s", prompt);
    for (;;) {
        const number_read entry = answer_number();
        if (entry.status == read_status::number) {
            value = entry.value;
        } else {
            skip_line(stdin);  // text that is no number would be found again
        }
        if (value >= 0 && value <= 255) return value;
        std::printf("Invalid, please enter a number between 0 and 255, inclusive. \n");
        std::printf("%s", prompt);
    }
}

}  // namespace

void UI_add_func() {
    std::printf("Enter input (formatted as [address] [alias], e.g: '1.1.1.1 abc'): ");
    std::optional<std::string> line = answer_entry(entry_limit::record_line);
    if (!line) {
        std::printf("Invalid format, expected [address] [alias], skipping.\n");
        return;
    }
    add_func(*line);
}

const address_t* UI_look_up() {
    std::printf("Enter alias to look up: ");
    const line_read alias = answer_line(entry_limit::look_up);
    // The echo shows the newline of a whole entry, so an empty line follows.
    std::printf("Typed alias: %s%s\n", alias.text.c_str(), alias.whole ? "\n" : "");
    if (!alias.whole) std::printf("String entered too long, max length 10 characters.\n");
    const address_t* record = lookup_func_wrapper(alias.text);
    if (record == nullptr) {
        std::printf("Alias not found\n");
        return nullptr;
    }
    std::printf("Address found: %d.%d.%d.%d\n", record->octet[0], record->octet[1], record->octet[2],
                record->octet[3]);
    return record;
}

void UI_update() {
    const address_t* record = UI_look_up();
    if (record == nullptr) return;
    std::printf("Enter new address (Please add a space in the end, like '0.0.0.0 '): ");
    std::optional<std::string> entry = answer_entry(entry_limit::new_address);
    auto octet = entry ? parse_address(*entry) : std::nullopt;
    // The record must load back from its saved line. An address of at most
    // 15 typed characters is never written longer, so this always holds; it
    // guards a longer limit.
    if (!octet || !fits_record_line(*octet, alias_of(*record))) {
        std::printf("Invalid address, skipping\n");
        return;
    }
    std::printf("%d %d %d %d", (*octet)[0], (*octet)[1], (*octet)[2], (*octet)[3]);
    if (find_duplicate_octet(head, *octet)) {
        std::printf("Duplicate detected, skipping\n");
        return;
    }
    update_octet(record, *octet);
}

void UI_delete() {
    const address_t* record = UI_look_up();
    if (record == nullptr || !confirmed("Confirm deletion? (y/n): ")) return;
    std::printf("Deleting\n");
    delete_func(record);
}

void UI_display_list() {
    display_list();
}

void UI_display_aliases() {
    std::int32_t first = read_locality("Enter first address location: ");
    std::int32_t second = read_locality("Enter second address location: ");
    std::printf("___________\nList of alias that the address %d.%d: \n", first, second);
    display_aliases(first, second);
    answer_char();  // the newline after the second number
}

void UI_save_to_file() {
    std::printf("Enter file name to be saved (max 255 characters): ");
    // One character more than a name may have tells a longer one.
    const line_read name = answer_line(entry_limit::file_name + 1);
    if (!name.whole) {
        std::printf("String entered too long, max length 255 characters, exiting.\n");
        return;
    }
    const save_result result = save_to_file_wrapper(name.text, ask_overwrite);
    if (result == save_result::end_of_input) throw end_of_input{};
    std::printf("Typed file name (to confirm): %s\n", name.text.c_str());
    std::fputs(result == save_result::saved ? "Write successfully" : "Write failed", stdout);
}
