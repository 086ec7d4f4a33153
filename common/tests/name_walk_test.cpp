// Where names lead: each name against the directory and final name, the
// descriptor, or the error that the walk gives.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "checked_open.h"
#include "name_walk.h"
#include "temp_dir.h"

namespace {

struct expected {
    std::string name;
    std::string directory;  // relative to the test's directory; with `name` empty: none
    std::string final_name;
    int error = 0;
    int descriptor = -1;
};

TEST(NameWalk, NamesLeadWhereTheirComponentsAndLinksSay) {
    TempDir dir;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    std::filesystem::create_directories("sub/deeper");
    dir.write("file.txt", "");
    std::filesystem::create_symlink("sub/deeper", "down");
    std::filesystem::create_symlink(dir.file("sub"), "sub/deeper/up");
    std::filesystem::create_symlink("loop", "loop");
    std::filesystem::create_symlink("created.txt", "dangling");
    // c0 -> c1 -> ... -> c39 -> file.txt is 40 links, as many as a name may
    // take; d0 -> c0 is one more.
    for (int i = 0; i < 40; ++i)
        std::filesystem::create_symlink(i == 39 ? "file.txt" : "c" + std::to_string(i + 1), "c" + std::to_string(i));
    std::filesystem::create_symlink("c0", "d0");
    std::string long_text;
    while (long_text.size() < 300) long_text += "./";
    std::filesystem::create_symlink(long_text + "file.txt", "long");
    // Another process's view of the files is not followed by its text.
    const pid_t other = fork();
    if (other == 0) {
        pause();
        _exit(0);
    }
    const std::string fd = std::to_string(STDERR_FILENO), theirs = "/proc/" + std::to_string(other);
    // Its own links lead to the objects: a directory, one removed since (whose
    // text names a planted "gone (deleted)"), a file.
    std::filesystem::create_directory("gone");
    const int sub = open("sub", O_RDONLY | O_DIRECTORY), gone = open("gone", O_RDONLY | O_DIRECTORY);
    std::filesystem::remove("gone");
    std::filesystem::create_directory("gone (deleted)");
    const int file = open("file.txt", O_RDONLY);
    const std::string own = "/proc/" + std::to_string(getpid()), at = "/proc/self/fd/";

    const expected cases[] = {
        {"file.txt", ".", "file.txt"},
        {"sub//deeper/./x", "sub/deeper", "x"},
        {"sub/deeper/../../x", ".", "x"},
        {"/../.." + dir.path() + "/x", ".", "x"},  // ".." of the root is the root
        {"down/up/x", "sub", "x"},                 // a link's absolute text starts again at the root
        {"c0", ".", "file.txt"},
        {"long", ".", "file.txt"},  // a text longer than a first buffer
        {"dangling", ".", "created.txt"},
        {"sub", ".", "sub"},  // a directory: writing it fails later
        {"/proc/self/cwd/x", ".", "x"},
        {own + "/cwd/x", ".", "x"},
        {"/proc/thread-self/root" + dir.path() + "/x", ".", "x"},
        {at + std::to_string(sub) + "/x", "sub", "x"},
        {at + std::to_string(gone) + "/x", "", "", ENOENT},
        {"/dev/fd/" + std::to_string(file) + "/x", "", "", ENOTDIR},
        {"/proc/self/cwd", "", "", EISDIR},
        {"/proc/self/exe", "", "", EACCES},
        {"/dev/fd/" + fd, "", "", 0, STDERR_FILENO},
        {"/dev/fd/0", "", "", 0, STDIN_FILENO},
        {"/proc/self/fd/" + fd, "", "", 0, STDERR_FILENO},
        {"/proc/thread-self/fd/" + fd, "", "", 0, STDERR_FILENO},
        {"d0", "", "", ELOOP},
        {"loop", "", "", ELOOP},
        {"", "", "", ENOENT},
        {"missing/x", "", "", ENOENT},
        {"file.txt/x", "", "", ENOTDIR},
        {"file.txt/", "", "", ENOTDIR},
        {".", "", "", EISDIR},
        {"sub/", "", "", EISDIR},
        {"sub/..", "", "", EISDIR},
        {"/", "", "", EISDIR},
        {theirs + "/cwd/x", "", "", EACCES},
        {theirs + "/root" + dir.path() + "/x", "", "", EACCES},
    };
    for (const expected& e : cases) {
        SCOPED_TRACE(e.name);
        const name_target target = walk_name(e.name);
        EXPECT_EQ(target.error, e.error) << std::strerror(target.error);
        EXPECT_EQ(target.descriptor, e.descriptor);
        EXPECT_EQ(target.name, e.final_name);
        EXPECT_EQ(static_cast<bool>(target.directory), !e.directory.empty());
        if (!target.directory || e.directory.empty()) continue;
        struct stat got {}, want {};
        ASSERT_EQ(fstat(target.directory.get(), &got), 0);
        ASSERT_EQ(stat(e.directory.c_str(), &want), 0);
        EXPECT_TRUE(got.st_dev == want.st_dev && got.st_ino == want.st_ino) << "another directory";
    }
    for (int open_one : {sub, gone, file}) close(open_one);
    kill(other, SIGKILL);
    waitpid(other, nullptr, 0);
    std::filesystem::current_path(previous);
}

// A file looked at is opened only while it is the same file: not through a
// link put in its place, nor when another file of the same owner took it.
TEST(CheckedOpen, OpensOnlyTheFileLookedAt) {
    TempDir dir;
    dir.write("f", "");
    dir.write("other", "");
    struct stat looked {};
    ASSERT_EQ(stat(dir.file("f").c_str(), &looked), 0);
    const int directory = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    EXPECT_TRUE(open_examined(directory, "f", looked, O_RDONLY).fd);
    std::filesystem::rename(dir.file("f"), dir.file("kept"));
    std::filesystem::create_symlink("kept", dir.file("f"));
    EXPECT_TRUE(open_examined(directory, "f", looked, O_RDONLY).replaced);  // a link to it
    std::filesystem::remove(dir.file("f"));
    std::filesystem::rename(dir.file("other"), dir.file("f"));
    EXPECT_TRUE(open_examined(directory, "f", looked, O_RDONLY).replaced);  // another file
    close(directory);
}

}  // namespace
