#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>
#include <tuple>

#include "piece_reader.h"
#include "record_file.h"
#include "session.h"
#include "store_fixture.h"
#include "temp_dir.h"
// Allocations that fail on purpose: the `fail_at`th one made while
// `allocations_armed`, or every one from it on when `fail_onwards`, and any
// of more than `size_limit` bytes.
namespace {
bool allocations_armed = false, fail_onwards = false;
std::size_t allocations = 0, fail_at = 0, size_limit = SIZE_MAX;

void* allocate(std::size_t size, std::size_t alignment) {
    if (allocations_armed && (++allocations == fail_at || (fail_onwards && allocations > fail_at) || size > size_limit))
        throw std::bad_alloc();
    void* memory = std::aligned_alloc(alignment, (std::max<std::size_t>(size, 1) + alignment - 1) / alignment * alignment);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}
}  // namespace

#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
using leaks_ignored = __lsan::ScopedDisabler;
#else
struct leaks_ignored {
    leaks_ignored() {}  // user-provided, so that an unused one is not warned of
};
#endif

void* operator new(std::size_t size) { return allocate(size, __STDCPP_DEFAULT_NEW_ALIGNMENT__); }
void* operator new(std::size_t size, std::align_val_t alignment) { return allocate(size, static_cast<std::size_t>(alignment)); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
// The array forms too: a sanitizer's own would not pass through the ones above.
void* operator new[](std::size_t size) { return allocate(size, __STDCPP_DEFAULT_NEW_ALIGNMENT__); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

// No save here overwrites a file changed by someone else.
answer never_asked(question) {
    ADD_FAILURE() << "asked whether to overwrite";
    return answer::no;
}

// The pieces of `text` as read_piece cuts them; the loader's reader must cut the same.
std::vector<std::string> pieces_of(const std::string& text) {
    std::FILE* stream = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    std::vector<std::string> pieces, from_blocks;
    std::string piece;
    while (read_piece(stream, piece)) pieces.push_back(piece);
    std::rewind(stream);
    piece_reader reader(stream, [] {});
    while (const auto next = reader.next()) from_blocks.emplace_back(*next);
    std::fclose(stream);
    EXPECT_EQ(from_blocks, pieces);
    return pieces;
}

TEST(ReadPiece, CutsLinesIntoPiecesOfAtMostTwentySix) {
    using v = std::vector<std::string>;
    EXPECT_EQ(pieces_of("a\n\nb"), (v{"a", "", "b"}));
    EXPECT_EQ(pieces_of("a\r\nb\r\n"), (v{"a", "b"}));
    EXPECT_EQ(pieces_of("a\rb\r\r\n"), (v{"a\rb\r"}));
    const std::string line26(26, 'x');
    EXPECT_EQ(pieces_of(line26 + "\n"), (v{line26, ""}));
    EXPECT_EQ(pieces_of(std::string(25, 'y') + "\r\n"), (v{std::string(25, 'y')}));
    EXPECT_EQ(pieces_of(line26 + "\r\n"), (v{line26, ""}));
    EXPECT_EQ(pieces_of(line26 + line26 + "abc\n"), (v{line26, line26, "abc"}));
    EXPECT_EQ(pieces_of(""), v{});
    EXPECT_EQ(pieces_of("\r"), v{"\r"});
}

class RecordFile : public StoreTest {
protected:
    TempDir dir;
    std::filesystem::path previous = std::filesystem::current_path();
    void SetUp() override {
        StoreTest::SetUp();
        std::filesystem::current_path(dir.path());
    }
    void TearDown() override {
        std::filesystem::current_path(previous);
        StoreTest::TearDown();
    }
};

TEST_F(RecordFile, LoadsEveryLineFormAndReportsEachPiece) {
    // A piece whose record would be saved as a longer line is refused too.
    dir.write(init_file, "1.1.1.1 first\r\n\n2.2.2.2 second\n" + std::string(30, ' ') + "3.3.3.3 x\n"
                         "1111111111.1.1.1abcdefghij\n4.4.4.4 last");
    EXPECT_EQ(output_of([] { init_func(init_file); }),
              "Adding lines from file name: ZD482_Inet.txt\n"
              "Head is null, creating... first Done\n"
              "Checking for duplicate, then adding line... second Done adding\n"
              "Invalid format, expected [address] [alias], skipping.\n"
              "Checking for duplicate, then adding line... x Done adding\n"
              "Invalid format, expected [address] [alias], skipping.\n"
              "Checking for duplicate, then adding line... last Done adding\n"
              "Init done\n___________________________\n\n");
}

TEST_F(RecordFile, EmptyFileAndEmptyTable) {
    dir.write(init_file, "");
    EXPECT_EQ(output_of([] { init_func(init_file); }),
              "Adding lines from file name: ZD482_Inet.txt\nInit done\n___________________________\n\n");
    EXPECT_EQ(save_to_file_wrapper("empty.txt", never_asked), save_result::saved);
    EXPECT_TRUE(dir.exists("empty.txt"));
    EXPECT_EQ(dir.read("empty.txt"), "");
}

// A record file absent at start is remembered so: one there at the save is
// someone else's, and the save asks first.
TEST_F(RecordFile, RecordFileAbsentAtStartIsAskedAboutWhenOneAppears) {
    testing::internal::CaptureStderr();
    output_of([] { init_func(init_file); });
    testing::internal::GetCapturedStderr();
    dir.write(init_file, "1.1.1.1 theirs\n");
    int asked = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(save_to_file_wrapper(init_file, [&](question) { return ++asked, answer::no; }), save_result::failed);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(dir.read(init_file), "1.1.1.1 theirs\n");
}

// A load that did not take the whole file (here no memory for its reader)
// makes a save over that file ask first, and "n" keeps the file.
TEST_F(RecordFile, PartialLoadIsAskedAboutBeforeItsFileIsOverwritten) {
    dir.write(init_file, "1.1.1.1 one\n2.2.2.2 two\n");
    testing::internal::CaptureStderr();
    output_of([] {
        std::tie(allocations, fail_at, fail_onwards, allocations_armed) = std::tuple(0, 1, false, true);
        init_func(init_file);
        allocations_armed = false;
    });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot read 'ZD482_Inet.txt': Cannot allocate memory\n");
    std::vector<question> asked;
    testing::internal::CaptureStderr();
    EXPECT_EQ(save_to_file_wrapper(init_file, [&](question q) { return asked.push_back(q), answer::no; }),
              save_result::failed);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Cannot save to 'ZD482_Inet.txt': only part of it was loaded\n");
    EXPECT_EQ(asked, std::vector<question>{question::partly_loaded});
    EXPECT_EQ(dir.read(init_file), "1.1.1.1 one\n2.2.2.2 two\n");
}

TEST_F(RecordFile, SaveWritesPreOrderAndLoadRebuildsTheSameShape) {
    for (const char* line : {"10.0.0.4 m", "10.0.0.2 f", "10.0.0.6 t", "10.0.0.1 b", "10.0.0.3 h",
                             "10.0.0.5 p", "255.255.255.255 zzzzzzzzzz", "0.0.0.0 a b "})
        add_quietly(line);
    ASSERT_EQ(save_to_file_wrapper("saved.txt", never_asked), save_result::saved);
    const std::string saved = dir.read("saved.txt");
    EXPECT_EQ(saved,
              "10.0.0.4 m\n10.0.0.2 f\n10.0.0.1 b\n0.0.0.0 a b \n10.0.0.3 h\n"
              "10.0.0.6 t\n10.0.0.5 p\n255.255.255.255 zzzzzzzzzz\n");
    clear_table();
    std::filesystem::rename("saved.txt", init_file);
    output_of([] { init_func(init_file); });
    ASSERT_EQ(save_to_file_wrapper("again.txt", never_asked), save_result::saved);
    EXPECT_EQ(dir.read("again.txt"), saved);  // same pre-order means the same shape
}

// Loads record lines into the table without a word on the console.
void load_quietly(std::string lines) {
    std::FILE* stream = fmemopen(lines.data(), lines.size(), "r");
    output_of([&] { load_records(stream, "lines"); });
    std::fclose(stream);
}

// The saved form of the current table.
std::string saved_table(const TempDir& dir) {
    EXPECT_EQ(save_to_file_wrapper(dir.file("scratch"), never_asked), save_result::saved);
    std::string saved = dir.read("scratch");
    std::filesystem::remove(dir.file("scratch"));
    return saved;
}

// A record line as a user might type it: octets in and out of 0 to 255
// (negative, large, beyond 32 bits), with signs, leading zeros and blanks,
// then an alias from the whole alias alphabet with inner and trailing
// blanks, at times glued to the address.
std::string random_record_line(std::mt19937& random) {
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const std::string alias_chars = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string line;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) line += '.';
        if (pick(6) == 0) line += pick(2) == 0 ? " " : "\t";
        if (pick(5) == 0) line += "+-"[pick(2)];
        if (pick(5) == 0) line.append(1 + pick(3), '0');
        switch (pick(12)) {
            case 0: line += std::to_string(pick(100000)); break;
            case 1: line += std::to_string(random()); break;  // often beyond 32 bits when signed
            case 2: line += std::to_string(random()) + std::to_string(random()); break;
            default: line += std::to_string(pick(300)); break;
        }
    }
    line += std::string(pick(3), ' ');
    line += alias_chars[pick(62)];
    for (int length = pick(11); length > 0; --length) line += pick(4) == 0 ? ' ' : alias_chars[pick(62)];
    return line;
}

