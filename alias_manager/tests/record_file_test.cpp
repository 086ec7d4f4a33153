#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>

#include "record_file.h"
#include "store_fixture.h"
#include "temp_dir.h"

namespace {

static_assert(piece_max_length == record_line_max_length, "every record line that is accepted loads whole");

std::vector<std::string> pieces_of(const std::string& text) {
    std::FILE* stream = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    std::vector<std::string> pieces;
    std::string piece;
    while (read_piece(stream, piece)) pieces.push_back(piece);
    std::fclose(stream);
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
    EXPECT_TRUE(save_to_file_wrapper("empty.txt"));
    EXPECT_TRUE(dir.exists("empty.txt"));
    EXPECT_EQ(dir.read("empty.txt"), "");
}

TEST_F(RecordFile, SaveWritesPreOrderAndLoadRebuildsTheSameShape) {
    for (const char* line : {"10.0.0.4 m", "10.0.0.2 f", "10.0.0.6 t", "10.0.0.1 b", "10.0.0.3 h",
                             "10.0.0.5 p", "255.255.255.255 zzzzzzzzzz", "0.0.0.0 a b "})
        add_quietly(line);
    ASSERT_TRUE(save_to_file_wrapper("saved.txt"));
    const std::string saved = dir.read("saved.txt");
    EXPECT_EQ(saved,
              "10.0.0.4 m\n10.0.0.2 f\n10.0.0.1 b\n0.0.0.0 a b \n10.0.0.3 h\n"
              "10.0.0.6 t\n10.0.0.5 p\n255.255.255.255 zzzzzzzzzz\n");
    clear_table();
    std::filesystem::rename("saved.txt", init_file);
    output_of([] { init_func(init_file); });
    ASSERT_TRUE(save_to_file_wrapper("again.txt"));
    EXPECT_EQ(dir.read("again.txt"), saved);  // same pre-order means the same shape
}

// Record lines of `count` distinct records, "10.a.b.c t<salt><i>".
std::string table_lines(int count, char salt) {
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "10." + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) + "." +
                 std::to_string(i & 255) + " t" + salt + std::to_string(i) + "\n";
    return lines;
}

// Loads record lines into the table without a word on the console.
void load_quietly(std::string lines) {
    std::FILE* stream = fmemopen(lines.data(), lines.size(), "r");
    output_of([&] { load_records(stream, "lines"); });
    std::fclose(stream);
}

std::vector<std::string> names_in(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The saved form of the current table.
std::string saved_table(const TempDir& dir) {
    EXPECT_TRUE(save_to_file_wrapper(dir.file("scratch")));
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
        for (std::string line; std::getline(lines, line);) longest_lines += line.size() == record_line_max_length;
    }
    // The tables did hold the unusual octets, and lines right at the limit.
    EXPECT_GT(negative, 200);
    EXPECT_GT(above_255, 500);
    EXPECT_GT(clamped, 50);
    EXPECT_GT(longest_lines, 50);
}

TEST_F(RecordFile, FailedSaveIsReportedAndNotSuccess) {
    // Several KiB, so that a device fails in the middle of the walk, not at close.
    load_quietly(table_lines(500, 'a'));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(save_to_file_wrapper("missing/dir/file.txt"));
    EXPECT_FALSE(save_to_file_wrapper(""));
    EXPECT_FALSE(save_to_file_wrapper("/dev/full"));
    EXPECT_TRUE(save_to_file_wrapper("/dev/null"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Cannot save to 'missing/dir/file.txt': No such file or directory\n"
              "Cannot save to '': No such file or directory\n"
              "Cannot save to '/dev/full': No space left on device\n");
    EXPECT_EQ(table_in_order().size(), 500u);
    EXPECT_EQ(names_in(dir), std::vector<std::string>{});
}

TEST_F(RecordFile, FailureMidwayLeavesTheOldFileWhole) {
    const std::string precious = table_lines(100000, 'p');
    dir.write("precious.txt", precious);
    load_quietly(table_lines(9000, 'n'));
    // The file size limit stops the writes after 64 KiB, as a full disk would.
    rlimit saved_limit;
    getrlimit(RLIMIT_FSIZE, &saved_limit);
    rlimit small = saved_limit;
    small.rlim_cur = 64 * 1024;
    auto saved_handler = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    testing::internal::CaptureStderr();
    bool written = save_to_file_wrapper("precious.txt");
    std::string error = testing::internal::GetCapturedStderr();
    setrlimit(RLIMIT_FSIZE, &saved_limit);
    signal(SIGXFSZ, saved_handler);

    EXPECT_FALSE(written);
    EXPECT_EQ(error, "Cannot save to 'precious.txt': File too large\n");
    EXPECT_TRUE(dir.read("precious.txt") == precious);
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"precious.txt"});  // no temporary file left
}

