#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <grp.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>

#include "disk_state.h"
#include "file_calls.h"
#include "record_file.h"
#include "session.h"
#include "store_fixture.h"
#include "temp_dir.h"

namespace {

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

TEST_F(RecordFile, FailedSaveIsReportedAndNotSuccess) {
    // Several KiB, so that a device fails in the middle of the walk, not at close.
    load_quietly(table_lines(500, 'a'));
    dir.write("file.txt", "old\n");
    std::filesystem::create_directory("sub");
    ASSERT_EQ(symlink("loop.txt", "loop.txt"), 0);
    // A name cut at its NUL byte would be another file.
    testing::internal::CaptureStderr();
    for (const char* name : {"missing/dir/file.txt", "", "/dev/full", "file.txt/", "file.txt/x", ".", "sub/",
                             "sub/..", "loop.txt"})
        EXPECT_FALSE(save_to_file_wrapper(name)) << name;
    EXPECT_FALSE(save_to_file_wrapper(std::string_view("x\0y", 3)));
    EXPECT_TRUE(save_to_file_wrapper("/dev/null"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Cannot save to 'missing/dir/file.txt': No such file or directory\n"
              "Cannot save to '': No such file or directory\n"
              "Cannot save to '/dev/full': No space left on device\n"
              "Cannot save to 'file.txt/': Not a directory\n"
              "Cannot save to 'file.txt/x': Not a directory\n"
              "Cannot save to '.': Is a directory\n"
              "Cannot save to 'sub/': Is a directory\n"
              "Cannot save to 'sub/..': Is a directory\n"
              "Cannot save to 'loop.txt': Too many levels of symbolic links\n"
              "Cannot save to 'x': Invalid argument\n");
    EXPECT_EQ(table_in_order().size(), 500u);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"file.txt", "loop.txt", "sub"}));
    EXPECT_EQ(dir.read("file.txt"), "old\n");
}

// Where a name leads, dot components and links walked one at a time.
TEST_F(RecordFile, NamesLeadWhereTheirComponentsSay) {
    add_quietly("1.2.3.4 a");
    std::filesystem::create_directories("sub/deeper");
    ASSERT_EQ(symlink("sub/deeper", "down"), 0);
    ASSERT_EQ(symlink(dir.file("sub").c_str(), "sub/deeper/up"), 0);
    // From the working directory up to the root and down again.
    std::string from_root;
    for (auto part = std::filesystem::path(dir.path()).relative_path(); !part.empty(); part = part.parent_path())
        from_root += "../";
    for (const std::string& name : std::vector<std::string>{"sub/../a.txt", "sub/deeper/../../b.txt", "down/up/c.txt", "down/./d.txt",
                                   from_root + dir.path().substr(1) + "/e.txt", "sub/deeper//f.txt"})
        EXPECT_TRUE(save_to_file_wrapper(name)) << name;
    for (const std::string name : {"a.txt", "b.txt", "sub/c.txt", "sub/deeper/d.txt", "e.txt", "sub/deeper/f.txt"})
        EXPECT_EQ(dir.read(name), "1.2.3.4 a\n") << name;
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"a.txt", "b.txt", "down", "e.txt", "sub"}));
}

// Runs `save` in a child process whose standard error goes to `errors`, and
// returns its wait status.
template <class Save>
int status_of_child(const std::string& errors, Save&& save) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        _exit(save());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

