// The real program against hostile record files and standard input: random
// bytes, NUL bytes, lines of megabytes. Whatever it is given, it must end in
// an orderly way with status 0, in time, and without a sanitizer report.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <sstream>

#include "session.h"

namespace {

constexpr std::size_t four_mib = 4 * 1024 * 1024;

// Lines of standard error that report a sanitizer finding. A failed save
// names the file, and a random name could spell anything, so those lines
// are passed over.
std::string sanitizer_reports(const std::string& err) {
    std::istringstream lines(err);
    std::string line, reports;
    while (std::getline(lines, line)) {
        if (line.rfind("Cannot save to '", 0) == 0) continue;
        if (line.find("ERROR: AddressSanitizer") != std::string::npos ||
            line.find("ERROR: LeakSanitizer") != std::string::npos ||
            line.find("runtime error") != std::string::npos)
            reports += line + '\n';
    }
    return reports;
}

void expect_orderly_end(const RunResult& result) {
    EXPECT_FALSE(result.timed_out);
    EXPECT_TRUE(result.exited_with(0)) << "wait status " << result.wait_status;
    EXPECT_EQ(sanitizer_reports(result.err), "");
}

RunOptions generous_deadline() {
    RunOptions options;
    options.timeout = std::chrono::seconds(60);
    return options;
}

// Bytes from a fixed seed. mt19937 yields the same sequence everywhere.
std::string random_bytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random() & 0xff);
    return bytes;
}

// Random standard input must not spell a path out of the test's directory:
// a file name without '/' can only name an entry of the working directory.
std::string without_slashes(std::string bytes) {
    for (char& byte : bytes)
        if (byte == '/') byte = '\\';
    return bytes;
}

// Menu passes at random: a choice (never 8, which would end the session
// before its input does), the entries its dialog reads, drawn from values
// that often hit the table and from lines of random bytes, then the Enter of
// the pause.
std::string random_session(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    const auto pick = [&](std::uint32_t n) { return static_cast<int>(random() % n); };
    const char* const aliases[] = {"web", "db", "mail", "a", "zz top", "web ", "ccccccccccc", ""};
    const char* const names[] = {"saved", "saved.txt", "..", ".", "", "x y"};
    const auto junk = [&] { return without_slashes(random_bytes(pick(40), static_cast<std::uint32_t>(random()))); };
    const auto alias = [&] { return pick(6) == 0 ? junk() : std::string(aliases[pick(8)]); };
    const auto number = [&] { return std::to_string(pick(280) - 10); };
    const auto address = [&] { return number() + "." + number() + "." + number() + "." + number() + " "; };
    std::string input;
    while (input.size() < size) {
        const int choice = pick(10) - 1;  // -1 to 8
        input += std::to_string(choice == 8 ? 9 : choice) + "\n";
        switch (choice) {
            case 1: input += address() + alias() + "\n"; break;
            case 2: input += alias() + "\n"; break;
            case 3: input += alias() + "\n" + (pick(4) == 0 ? junk() : address()) + "\n"; break;
            case 4:
                input += alias() + "\n";
                for (int answers = pick(3); answers > 0; --answers) input += pick(2) == 0 ? "Y\n" : "\n";
                input += pick(2) == 0 ? "y\n" : "n\n";
                break;
            case 6: input += number() + "\n" + (pick(3) == 0 ? junk() + "\n" : "") + number() + "\n"; break;
            case 7: input += (pick(4) == 0 ? junk() : std::string(names[pick(6)])) + "\n"; break;
            default: break;
        }
        input += pick(5) == 0 ? junk() + "\n" : "\n";
    }
    return input;
}

// The count line of the listing printed at start-up.
int startup_count(const std::string& out) {
    const std::string label = "Number of nodes: ";
    const auto at = out.find(label);
    return at == std::string::npos ? -1 : std::stoi(out.substr(at + label.size()));
}

// Insertions that the loader reported as done.
int reported_insertions(const std::string& out) {
    const auto end = out.find(init_done);
    std::istringstream lines(out.substr(0, end));
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        const bool first = line.rfind("Head is null, creating... ", 0) == 0 && line.ends_with(" Done");
        const bool more = line.rfind("Checking for duplicate, then adding line... ", 0) == 0 &&
                          line.ends_with(" Done adding");
        count += first || more;
    }
    return count;
}

// Record lines with random octets and aliases between runs of random bytes,
// so that some lines load and some are cut or refused.
std::string records_among_random_bytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    const auto pick = [&](std::uint32_t n) { return static_cast<int>(random() % n); };
    const std::string alias_chars = "abcXYZ019 ";
    std::string file;
    while (file.size() < size) {
        if (pick(3) == 0) {
            file += random_bytes(pick(60), static_cast<std::uint32_t>(random()));
            continue;
        }
        for (int i = 0; i < 4; ++i) file += std::to_string(pick(300)) + (i < 3 ? "." : " ");
        for (int length = 1 + pick(12); length > 0; --length) file += alias_chars[pick(10)];
        file += pick(4) == 0 ? "\r\n" : "\n";
    }
    return file;
}

TEST(HostileInput, RecordFileOfRandomBytes) {
    const std::string files[] = {random_bytes(64 * 1024, 1), random_bytes(64 * 1024, 2),
                                 records_among_random_bytes(64 * 1024, 3)};
    for (const std::string& file : files) {
        Session s;
        s.run(file, "5\n\n8\n", generous_deadline());
        expect_orderly_end(s.result);
        EXPECT_EQ(s.result.out.rfind(loading, 0), 0u);
        ASSERT_NE(s.result.out.find(init_done), std::string::npos);
        // The table holds exactly the records the loader reported as added.
        EXPECT_EQ(startup_count(s.result.out), reported_insertions(s.result.out));
        EXPECT_TRUE(s.result.out.ends_with(quit));
    }
    Session s;
    s.run(files[2], "8\n");
    EXPECT_GT(startup_count(s.result.out), 500);  // the mixed file does load records
}