TEST_F(RecordFile, EverySavedTableReloadsToTheSameFile) {
    std::mt19937 random(2026);
    int negative = 0, above_255 = 0, clamped = 0, longest_lines = 0;
    for (int round = 0; round < 40; ++round) {
        clear_table();
        for (int i = 0; i < 60; ++i) add_quietly(random_record_line(random));
        const std::vector<std::string> table = table_in_order();
        ASSERT_FALSE(table.empty());
        walk_in_order(head, [&](const address_t& record) {
            for (std::int32_t octet : record.octet) {
                negative += octet < 0;
                above_255 += octet > 255;
                clamped += octet == INT32_MAX || octet == INT32_MIN;
            }
        });
        const std::string saved = saved_table(dir);
        clear_table();
        load_quietly(saved);
        EXPECT_EQ(table_in_order(), table) << saved;
        EXPECT_EQ(saved_table(dir), saved) << saved;  // same pre-order, so the same shape
        std::istringstream lines(saved);
        for (std::string line; std::getline(lines, line);) longest_lines += line.size() == entry_limit::record_line;
    }
    // The tables did hold the unusual octets, and lines right at the limit.
    EXPECT_GT(negative, 200);
    EXPECT_GT(above_255, 500);
    EXPECT_GT(clamped, 50);
    EXPECT_GT(longest_lines, 50);
}