TEST_F(RecordFile, FileSizeLimitMidwayFailsTheSaveAndKeepsTheSessionAndTheOldFile) {
    const std::string precious = table_lines(100000, 'p');
    dir.write("precious.txt", precious);
    load_quietly(table_lines(9000, 'n'));
    TempDir logs;
    // The limit stops the writes after 64 KiB, as a full disk would; its
    // signal, at its default, would end the whole session.
    const int status = status_of_child(logs.file("errors"), [] {
        rlimit small{64 * 1024, RLIM_INFINITY};
        signal(SIGXFSZ, SIG_DFL);
        setrlimit(RLIMIT_FSIZE, &small);
        const bool written = save_to_file_wrapper("precious.txt");
        struct sigaction after;
        sigaction(SIGXFSZ, nullptr, &after);
        return written ? 1 : after.sa_handler == SIG_DFL ? 0 : 2;
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "raw status " << status;
    EXPECT_EQ(logs.read("errors"), "Cannot save to 'precious.txt': File too large\n");
    EXPECT_TRUE(dir.read("precious.txt") == precious);
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"precious.txt"});  // no temporary file left
}

struct stat status_of(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status;
}

TEST_F(RecordFile, ReplacementKeepsModeLinksAndOpenDescriptors) {
    add_quietly("1.2.3.4 a");
    const std::string table = "1.2.3.4 a\n";
    const std::string long_name(250, 'L');
    for (const std::string& name : {std::string("private.txt"), std::string("real.txt"), long_name})
        dir.write(name, "old\n");
    chmod(dir.file("private.txt").c_str(), 0640);
    ASSERT_EQ(symlink("real.txt", dir.file("link.txt").c_str()), 0);
    std::filesystem::create_directory(dir.file("sub"));
    ASSERT_EQ(symlink("../link.txt", dir.file("sub/chain.txt").c_str()), 0);
    ASSERT_EQ(symlink("created.txt", dir.file("dangling.txt").c_str()), 0);
    dir.write("twice.txt", "an old content, longer than the table that replaces it\n");
    ASSERT_EQ(link(dir.file("twice.txt").c_str(), dir.file("other-name.txt").c_str()), 0);
    dir.write("session.log", "earlier\n");
    const int log = open(dir.file("session.log").c_str(), O_WRONLY | O_APPEND);
    const ino_t long_inode = status_of(dir.file(long_name)).st_ino;

    for (const std::string name : {"private.txt", "sub/chain.txt", "dangling.txt", "twice.txt", "new.txt",
                                   long_name.c_str()})
        EXPECT_TRUE(save_to_file_wrapper(dir.file(name))) << name;
    // A descriptor of the process is written as it stands, not replaced.
    for (const std::string name : {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/"})
        EXPECT_TRUE(save_to_file_wrapper(name + std::to_string(log))) << name;
    close(log);

    EXPECT_EQ(status_of(dir.file("private.txt")).st_mode & 07777, 0640u);
    EXPECT_EQ(dir.read("private.txt"), table);
    EXPECT_TRUE(S_ISLNK(status_of(dir.file("link.txt")).st_mode) && S_ISLNK(status_of(dir.file("sub/chain.txt")).st_mode));
    EXPECT_EQ(dir.read("real.txt"), table);
    EXPECT_TRUE(S_ISLNK(status_of(dir.file("dangling.txt")).st_mode));
    EXPECT_EQ(dir.read("created.txt"), table);
    EXPECT_EQ(dir.read("other-name.txt"), table);  // hard links are written in place
    EXPECT_EQ(std::filesystem::hard_link_count(dir.file("twice.txt")), 2u);
    EXPECT_EQ(dir.read(long_name), table);
    EXPECT_NE(status_of(dir.file(long_name)).st_ino, long_inode);  // replaced, even with the longest suffix
    EXPECT_EQ(dir.read("session.log"), "earlier\n" + table + table + table);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(status_of(dir.file("new.txt")).st_mode & 07777, 0666u & ~mask);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{long_name, "created.txt", "dangling.txt", "link.txt", "new.txt",
                                                       "other-name.txt", "private.txt", "real.txt", "session.log",
                                                       "sub", "twice.txt"}));
}

// A raw POSIX access or default ACL: (tag, permissions, id) entries in order.
std::string raw_acl(std::initializer_list<std::array<std::uint32_t, 3>> entries) {
    std::string bytes;
    const auto put = [&](std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>(value >> (8 * i) & 0xff));
    };
    put(2, 4);  // version
    for (const auto& [tag, permissions, id] : entries) {
        put(tag, 2);
        put(permissions, 2);
        put(id, 4);
    }
    return bytes;
}

