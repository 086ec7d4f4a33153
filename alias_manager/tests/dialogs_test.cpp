#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "session.h"

namespace {

using namespace std::string_literals;

// mid is the root; beta (with children alpha and gamma) on its left, zeta on its right.
const std::string records = "10.1.0.1 mid\n10.1.0.2 beta\n10.2.0.3 zeta\n10.1.0.4 alpha\n10.1.0.5 gamma\n";

std::string added(const std::string& alias) {
    return "Checking for duplicate, then adding line... " + alias + " Done adding\n";
}

const std::string duplicate = "Checking for duplicate, then adding line... "
                              "Duplicate alias or octet detected, skipping.\n";
const std::string listing = " 10.  1.  0.  4 : alpha\n 10.  1.  0.  2 : beta\n 10.  1.  0.  5 : gamma\n"
                            " 10.  1.  0.  1 : mid\n 10.  2.  0.  3 : zeta\nNumber of nodes: 5\n";
const std::string start = loading + "Head is null, creating... mid Done\n" + added("beta") + added("zeta") +
                          added("alpha") + added("gamma") + init_done + listing;

const std::string add_prompt = "Enter input (formatted as [address] [alias], e.g: '1.1.1.1 abc'): ";
const std::string lookup_prompt = "Enter alias to look up: ";
const std::string address_prompt = "Enter new address (Please add a space in the end, like '0.0.0.0 '): ";
const std::string confirm = "Confirm deletion? (y/n): ";
const std::string reenter = "Only character 'y' or 'n' accepted, re-enter\n";
const std::string first_prompt = "Enter first address location: ";
const std::string second_prompt = "Enter second address location: ";
const std::string invalid = "Invalid, please enter a number between 0 and 255, inclusive. \n";
const std::string save_prompt = "Enter file name to be saved (max 255 characters): ";

std::string found(const std::string& typed, const std::string& address) {
    return lookup_prompt + "Typed alias: " + typed + "\nAddress found: " + address + "\n";
}

std::string locality(int first, int second) {
    return "___________\nList of alias that the address " + std::to_string(first) + "." +
           std::to_string(second) + ": \n";
}

// Runs a session on `records` and checks the whole output and status.
void expect_session(const std::string& input, const std::string& output, Session& s) {
    s.run(records, input);
    EXPECT_TRUE(s.result.exited_with(0)) << input;
    EXPECT_EQ(s.result.out, start + output) << input;
}

void expect_session(const std::string& input, const std::string& output) {
    Session s;
    expect_session(input, output, s);
}

TEST(AddDialog, AddsAndRefusesDuplicates) {
    expect_session("1\n1.2.3.4 new one\n\n1\n10.1.0.5 other\n\n1\n9.9.9.9 mid\n\n8\n",
                   pass(add_prompt + added("new one")) + pass(add_prompt + duplicate) +
                       pass(add_prompt + duplicate) + quit);
}

TEST(AddDialog, EntryOfTwentySixIsWholeAndLongerIsRefused) {
    const std::string refused = "Invalid format, expected [address] [alias], skipping.\n";
    // 26 characters, or more whose excess is blank: the newline is left for the
    // pause, which returns at once.
    expect_session("1\n255.255.255.255 abcdefghij\n1\n1.2.3.4" + std::string(15, ' ') + "fits  \t\r\n8\n",
                   pass(add_prompt + added("abcdefghij")) + pass(add_prompt + added("fits")) + quit);
    // 26 characters that a save would write as 27 (a blank before the alias)
    // are refused, with no progress text: the reloaded file would differ.
    expect_session("1\n1111111111.1.1.1abcdefghij\n1\n1111111111.1.1.1 abcdefghi\n8\n",
                   pass(add_prompt + refused) + pass(add_prompt + added("abcdefghi")) + quit);
    // Text past the limit refuses the entry; the rest of the line is never read
    // as an answer, so the pause waits for a fresh Enter (here the 5 line).
    expect_session("1\n100.200.300.400  webserver1\n5\n2\nwebserver\n\n8\n",
                   pass(add_prompt + refused) +
                       pass(lookup_prompt + "Typed alias: webserver\n\nAlias not found\n") + quit);
    // 25 characters and the newline: the line after it is not part of the
    // entry; the pause takes it.
    expect_session("1\n255.255.255.25 abcdefghij\nxyz\n2\nabcdefghij\n\n8\n",
                   pass(add_prompt + added("abcdefghij")) + pass(found("abcdefghij\n", "255.255.255.25")) + quit);
    // A NUL byte anywhere in the entry refuses it, even after a whole record.
    expect_session("1\n\n\n1\nnonsense\n\n1\n1.2.3.4 x\0y\n\n8\n"s,
                   pass(add_prompt) + pass(add_prompt + refused) + pass(add_prompt + refused) + quit);
}

TEST(LookUpDialog, ExactAliasUpToTenCharacters) {
    Session s;
    s.run(records + "1.1.1.1 abcdefghij\n1.1.1.2 be\n",
          "2\nabcdefghij\n\n2\nabcdefghijk\n2\n beta\n\n2\nbeta \n\n2\nbe\0ta\n\n2\nbe!\n\n8\n"s);
    const std::string not_found = "Alias not found\n";
    EXPECT_EQ(s.result.out.substr(s.result.out.find(menu)),
              pass(found("abcdefghij\n", "1.1.1.1")) +
                  pass(lookup_prompt + "Typed alias: abcdefghijk\n" +
                       "String entered too long, max length 10 characters.\n" + not_found) +
                  pass(lookup_prompt + "Typed alias:  beta\n\n" + not_found) +
                  pass(lookup_prompt + "Typed alias: beta \n\n" + not_found) +
                  pass(lookup_prompt + "Typed alias: be\n\n" + not_found) +  // no match on "be" either
                  pass(lookup_prompt + "Typed alias: be!\n\n" + not_found) + quit);
}

TEST(UpdateDialog, RefusesHeldAddressesAndKeepsOrder) {
    const std::string beta = found("beta\n", "10.1.0.2");
    expect_session("3\nbeta\n10.1.0.2 \n\n3\nbeta\n10.1.0.1 \n\n3\nbeta\n192.168.7.7 \n\n5\n\n8\n",
                   pass(beta + address_prompt + "10 1 0 2Duplicate detected, skipping\n") +
                       pass(beta + address_prompt + "10 1 0 1Duplicate detected, skipping\n") +
                       pass(beta + address_prompt + "192 168 7 7") +
                       pass(" 10.  1.  0.  4 : alpha\n192.168.  7.  7 : beta\n 10.  1.  0.  5 : gamma\n"
                            " 10.  1.  0.  1 : mid\n 10.  2.  0.  3 : zeta\nNumber of nodes: 5\n") +
                       quit);
}

TEST(UpdateDialog, FifteenCharactersAndUnreadableEntries) {
    const std::string beta = found("beta\n", "10.1.0.2");
    const std::string refused = "Invalid address, skipping\n";
    // Fifteen characters and a blank excess: the newline is left for the pause.
    // Text past fifteen characters refuses the entry and its whole line.
    expect_session("3\nbeta\n 192.168.100.200\n5\n3\nbeta\n-1.+2.3.4000000000000\n\n"
                   "3\nbeta\n192.168.100.200 \n3\nbeta\nhello\n\n3\nbeta\n1.2.3\n\n3\nbeta\n1.2.3.4\0 \n\n"
                   "3\nnobody\n\n8\n"s,
                   pass(beta + address_prompt + refused) + pass(beta + address_prompt + refused) +
                       pass(beta + address_prompt + "192 168 100 200") +
                       pass(found("beta\n", "192.168.100.200") + address_prompt + refused) +
                       pass(found("beta\n", "192.168.100.200") + address_prompt + refused) +
                       pass(found("beta\n", "192.168.100.200") + address_prompt + refused) +
                       pass(lookup_prompt + "Typed alias: nobody\n\nAlias not found\n") + quit);
    // Fourteen characters and the newline: the next line is the pause's.
    expect_session("3\nbeta\n192.168.100.20\nxyz\n2\nbeta\n\n8\n",
                   pass(beta + address_prompt + "192 168 100 20") + pass(found("beta\n", "192.168.100.20")) + quit);
}

TEST(DeleteDialog, OnlyAWholeYOrNLineIsAnAnswer) {
    const std::string beta = found("beta\n", "10.1.0.2");
    // n keeps the record; every other line is re-asked, whatever letters it
    // holds; y with a carriage return deletes; the pause waits for its Enter.
    std::string asked_again;
    for (int i = 0; i < 9; ++i) asked_again += confirm + reenter;
    expect_session("4\nbeta\nn\n\n4\nbeta\nmaybe\nsorry\nWhy?\nYes\n y\nN\n\nyy\ny\rx\ny\r\n\n5\n\n8\n",
                   pass(beta + confirm) + pass(beta + asked_again + confirm + "Deleting\n") +
                       pass(" 10.  1.  0.  4 : alpha\n 10.  1.  0.  5 : gamma\n"
                            " 10.  1.  0.  1 : mid\n 10.  2.  0.  3 : zeta\nNumber of nodes: 4\n") +
                       quit);
}

TEST(DeleteDialog, LeavesOneChildNodesAndRootKeepTheShape) {
    // alpha is a leaf; then beta has only gamma; then the root mid has two
    // children and its successor zeta takes its place. The saved pre-order shows the shape.
    Session s;
    const std::string yes = confirm + "Deleting\n";
    expect_session("4\nalpha\ny\n\n7\na.txt\n\n4\nbeta\ny\n\n7\nb.txt\n\n4\nmid\ny\n\n7\nc.txt\n\n8\n",
                   pass(found("alpha\n", "10.1.0.4") + yes) +
                       pass(save_prompt + "Typed file name (to confirm): a.txt\nWrite successfully") +
                       pass(found("beta\n", "10.1.0.2") + yes) +
                       pass(save_prompt + "Typed file name (to confirm): b.txt\nWrite successfully") +
                       pass(found("mid\n", "10.1.0.1") + yes) +
                       pass(save_prompt + "Typed file name (to confirm): c.txt\nWrite successfully") + quit,
                   s);
    EXPECT_EQ(s.dir.read("a.txt"), "10.1.0.1 mid\n10.1.0.2 beta\n10.1.0.5 gamma\n10.2.0.3 zeta\n");
    EXPECT_EQ(s.dir.read("b.txt"), "10.1.0.1 mid\n10.1.0.5 gamma\n10.2.0.3 zeta\n");
    EXPECT_EQ(s.dir.read("c.txt"), "10.2.0.3 zeta\n10.1.0.5 gamma\n");
}

TEST(LocalityDialog, ListsMatchesInAliasOrder) {
    expect_session("6\n10\n1\n\n6\n10 2\n\n6\n  \n\n 11\n 3 \n\n8\n",
                   pass(first_prompt + second_prompt + locality(10, 1) +
                        " 10.  1.  0.  4 : alpha\n 10.  1.  0.  2 : beta\n 10.  1.  0.  5 : gamma\n"
                        " 10.  1.  0.  1 : mid\n") +
                       pass(first_prompt + second_prompt + locality(10, 2) + " 10.  2.  0.  3 : zeta\n") +
                       pass(first_prompt + second_prompt + locality(11, 3) +
                            "No alias found that matches the input locality\n") +
                       quit);
}

TEST(LocalityDialog, RefusesOutOfRangeAndNonNumbers) {
    // 256, -1, a word, a sign alone and a number beyond 32 bits are refused; 0 and 255 are taken.
    expect_session("6\n256\n-1\nabc def\n-\n4294967306\n0\n255\n\n8\n",
                   pass(first_prompt + invalid + first_prompt + invalid + first_prompt + invalid +
                        first_prompt + invalid + first_prompt + invalid + first_prompt + second_prompt +
                        locality(0, 255) + "No alias found that matches the input locality\n") +
                       quit);
    // A word as the very first entry is refused too. The newline after the
    // second number is read by the dialog, so the pause takes the 5 line.
    expect_session("6\nabc\n10\n2\n5\n8\n",
                   pass(first_prompt + invalid + first_prompt + second_prompt + locality(10, 2) +
                        " 10.  2.  0.  3 : zeta\n") +
                       quit);
}

TEST(SaveDialog, SavedFileRestartsWithTheSameListing) {
    Session s;
    expect_session("1\n1.2.3.4 extra\n\n7\nZD482_Inet.txt\n\n8\n",
                   pass(add_prompt + added("extra")) +
                       pass(save_prompt + "Typed file name (to confirm): ZD482_Inet.txt\nWrite successfully") +
                       quit,
                   s);
    const std::string saved = "10.1.0.1 mid\n10.1.0.2 beta\n10.1.0.4 alpha\n10.1.0.5 gamma\n1.2.3.4 extra\n"
                              "10.2.0.3 zeta\n";
    EXPECT_EQ(s.dir.read("ZD482_Inet.txt"), saved);
    s.run(std::nullopt, "8\n");
    EXPECT_EQ(s.result.out, loading + "Head is null, creating... mid Done\n" + added("beta") + added("alpha") +
                                added("gamma") + added("extra") + added("zeta") + init_done +
                                " 10.  1.  0.  4 : alpha\n 10.  1.  0.  2 : beta\n  1.  2.  3.  4 : extra\n"
                                " 10.  1.  0.  5 : gamma\n 10.  1.  0.  1 : mid\n 10.  2.  0.  3 : zeta\n"
                                "Number of nodes: 6\n" + quit);
}

TEST(SaveDialog, NamesOfTwoHundredFiftyFiveAndSix) {
    const std::string longest(255, 'n');
    Session s;
    expect_session("7\n" + longest + "\n\n7\n" + longest + "x\n8\n",
                   pass(save_prompt + "Typed file name (to confirm): " + longest + "\nWrite successfully") +
                       pass(save_prompt + "String entered too long, max length 255 characters, exiting.\n") +
                       quit,
                   s);
    EXPECT_EQ(s.dir.read(longest).size(), records.size());
    std::error_code too_long;
    EXPECT_FALSE(std::filesystem::exists(s.dir.file(longest + "x"), too_long));
}

TEST(SaveDialog, StandardOutputKeepsWhatItHeldAndGainsTheTable) {
    Session s;
    s.dir.write("ZD482_Inet.txt", records);
    s.dir.write("session.log", "earlier\n");
    RunOptions options;
    options.cwd = s.dir.path();
    options.input = "7\n/dev/stdout\n\n8\n";
    options.args = {"-c", "exec \"$0\" >> session.log", ALIAS_MANAGER_BIN};
    EXPECT_TRUE(run_program("/bin/sh", options).exited_with(0));
    EXPECT_EQ(s.dir.read("session.log"),
              "earlier\n" + start + menu + "____\n" + save_prompt +
                  "10.1.0.1 mid\n10.1.0.2 beta\n10.1.0.4 alpha\n10.1.0.5 gamma\n10.2.0.3 zeta\n"
                  "Typed file name (to confirm): /dev/stdout\nWrite successfully" + pause_line + quit);
}

TEST(SaveDialog, FailuresAreReportedNotCalledSuccess) {
    Session s;
    // A name holding a NUL byte is no file's name, and no part of it is saved to.
    expect_session("7\nmissing/out.txt\n\n7\n\n\n7\n/dev/full\n\n7\nna\0me\n\n8\n"s,
                   pass(save_prompt + "Typed file name (to confirm): missing/out.txt\nWrite failed") +
                       pass(save_prompt + "Typed file name (to confirm): \nWrite failed") +
                       pass(save_prompt + "Typed file name (to confirm): /dev/full\nWrite failed") +
                       pass(save_prompt + "Typed file name (to confirm): na\nWrite failed") + quit,
                   s);
    EXPECT_EQ(s.result.err,
              "Cannot save to 'missing/out.txt': No such file or directory\n"
              "Cannot save to '': No such file or directory\n"
              "Cannot save to '/dev/full': No space left on device\n"
              "Cannot save to 'na': Invalid argument\n");
    EXPECT_FALSE(s.dir.exists("na"));
}

// Every file of the session's directory with its content.
std::map<std::string, std::string> files_of(const Session& s) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(s.dir.path()))
        files[entry.path().filename().string()] = s.dir.read(entry.path().filename().string());
    return files;
}