// A record file as editors and scripts leave them: duplicates of earlier
// aliases and addresses, empty and over-long lines, random bytes with NULs,
// CR LF ends, and at times a last line without its newline.
// An alias whose key shares the upper half of its hash with every other such
// alias under an unkeyed MurmurHash3 finaliser, which once made them all
// one probe run: the finaliser undone on TAG << 32 | a random number.
std::string crafted_alias(std::mt19937& random) {
    for (;;) {
        std::uint64_t key = std::uint64_t{0x5eed5eed} << 32 | random();
        for (std::uint64_t factor : {0x9cb4b2f8129337dbu, 0x4f74430c22a54005u}) key = (key ^ key >> 33) * factor;
        key ^= key >> 33;
        const alias_text alias = text_of(key);
        if (key_of(alias.data()) == key && alias[0] != ' ') return alias.data();
    }
}

std::string random_record_file(std::mt19937& random, int lines) {
    std::vector<std::string> made;
    std::string file;
    for (int i = 0; i < lines; ++i) {
        std::string line = random_record_line(random);
        switch (random() % 10) {
            case 0: line.clear(); break;
            case 1: for (char& c : line) c = static_cast<char>(random() % 4 ? c : random() % 256); break;
            case 2: line += std::string(random() % 40, 'x'); break;
            case 3:
            case 4: if (!made.empty()) line = made[random() % made.size()] + (random() % 2 ? "" : "z"); break;
            case 5: if (!made.empty()) line = made[random() % made.size()].substr(0, random() % 20) + line.substr(line.find(' ') + 1); break;
            case 6: line = "10.1." + std::to_string(random() % 256) + "." + std::to_string(random() % 256) + " " + crafted_alias(random); break;
        }
        made.push_back(line);
        file += line + (i + 1 == lines && random() % 2 ? "" : random() % 4 ? "\n" : "\r\n");
    }
    return file;
}

// What loading `file` piece by piece through add_func prints.
std::string load_one_by_one(std::string file) {
    std::FILE* stream = fmemopen(file.data(), file.size(), "r");
    const std::string printed = output_of([stream] {
        for (std::string piece; read_piece(stream, piece);) add_func(piece);
    });
    std::fclose(stream);
    return printed;
}

// What loading `file` in bulk prints, read from a pipe that gets it in
// chunks of random sizes, so that pieces straddle the reads.
std::string load_in_bulk(const std::string& file, std::mt19937& random) {
    std::vector<std::size_t> chunks;
    for (std::size_t sent = 0; sent < file.size(); sent += chunks.back()) chunks.push_back(1 + random() % 3000);
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    std::thread writer([&, fd = ends[1]] {
        std::size_t sent = 0;
        for (std::size_t chunk : chunks) sent += write(fd, file.data() + sent, std::min(chunk, file.size() - sent));
        close(fd);
    });
    std::FILE* stream = fdopen(ends[0], "r");
    const std::string printed = output_of([&] { load_records(stream, "pipe"); });
    writer.join();
    std::fclose(stream);
    return printed;
}