TEST(HostileInput, NulBytesInAndAroundRecords) {
    using namespace std::string_literals;
    // A piece that holds a NUL byte anywhere is refused with a word, never
    // cut short at the NUL or passed over in silence.
    const std::string file = "\0\n"s
                             "1.1.1.1 a\0junk\n"s
                             "\0\0\0\n"s
                             "2.2.2.2\0 b\n"s
                             "3.3.3.3 c\n"s
                             "4.4.\0"s "4.4 d\n"s
                             "\0"s "10.0.0.2 second\n"s
                             "5.5.5.5 e\n"s
                             "6.6.6.6 f\0"s;
    Session s;
    s.run(file, "5\n\0\n8\n"s, generous_deadline());
    expect_orderly_end(s.result);
    const std::string invalid = "Invalid format, expected [address] [alias], skipping.\n";
    const std::string listed = "  3.  3.  3.  3 : c\n  5.  5.  5.  5 : e\nNumber of nodes: 2\n";
    EXPECT_EQ(s.result.out, loading + invalid + invalid + invalid + invalid + "Head is null, creating... c Done\n" +
                                invalid + invalid + "Checking for duplicate, then adding line... e Done adding\n" +
                                invalid + init_done + listed + pass(listed) + quit);
}

TEST(HostileInput, RecordFileWithLinesOfMegabytes) {
    const std::string invalid = "Invalid format, expected [address] [alias], skipping.\n";
    {
        // One line of 4 MiB and no newline at all: read in pieces of 26.
        Session s;
        s.run(std::string(four_mib, 'x'), "8\n", generous_deadline());
        expect_orderly_end(s.result);
        EXPECT_EQ(count_of(s.result.out, invalid), static_cast<int>((four_mib + 25) / 26));
        EXPECT_EQ(startup_count(s.result.out), 0);
    }
    {
        // A record whose alias runs on for 4 MiB, then ordinary records.
        Session s;
        s.run("1.2.3.4 " + std::string(four_mib, 'a') + "\n5.6.7.8 after\n9.9.9.9 later\r\n", "8\n",
              generous_deadline());
        expect_orderly_end(s.result);
        EXPECT_NE(s.result.out.find("  1.  2.  3.  4 : aaaaaaaaaa\n  5.  6.  7.  8 : after\n"
                                    "  9.  9.  9.  9 : later\nNumber of nodes: 3\n"),
                  std::string::npos);
    }
}

// Output appended to the record file while it loads is not read back as
// records: the file is read to the size it had when it was opened.
TEST(HostileInput, RecordFileThatTheOutputIsAppendedTo) {
    TempDir dir;
    dir.write("h.txt", two_records);
    RunOptions options;
    options.cwd = dir.path();
    options.input = "5\n\n8\n";
    // Should it read its own output, a file-size limit stops it.
    options.args = {"-c", "ulimit -f 2048; exec \"$0\" h.txt >> h.txt", ALIAS_MANAGER_BIN};
    options.timeout = std::chrono::seconds(20);
    expect_orderly_end(run_program("/bin/sh", options));
    std::string loaded = two_loaded;
    loaded.replace(loaded.find("ZD482_Inet.txt"), 14, "h.txt");
    EXPECT_EQ(dir.read("h.txt"), two_records + loaded + two_listed + pass(two_listed) + quit);
}

TEST(HostileInput, StandardInputLinesOfMegabytes) {
    // A choice of four million digits, then an add entry of as many letters,
    // refused whole; its pause waits for the next Enter.
    Session s;
    s.run("1.1.1.1 a\n", std::string(four_mib, '9') + "\n\n1\n" + std::string(four_mib, 'z') + "\n\n5\n\n8\n",
          generous_deadline());
    expect_orderly_end(s.result);
    const std::string listed = "  1.  1.  1.  1 : a\nNumber of nodes: 1\n";
    EXPECT_TRUE(s.result.out.ends_with(pass(listed) + quit));
}

TEST(HostileInput, StandardInputOfRandomBytes) {
    const std::string records = "10.0.0.1 web\n10.0.0.2 db\n10.0.0.3 mail\n1.2.3.4 a\n";
    const std::string inputs[] = {without_slashes(random_bytes(64 * 1024, 3)), random_session(64 * 1024, 4)};
    int saves = 0;
    for (const std::string& input : inputs) {
        // The session works in a directory of its own inside the test's.
        TempDir dir;
        std::filesystem::create_directory(dir.file("work"));
        dir.write("work/ZD482_Inet.txt", records);
        RunOptions options = generous_deadline();
        options.cwd = dir.file("work");
        options.input = input;
        const RunResult result = run_program(ALIAS_MANAGER_BIN, options);
        expect_orderly_end(result);
        // Saves under random names stay inside the working directory and
        // make only files there; nothing appears beside it.
        saves += count_of(result.out, "Write successfully");
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            EXPECT_EQ(entry.path().filename(), "work");
        for (const auto& entry : std::filesystem::directory_iterator(dir.file("work")))
            EXPECT_TRUE(entry.is_regular_file()) << entry.path();
    }
    EXPECT_GT(saves, 0);
}

}  // namespace