TEST(Dialogs, CrLfLinesGiveTheSameSessionAsLf) {
    // One carriage return before each newline is as if it had not been typed,
    // at every prompt: the same transcript and the same files. A line that
    // follows an entry directly shows whether the entry's newline was read.
    const std::string longest_name(255, 'n');
    for (const std::string& input : std::vector<std::string>{
             "1\n1.2.3.4 newrec\n\n7\nhosts.txt\n\n8\n",
             "1\n255.255.255.255 abcdefghi\n5\n8\n",  // 25 characters and the newline fit
             "1\n255.255.255.255 abcdefghij\n5\n8\n",  // 26: the newline is left for the pause
             "2\nbeta\n5\n2\nabcdefghij\n5\n2\nabcdefghijk\n5\n8\n",
             "3\nbeta\n192.168.100.20\n5\n3\nbeta\n192.168.100.201\n5\n8\n",
             "4\nbeta\nY\ny\n5\n8\n",
             "6\n10\n2\n5\n8\n",
             "7\n" + longest_name + "\n5\n7\n" + longest_name + "x\n5\n8\n",
         }) {
        std::string crlf_input;
        for (char c : input) crlf_input += c == '\n' ? "\r\n" : std::string(1, c);
        Session lf, crlf;
        lf.run(records, input);
        crlf.run(records, crlf_input);
        const std::string shown = testing::PrintToString(input);
        EXPECT_TRUE(crlf.result.exited_with(0)) << shown;
        EXPECT_EQ(crlf.result.out, lf.result.out) << shown;
        EXPECT_EQ(files_of(crlf), files_of(lf)) << shown;
    }
}