TEST_F(RecordFile, ReplacementKeepsModeLinksAndOwnership) {
    add_quietly("1.2.3.4 a");
    const std::string table = "1.2.3.4 a\n";
    dir.write("private.txt", "old\n");
    chmod(dir.file("private.txt").c_str(), 0640);
    dir.write("real.txt", "old\n");
    symlink("real.txt", dir.file("link.txt").c_str());
    dir.write("twice.txt", "old\n");
    link(dir.file("twice.txt").c_str(), dir.file("other-name.txt").c_str());

    for (const char* name : {"private.txt", "link.txt", "twice.txt", "new.txt"})
        EXPECT_TRUE(save_to_file_wrapper(dir.file(name))) << name;
    struct stat status;
    stat(dir.file("private.txt").c_str(), &status);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.read("private.txt"), table);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.txt")));
    EXPECT_EQ(dir.read("real.txt"), table);
    EXPECT_EQ(dir.read("other-name.txt"), table);  // hard links are written in place
    EXPECT_EQ(std::filesystem::hard_link_count(dir.file("twice.txt")), 2u);
    mode_t mask = umask(0);
    umask(mask);
    stat(dir.file("new.txt").c_str(), &status);
    EXPECT_EQ(status.st_mode & 07777, 0666u & ~mask);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"link.txt", "new.txt", "other-name.txt",
                                                       "private.txt", "real.txt", "twice.txt"}));
}

TEST_F(RecordFile, KilledOrConcurrentSavesLeaveOneWholeTable) {
    const std::string old_table = table_lines(100000, 'o');
    load_quietly(table_lines(100000, 'n'));
    const std::string new_table = saved_table(dir);
    const std::string target = dir.file("table.txt");

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(save_to_file_wrapper(target));
    const auto save_time = std::chrono::steady_clock::now() - start;
    std::mt19937 random(7);
    int killed_midway = 0;
    for (int round = 0; round < 12; ++round) {
        dir.write("table.txt", old_table);
        pid_t saver = fork();
        if (saver == 0) _exit(save_to_file_wrapper(target) ? 0 : 1);
        std::this_thread::sleep_for(save_time * std::uniform_real_distribution<>(0.0, 1.2)(random));
        kill(saver, SIGKILL);
        int status = 0;
        waitpid(saver, &status, 0);
        killed_midway += WIFSIGNALED(status);
        const std::string left = dir.read("table.txt");
        EXPECT_TRUE(left == old_table || left == new_table) << "round " << round << ": " << left.size() << " bytes";
    }
    EXPECT_GT(killed_midway, 0);

    // Two sessions saving other tables under one name at the same time.
    clear_table();
    load_quietly(table_lines(20000, 'x'));
    const std::string other_table = saved_table(dir);
    std::vector<pid_t> savers;
    for (int i = 0; i < 2; ++i) {
        pid_t saver = fork();
        if (saver == 0) {
            if (i == 1) {
                clear_table();
                load_quietly(table_lines(100000, 'n'));
            }
            bool all = true;
            for (int n = 0; n < 5; ++n) all = save_to_file_wrapper(target) && all;
            _exit(all ? 0 : 1);
        }
        savers.push_back(saver);
    }
    for (pid_t saver : savers) {
        int status = 0;
        waitpid(saver, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::string left = dir.read("table.txt");
    EXPECT_TRUE(left == other_table || left == new_table) << left.size() << " bytes";
}

TEST_F(RecordFile, ReaderThatGoesAwayFailsTheSaveOnly) {
    load_quietly(table_lines(9000, 'f'));  // more than a pipe holds
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    pid_t reader = fork();
    if (reader == 0) {
        int fd = open("fifo", O_RDONLY);
        char byte;
        _exit(read(fd, &byte, 1) == 1 ? 0 : 1);
    }
    pid_t saver = fork();
    if (saver == 0) {
        int stderr_copy = dup(2);
        freopen("/dev/null", "w", stderr);
        bool written = save_to_file_wrapper("fifo");
        struct sigaction after;
        sigaction(SIGPIPE, nullptr, &after);
        dup2(stderr_copy, 2);
        _exit(written ? 1 : after.sa_handler == SIG_DFL ? 0 : 2);
    }
    int status = 0;
    waitpid(saver, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "raw status " << status;
    waitpid(reader, &status, 0);
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

    std::filesystem::create_directory(init_file);
    testing::internal::CaptureStderr();
    out = output_of([] { init_func(init_file); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot read 'ZD482_Inet.txt': Is a directory\n");
    EXPECT_EQ(out, "Adding lines from file name: ZD482_Inet.txt\nInit done\n___________________________\n\n");
}

}  // namespace