std::string attribute(const std::string& path, const char* name) {
    std::string value(4096, '\0');
    const ssize_t size = lgetxattr(path.c_str(), name, value.data(), value.size());
    value.resize(size < 0 ? 0 : static_cast<std::size_t>(size));
    return value;
}

constexpr std::uint32_t no_id = 0xffffffff, nobody = 65534;
constexpr std::uint32_t user_obj = 1, user = 2, group_obj = 4, mask_entry = 0x10, other = 0x20;

TEST_F(RecordFile, ReplacementCarriesOwnerGroupAttributesAndAcl) {
    if (geteuid() != 0) GTEST_SKIP() << "giving a file another owner needs root";
    add_quietly("1.2.3.4 a");
    // Someone else's file, set-group-ID, with a note and an ACL that lets nobody write.
    dir.write("theirs.txt", "old\n");
    const std::string theirs = dir.file("theirs.txt");
    const std::string acl = raw_acl({{user_obj, 6, no_id}, {user, 6, nobody}, {group_obj, 4, no_id},
                                     {mask_entry, 6, no_id}, {other, 4, no_id}});
    ASSERT_EQ(chown(theirs.c_str(), 1234, 1234), 0);
    if (setxattr(theirs.c_str(), "user.note", "keep", 4, 0) != 0 ||
        setxattr(theirs.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
        GTEST_SKIP() << "this file system keeps no extended attributes or ACLs: " << std::strerror(errno);
    ASSERT_EQ(chmod(theirs.c_str(), 02660), 0);  // the group bits are the ACL's mask
    const struct stat before = status_of(theirs);
    const std::string acl_before = attribute(theirs, "system.posix_acl_access");
    // In a set-group-ID directory of another group, a root-group 0640 file keeps its group.
    std::filesystem::create_directory(dir.file("shared"));
    ASSERT_EQ(chown(dir.file("shared").c_str(), 0, nobody), 0);
    ASSERT_EQ(chmod(dir.file("shared").c_str(), 02775), 0);
    dir.write("shared/f.txt", "old\n");
    ASSERT_EQ(chown(dir.file("shared/f.txt").c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(dir.file("shared/f.txt").c_str(), 0640), 0);
    // A directory whose default ACL gives nobody write and others nothing.
    std::filesystem::create_directory(dir.file("defaults"));
    dir.write("defaults/older.txt", "old\n");  // from before the default ACL: none of its own
    ASSERT_EQ(chmod(dir.file("defaults/older.txt").c_str(), 0644), 0);
    const std::string defaults = raw_acl({{user_obj, 6, no_id}, {user, 6, nobody}, {group_obj, 4, no_id},
                                          {mask_entry, 6, no_id}, {other, 0, no_id}});
    ASSERT_EQ(setxattr(dir.file("defaults").c_str(), "system.posix_acl_default", defaults.data(), defaults.size(), 0), 0);

    const mode_t mask = umask(022);
    EXPECT_TRUE(save_to_file_wrapper(theirs));
    EXPECT_TRUE(save_to_file_wrapper(dir.file("shared/f.txt")));
    EXPECT_TRUE(save_to_file_wrapper(dir.file("defaults/saved.txt")));
    EXPECT_TRUE(save_to_file_wrapper(dir.file("defaults/older.txt")));
    close(open(dir.file("defaults/plain.txt").c_str(), O_WRONLY | O_CREAT, 0666));
    umask(mask);

    const struct stat after = status_of(theirs);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(dir.read("theirs.txt"), "1.2.3.4 a\n");
    EXPECT_EQ(after.st_uid, 1234u);
    EXPECT_EQ(after.st_gid, 1234u);
    EXPECT_EQ(after.st_mode & 07777, 02660u);
    EXPECT_EQ(attribute(theirs, "user.note"), "keep");
    EXPECT_EQ(attribute(theirs, "system.posix_acl_access"), acl_before);
    const struct stat grouped = status_of(dir.file("shared/f.txt"));
    EXPECT_EQ(grouped.st_gid, 0u);
    EXPECT_EQ(grouped.st_mode & 07777, 0640u);
    // A new name is created as a plain create would create it.
    const struct stat saved = status_of(dir.file("defaults/saved.txt")), plain = status_of(dir.file("defaults/plain.txt"));
    EXPECT_EQ(saved.st_mode & 07777, plain.st_mode & 07777);
    EXPECT_EQ(saved.st_mode & 07777, 0660u);
    EXPECT_EQ(attribute(dir.file("defaults/saved.txt"), "system.posix_acl_access"),
              attribute(dir.file("defaults/plain.txt"), "system.posix_acl_access"));
    // A replaced file takes nothing from the directory's default ACL.
    EXPECT_EQ(attribute(dir.file("defaults/older.txt"), "system.posix_acl_access"), "");
    EXPECT_EQ(status_of(dir.file("defaults/older.txt")).st_mode & 07777, 0644u);
}

TEST_F(RecordFile, LinksPlantedInSharedDirectoriesAreNotFollowed) {
    if (geteuid() != 0) GTEST_SKIP() << "planting another user's link needs root";
    add_quietly("1.2.3.4 a");
    std::filesystem::create_directory(dir.file("shared"));
    chmod(dir.file("shared").c_str(), 01777);
    std::filesystem::create_directory(dir.file("open"));
    chmod(dir.file("open").c_str(), 0777);
    std::filesystem::create_directory(dir.file("private"));
    const auto plant = [&](const std::string& link, const std::string& target, uid_t owner) {
        ASSERT_EQ(symlink(target.c_str(), dir.file(link).c_str()), 0);
        ASSERT_EQ(lchown(dir.file(link).c_str(), owner, owner), 0);
    };
    plant("shared/table.txt", dir.file("private/conf"), nobody);
    plant("shared/way", dir.file("private"), nobody);
    plant("shared/mine.txt", dir.file("private/mine"), 0);
    plant("open/table.txt", dir.file("private/open"), nobody);
    for (const char* file : {"conf", "mine", "open"}) dir.write(std::string("private/") + file, "secret\n");

    testing::internal::CaptureStderr();
    EXPECT_FALSE(save_to_file_wrapper(dir.file("shared/table.txt")));
    EXPECT_FALSE(save_to_file_wrapper(dir.file("shared/way/conf")));
    const std::string refused = testing::internal::GetCapturedStderr();
    EXPECT_EQ(refused, "Cannot save to '" + dir.file("shared/table.txt") + "': Permission denied\n" +
                           "Cannot save to '" + dir.file("shared/way/conf") + "': Permission denied\n");
    EXPECT_EQ(dir.read("private/conf"), "secret\n");
    // One's own link, or another's outside a sticky world-writable directory,
    // is followed; so is a link of the directory's owner.
    EXPECT_TRUE(save_to_file_wrapper(dir.file("shared/mine.txt")));
    EXPECT_TRUE(save_to_file_wrapper(dir.file("open/table.txt")));
    EXPECT_EQ(dir.read("private/mine"), "1.2.3.4 a\n");
    EXPECT_EQ(dir.read("private/open"), "1.2.3.4 a\n");
    ASSERT_EQ(chown(dir.file("shared").c_str(), nobody, nobody), 0);
    EXPECT_TRUE(save_to_file_wrapper(dir.file("shared/table.txt")));
    EXPECT_EQ(dir.read("private/conf"), "1.2.3.4 a\n");
}

// A save made as the unprivileged user nobody; returns the child's wait status.
int status_as_nobody(const std::string& errors, const std::string& path) {
    return status_of_child(errors, [&] {
        if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) return 3;
        return save_to_file_wrapper(path) ? 0 : 1;
    });
}

TEST_F(RecordFile, WithoutRootRightsTheFilesAndDirectoryPermissionsHold) {
    if (geteuid() != 0) GTEST_SKIP() << "switching to another user needs root";
    add_quietly("1.2.3.4 a");
    chmod(dir.path().c_str(), 0755);
    TempDir logs;
    chmod(logs.path().c_str(), 0777);
    // A read-only file of one's own is refused, as the shell refuses "echo x > file".
    std::filesystem::create_directory(dir.file("mine"));
    dir.write("mine/read-only.txt", "old\n");
    chmod(dir.file("mine/read-only.txt").c_str(), 0444);
    // A directory that can be written but not read: the rename is made, the
    // directory cannot be synced, and the save is done.
    std::filesystem::create_directory(dir.file("blind"));
    dir.write("blind/table.txt", "old\n");
    // A directory that takes no new file: a writable file in it is written in place.
    std::filesystem::create_directory(dir.file("closed"));
    dir.write("closed/table.txt", "old\n");
    chmod(dir.file("closed/table.txt").c_str(), 0666);
    for (const char* path : {"mine", "mine/read-only.txt", "blind", "blind/table.txt", "closed", "closed/table.txt"})
        ASSERT_EQ(chown(dir.file(path).c_str(), nobody, nobody), 0);
    chmod(dir.file("blind").c_str(), 0333);
    chmod(dir.file("closed").c_str(), 0555);
    const ino_t closed_inode = status_of(dir.file("closed/table.txt")).st_ino;

    int status = status_as_nobody(logs.file("errors"), dir.file("mine/read-only.txt"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(logs.read("errors"), "Cannot save to '" + dir.file("mine/read-only.txt") + "': Permission denied\n");
    EXPECT_EQ(dir.read("mine/read-only.txt"), "old\n");
    status = status_as_nobody(logs.file("errors"), dir.file("blind/table.txt"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << logs.read("errors");
    status = status_as_nobody(logs.file("errors"), dir.file("closed/table.txt"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << logs.read("errors");
    chmod(dir.file("blind").c_str(), 0755);
    EXPECT_EQ(dir.read("blind/table.txt"), "1.2.3.4 a\n");
    EXPECT_EQ(dir.read("closed/table.txt"), "1.2.3.4 a\n");
    EXPECT_EQ(status_of(dir.file("closed/table.txt")).st_ino, closed_inode);
    // Root writes where the permission bits say no, as it may anywhere.
    EXPECT_TRUE(save_to_file_wrapper(dir.file("mine/read-only.txt")));
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
    // A kill midway leaves the temporary file it was writing behind; one
    // before the save began or after it ended leaves none.
    int killed_midway = 0;
    for (int round = 0; round < 40 && killed_midway < 3; ++round) {
        dir.write("table.txt", old_table);
        pid_t saver = fork();
        if (saver == 0) _exit(save_to_file_wrapper(target) ? 0 : 1);
        std::this_thread::sleep_for(save_time * std::uniform_real_distribution<>(0.0, 1.2)(random));
        kill(saver, SIGKILL);
        int status = 0;
        waitpid(saver, &status, 0);
        const std::string left = dir.read("table.txt");
        EXPECT_TRUE(left == old_table || left == new_table) << "round " << round << ": " << left.size() << " bytes";
        for (const std::string& name : names_in(dir)) {
            if (name == "table.txt") continue;
            EXPECT_TRUE(name.starts_with("table.txt.tmp.")) << name;
            killed_midway += WIFSIGNALED(status);
            std::filesystem::remove(dir.file(name));
        }
    }
    EXPECT_EQ(killed_midway, 3);

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
        if (freopen("/dev/null", "w", stderr) == nullptr)
            _exit(3);
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

// Faults put into the calls that a save makes, one at a time: each must fail
// the save and leave the old file as it was, or end with the whole new table
// in the file, replaced or written in place as the case requires. No
// temporary file is ever left behind.
namespace injected {

int succeeding = 0;  // uses of the faulty call that still succeed
int error = 0;       // what it then fails with

bool fails_now() {
    if (succeeding-- > 0) return false;
    errno = error;
    return true;
}

void make_faulty(std::string_view call) {
    file_calls& c = save_calls;
    if (call == "create temporary") {
        c.openat = [](int dir, const char* name, int flags, mode_t mode) {
            return (flags & O_EXCL) != 0 && fails_now() ? -1 : openat(dir, name, flags, mode);
        };
    } else if (call == "open directory") {
        c.openat = [](int dir, const char* name, int flags, mode_t mode) {
            return (flags & O_DIRECTORY) != 0 && fails_now() ? -1 : openat(dir, name, flags, mode);
        };
    } else if (call == "access") {
        c.faccessat = [](int dir, const char* name, int mode, int flags) {
            return fails_now() ? -1 : faccessat(dir, name, mode, flags);
        };
    } else if (call == "chown") {  // the new file's owner seems wrong, and cannot be changed
        c.fstat = [](int fd, struct stat* status) {
            const int result = fstat(fd, status);
            ++status->st_uid;
            return result;
        };
        c.fchown = [](int, uid_t, gid_t) { return fails_now() ? -1 : 0; };
    } else if (call == "list attributes") {
        c.flistxattr = [](int fd, char* names, std::size_t size) -> ssize_t {
            return fails_now() ? -1 : flistxattr(fd, names, size);
        };
    } else if (call == "chmod") {
        c.fchmod = [](int fd, mode_t mode) { return fails_now() ? -1 : fchmod(fd, mode); };
    } else if (call == "write") {
        c.write = [](int fd, const void* data, std::size_t size) -> ssize_t {
            return fails_now() ? -1 : write(fd, data, size);
        };
    } else if (call == "sync") {
        c.fsync = [](int fd) { return fails_now() ? -1 : fsync(fd); };
    } else if (call == "close") {  // the descriptor is gone all the same
        c.close = [](int fd) {
            const int result = close(fd);
            return fails_now() ? -1 : result;
        };
    } else if (call == "rename") {
        c.renameat = [](int from_dir, const char* from, int to_dir, const char* to) {
            return fails_now() ? -1 : renameat(from_dir, from, to_dir, to);
        };
    } else {
        FAIL() << "no such call: " << call;
    }
}

struct fault {
    std::string_view call;
    int succeeding;
    int error;
    int reported;   // errno value of the save's report; 0 for success
    bool in_place;  // a success wrote the old file in place
};

const fault faults[] = {
    // Only a refusal of permission writes in place; a full disk fails.
    {"create temporary", 0, ENOSPC, ENOSPC, false},
    {"create temporary", 0, EDQUOT, EDQUOT, false},
    {"create temporary", 0, EMFILE, EMFILE, false},
    {"create temporary", 0, EROFS, EROFS, false},
    {"create temporary", 0, EIO, EIO, false},
    {"create temporary", 0, EACCES, 0, true},
    {"create temporary", 0, EPERM, 0, true},
    {"access", 0, EACCES, EACCES, false},
    {"chown", 0, EPERM, 0, true},
    {"list attributes", 0, EIO, 0, true},
    {"chmod", 0, EPERM, 0, true},
    {"write", 0, ENOSPC, ENOSPC, false},
    {"write", 3, EIO, EIO, false},
    {"sync", 0, EIO, EIO, false},
    {"close", 0, EIO, EIO, false},
    {"rename", 0, EXDEV, EXDEV, false},
    // After the rename the save is done, whatever the directory says.
    {"sync", 1, EIO, 0, false},
    {"open directory", 0, EACCES, 0, false},
};

}  // namespace injected

ino_t inode_of(const std::string& path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return status.st_ino;
}

TEST_F(RecordFile, EveryFailingCallLeavesTheOldFileOrTheWholeNewOne) {
    load_quietly(table_lines(4000, 'n'));  // several stream buffers
    const std::string new_table = saved_table(dir);
    const std::string old_table = table_lines(10, 'o');
    for (const injected::fault& fault : injected::faults) {
        SCOPED_TRACE(std::string(fault.call) + " failing with " + std::strerror(fault.error));
        dir.write("table.txt", old_table);
        const ino_t old_inode = inode_of(dir.file("table.txt"));
        injected::succeeding = fault.succeeding;
        injected::error = fault.error;
        injected::make_faulty(fault.call);
        testing::internal::CaptureStderr();
        const bool saved = save_to_file_wrapper("table.txt");
        const std::string report = testing::internal::GetCapturedStderr();
        save_calls = system_file_calls();

        EXPECT_EQ(saved, fault.reported == 0);
        if (fault.reported != 0) {
            EXPECT_EQ(report, std::string("Cannot save to 'table.txt': ") + std::strerror(fault.reported) + "\n");
            EXPECT_TRUE(dir.read("table.txt") == old_table);
            EXPECT_EQ(inode_of(dir.file("table.txt")), old_inode);
        } else {
            EXPECT_EQ(report, "");
            EXPECT_TRUE(dir.read("table.txt") == new_table);
            EXPECT_EQ(inode_of(dir.file("table.txt")) == old_inode, fault.in_place);
        }
        EXPECT_EQ(names_in(dir), std::vector<std::string>{"table.txt"});
    }
}

// A remembered file counts as changed when anything of what identifies its
// content differs: another file in its place, another size, another
// modification time, each alone.
TEST(SeenFiles, ChangedOnlyWhenTheFileThereIsNoLongerTheOneRemembered) {
    TempDir dir;
    const std::string path = dir.file("table.txt");
    seen_files seen;
    // A time long past, so that any write now gives another one.
    const timespec remembered{1000000000, 123456789};
    const auto keep_time = [&](const std::string& file) {
        const timespec times[2] = {remembered, remembered};
        ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    };
    dir.write("table.txt", "1.1.1.1 a\n");
    keep_time(path);
    seen.remember(path);
    EXPECT_FALSE(seen.changed(path));
    dir.write("other.txt", "2.2.2.2 b\n");
    EXPECT_FALSE(seen.changed(dir.file("other.txt")));  // never remembered, in the same directory
    ASSERT_EQ(symlink("table.txt", dir.file("link.txt").c_str()), 0);
    EXPECT_FALSE(seen.changed(dir.file("link.txt")));  // the same place by another name

    dir.write("table.txt", "2.2.2.2 b\n");  // written in place, same size
    EXPECT_TRUE(seen.changed(path));
    EXPECT_TRUE(seen.changed(dir.file("link.txt")));
    keep_time(path);
    EXPECT_FALSE(seen.changed(path));
    const timespec a_nanosecond_later[2] = {remembered, {remembered.tv_sec, remembered.tv_nsec + 1}};
    utimensat(AT_FDCWD, path.c_str(), a_nanosecond_later, 0);
    EXPECT_TRUE(seen.changed(path));  // only the time differs
    dir.write("table.txt", "2.2.2.2 bb\n");
    keep_time(path);
    EXPECT_TRUE(seen.changed(path));  // only the size differs
    dir.write("table.txt", "2.2.2.2 b\n");
    keep_time(path);
    dir.write("new.txt", "3.3.3.3 c\n");
    keep_time(dir.file("new.txt"));
    std::filesystem::rename(dir.file("new.txt"), path);
    EXPECT_TRUE(seen.changed(path));  // only the file differs
    seen.remember(path);
    EXPECT_FALSE(seen.changed(path));
    std::filesystem::remove(path);
    EXPECT_FALSE(seen.changed(path));  // nothing there to overwrite
    mkfifo(path.c_str(), 0600);
    EXPECT_FALSE(seen.changed(path));  // not a regular file
}

}  // namespace