// The load in bulk builds what inserting piece by piece builds, into an empty
// table and into one that holds records: the same messages, listing and tree
// shape (the saved pre-order), and the same again after deletes and adds.
// Then the program itself on a file larger than a block of its reader.
TEST_F(RecordFile, BulkLoadMatchesInsertionOneByOne) {
    std::mt19937 random(2020);
    for (int round = 0; round < 40; ++round) {
        const std::string earlier = round % 3 == 0 ? random_record_file(random, 30) : "";
        const std::string file = random_record_file(random, 1 + static_cast<int>(random() % 300));
        std::array<std::string, 2> printed, after;
        for (int bulk : {1, 0}) {
            clear_table();
            load_one_by_one(earlier);
            printed[bulk] = bulk ? load_in_bulk(file, random) : load_one_by_one(file);
            ASSERT_EQ(check_invariants(), "") << file;
            printed[bulk] += output_of(display_list) + saved_table(dir);
            const std::vector<std::string> rows = table_in_order();
            for (std::size_t i = 0; i < rows.size(); i += 3) delete_func(lookup_func_wrapper(rows[i].substr(rows[i].find(' ') + 1)));
            after[bulk] = load_one_by_one(file.substr(0, file.size() / 2)) + saved_table(dir);
        }
        ASSERT_EQ(printed[1], printed[0]) << file;
        ASSERT_EQ(after[1], after[0]) << file;
    }

    std::string big;
    while (big.size() < (std::size_t{1} << 20) + 50000) big += random_record_file(random, 500) + "\n";
    clear_table();
    const std::string loaded = load_one_by_one(big);
    const std::string listed = output_of(display_list);
    Session s;
    s.run(big, "5\n\n7\nsaved\n\n8\n");
    EXPECT_EQ(s.result.out, loading + loaded + init_done + listed + pass(listed) + menu + "____\n" +
                                "Enter file name to be saved (max 255 characters): "
                                "Typed file name (to confirm): saved\nWrite successfully" + pause_line + quit);
    EXPECT_EQ(s.result.err, "");
    EXPECT_EQ(s.dir.read("saved"), saved_table(dir));
    EXPECT_GT(count_of(loaded, "Done adding"), 5000);
}

// Memory that runs out at any allocation of a load, once or from then on:
// the records reported added are exactly the table's, linked as inserting
// them one by one links them, and the load says it did not take the whole
// file; or the load is undone and says so in one line. Under a limit on
// what one allocation may take, the records past it are refused in their
// place and the load is not undone: their room was made as they came.
TEST_F(RecordFile, MemoryRunningOutAnywhereInALoadLeavesMessagesAndTableAgreeing) {
    std::mt19937 random(24);
    std::string file = random_record_file(random, 8000);  // enough records for a radix sort
    std::vector<std::string> pieces = pieces_of(file);
    std::erase(pieces, "");
    const std::string undone = "Out of memory, none of the records above were added.\n";
    int undone_loads = 0, refusals = 0;
    std::size_t made = 0;  // by a load that has all it asks for
    for (const int mode : {0, 1, 2}) {  // once, onwards, limit
        const bool onwards = mode == 1;
        size_limit = mode == 2 ? (std::size_t{64} << 10) + 1 : SIZE_MAX;  // the reader's block of a stream fits
        for (fail_at = 0; fail_at <= (mode == 2 ? 0 : made); ++fail_at) {
            clear_table();
            std::FILE* stream = fmemopen(file.data(), file.size(), "r");
            bool whole = false;
            testing::internal::CaptureStderr();
            const std::string printed = output_of([&] {
                std::tie(allocations, fail_onwards, allocations_armed) = std::tuple(0, onwards && fail_at > 0, true);
                leaks_ignored during_load;  // the B-tree's nodes lost to a failed root split
                whole = load_records(stream, "lines");
                allocations_armed = false;
            });
            const std::string reported = testing::internal::GetCapturedStderr();
            std::fclose(stream);
            if (fail_at == 0) made = allocations;
            ASSERT_EQ(check_invariants(), "") << fail_at;
            EXPECT_EQ(whole, printed.find("Out of memory") == std::string::npos && reported.empty()) << fail_at;
            refusals += count_of(printed, "Out of memory, skipping.");
            EXPECT_TRUE(mode != 2 || (!printed.ends_with(undone) && !whole)) << printed.substr(printed.size() - 200);
            if (printed.ends_with(undone)) {
                ++undone_loads;
                EXPECT_EQ(head, nullptr);
                continue;
            }
            std::istringstream lines(printed);
            std::string added;  // the pieces reported added, one a line
            std::size_t piece = 0;
            for (std::string line; std::getline(lines, line) && piece < pieces.size(); ++piece)
                if (line.ends_with(" Done") || line.ends_with(" Done adding")) added += pieces[piece] + "\n";
            const std::string loaded = saved_table(dir);
            clear_table();
            load_one_by_one(added);
            EXPECT_EQ(saved_table(dir), loaded) << fail_at;
        }
    }
    size_limit = SIZE_MAX;
    EXPECT_GT(undone_loads, 0);
    EXPECT_GT(refusals, 0);
}