TEST(Dialogs, EndOfInputInsideAnyDialogStops) {
    for (const std::string input : {"1\n", "2\n", "3\nbeta\n", "3\nbeta\n1.2.3.4", "4\nbeta\n", "4\nbeta\nx",
                                    "6\n", "6\n10\n", "6\n300\n", "6\nabc", "7\n", "7\nname", "2\nbeta"}) {
        Session s;
        RunOptions options;
        options.timeout = std::chrono::seconds(20);
        s.run(records, input, options);
        EXPECT_TRUE(s.result.exited_with(0)) << input;
        EXPECT_EQ(s.result.err, "") << input;
    }
    // A last line that the end of input cuts short is handled as if its
    // newline were there; the pause then meets the end of input.
    Session s;
    for (const auto& [input, output] : std::vector<std::pair<std::string, std::string>>{
             {"2\nbeta", found("beta\n", "10.1.0.2")},
             {"2\nabcdefghijk", lookup_prompt + "Typed alias: abcdefghijk\n" +
                                    "String entered too long, max length 10 characters.\nAlias not found\n"},
             {"1\n1.2.3.4 new", add_prompt + added("new")},
             {"1\n255.255.255.255 abcdefghij", add_prompt + added("abcdefghij")},
             {"7\n" + std::string(256, 'n'),
              save_prompt + "String entered too long, max length 255 characters, exiting.\n"},
         }) {
        s.run(records, input);
        EXPECT_TRUE(s.result.exited_with(0)) << input;
        EXPECT_EQ(s.result.out, start + menu + "____\n" + output + pause_line) << input;
    }
    s.run(records, "1\n5.5.5.5 new\n\n7\nhosts.txt");
    EXPECT_TRUE(s.result.exited_with(0));
    EXPECT_EQ(s.result.out, start + pass(add_prompt + added("new")) + menu + "____\n" + save_prompt +
                                "Typed file name (to confirm): hosts.txt\nWrite successfully" + pause_line);
    EXPECT_EQ(s.dir.read("hosts.txt"), "10.1.0.1 mid\n10.1.0.2 beta\n10.1.0.4 alpha\n10.1.0.5 gamma\n"
                                       "10.2.0.3 zeta\n5.5.5.5 new\n");
}

}  // namespace