// An add for which memory runs out at any allocation, the one that grows
// the full address set among them, is refused whole: the table keeps its rules.
TEST_F(RecordFile, AddRefusedForMemoryAnywhereLeavesTheTableWhole) {
    for (fail_at = 1; fail_at <= 8; ++fail_at) {
        clear_table();
        for (int i = 0; i < 12; ++i) add_quietly("10.0.0." + std::to_string(i) + " a" + std::to_string(i));
        const std::string printed = output_of([] {
            std::tie(allocations, fail_onwards, allocations_armed) = std::tuple(0, false, true);
            add_func("10.0.1.1 new");
            allocations_armed = false;
        });
        ASSERT_EQ(check_invariants(), "") << fail_at;
        EXPECT_EQ(printed.ends_with(" Done adding\n"), lookup_func_wrapper("new") != nullptr) << fail_at;
    }
}

// A stream whose reads fail once `good` bytes of `text` have been read.
struct failing_source {
    std::string text;
    std::size_t good;
    std::size_t at = 0;
};

std::FILE* failing_stream(failing_source& source) {
    cookie_io_functions_t io{};
    io.read = [](void* cookie, char* buffer, std::size_t size) -> ssize_t {
        auto& s = *static_cast<failing_source*>(cookie);
        if (s.at >= s.good) {
            errno = EIO;
            return -1;
        }
        std::size_t n = std::min(size, s.good - s.at);
        std::copy_n(s.text.data() + s.at, n, buffer);
        s.at += n;
        return static_cast<ssize_t>(n);
    };
    return fopencookie(&source, "r", io);
}

// What `action` writes to standard output and standard error, in the order
// in which both reach a console.
template <class Action>
std::string both_streams_of(Action&& action) {
    std::fflush(stdout);
    std::FILE* file = std::tmpfile();
    const int saved_out = dup(1), saved_err = dup(2);
    dup2(fileno(file), 1);
    dup2(fileno(file), 2);
    action();
    std::fflush(stdout);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    std::string text(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    return text;
}

TEST_F(RecordFile, ReadErrorIsReportedAndEarlierRecordsKept) {
    // The error comes in the middle of the third line: its first half is no record.
    failing_source source{"1.1.1.1 one\n2.2.2.2 two\n3.3.3.3 three\n", 33};
    std::FILE* stream = failing_stream(source);
    testing::internal::CaptureStderr();
    std::string out = output_of([&] { load_records(stream, "table.txt"); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot read 'table.txt': Input/output error\n");
    std::fclose(stream);
    EXPECT_EQ(table_in_order(), (std::vector<std::string>{"1.1.1.1 one", "2.2.2.2 two"}));
    EXPECT_EQ(out, "Head is null, creating... one Done\nChecking for duplicate, then adding line... two Done adding\n");
    failing_source cut{source.text, 33};  // the reference cutter drops the cut piece too
    stream = failing_stream(cut);
    std::string piece;
    while (read_piece(stream, piece)) EXPECT_NE(piece, "3.3.3.3 t");
    std::fclose(stream);
    // On a console the report follows the records read before the error.
    clear_table();
    failing_source again{source.text, 33};
    stream = failing_stream(again);
    EXPECT_EQ(both_streams_of([&] { load_records(stream, "table.txt"); }),
              out + "Cannot read 'table.txt': Input/output error\n");
    std::fclose(stream);

    std::filesystem::create_directory(init_file);
    testing::internal::CaptureStderr();
    out = output_of([] { init_func(init_file); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot read 'ZD482_Inet.txt': Is a directory\n");
    EXPECT_EQ(out, "Adding lines from file name: ZD482_Inet.txt\nInit done\n___________________________\n\n");
}

}  // namespace
