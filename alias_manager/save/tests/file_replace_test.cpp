// The replacement of a file and what it keeps: mode, owner, links,
// attributes; who may write what; kills, concurrent saves, and writes that
// fail midway.

#include <signal.h>
#include <sys/resource.h>
#include <sys/xattr.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "call_faults.h"
#include "save_fixture.h"

namespace {

class FileReplace : public InTempDir {};

TEST_F(FileReplace, FailedSaveIsReportedAndWritesNothing) {
    const std::string table = table_lines(500, 'a');  // several KiB: a device fails midway, not at close
    dir.write("file.txt", "old\n");
    testing::internal::CaptureStderr();
    for (const char* name : {"missing/dir/file.txt", "", "/dev/full", "file.txt/x"})
        EXPECT_FALSE(saved(name, table)) << name;
    EXPECT_FALSE(saved(std::string_view("x\0y", 3), table));  // cut at its NUL byte it would be another file
    EXPECT_TRUE(saved("/dev/null", table));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Cannot save to 'missing/dir/file.txt': No such file or directory\n"
              "Cannot save to '': No such file or directory\n"
              "Cannot save to '/dev/full': No space left on device\n"
              "Cannot save to 'file.txt/x': Not a directory\n"
              "Cannot save to 'x': Invalid argument\n");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"file.txt"});
    EXPECT_EQ(dir.read("file.txt"), "old\n");
    // Written in place (another name links it): no room for the new text
    // writes nothing; a file system that reserves no room is written as before.
    ASSERT_EQ(link("file.txt", "twin.txt"), 0);
    for (const int error : {ENOSPC, EOPNOTSUPP}) {
        call_faults faults;
        faults.fail_all("fallocate", error);
        testing::internal::CaptureStderr();
        EXPECT_EQ(saved("file.txt", table), error == EOPNOTSUPP);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  error == ENOSPC ? "Cannot save to 'file.txt': No space left on device\n" : "");
        EXPECT_EQ(dir.read("file.txt"), error == ENOSPC ? "old\n" : table);
    }
}

TEST_F(FileReplace, FileSizeLimitMidwayFailsTheSaveAndKeepsTheSessionAndTheOldFile) {
    const std::string precious = table_lines(100000, 'p');
    for (const char* name : {"precious.txt", "linked.txt"}) dir.write(name, precious);
    ASSERT_EQ(link("linked.txt", "linked2.txt"), 0);
    const int log = open("log.txt", O_WRONLY | O_CREAT | O_APPEND, 0644);
    const std::string table = table_lines(9000, 'n');
    TempDir logs;
    // Replaced, written in place, written to a descriptor: the limit stops
    // the writes after 64 KiB, as a full disk would; its signal, at its
    // default, would end the whole session.
    const std::string names[] = {"precious.txt", "linked.txt", "/dev/fd/" + std::to_string(log)};
    for (const std::string& name : names) {
        const int status = status_of_child(logs.file("errors"), [&] {
            rlimit small{64 * 1024, RLIM_INFINITY};
            signal(SIGXFSZ, SIG_DFL);
            setrlimit(RLIMIT_FSIZE, &small);
            const bool written = saved(name, table);
            struct sigaction after;
            sigaction(SIGXFSZ, nullptr, &after);
            return written ? 1 : after.sa_handler == SIG_DFL ? 0 : 2;
        });
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << name << ": raw status " << status;
        EXPECT_EQ(logs.read("errors"), "Cannot save to '" + name + "': File too large\n");
    }
    close(log);
    EXPECT_TRUE(dir.read("precious.txt") == precious);
    // No temporary file left.
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"linked.txt", "linked2.txt", "log.txt", "precious.txt"}));
}

TEST_F(FileReplace, ReplacementKeepsModeLinksAndOpenDescriptors) {
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
        EXPECT_TRUE(saved(dir.file(name), table)) << name;
    // A descriptor of the process is written as it stands, not replaced.
    for (const std::string name : {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/"})
        EXPECT_TRUE(saved(name + std::to_string(log), table)) << name;
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
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{long_name, "created.txt", "dangling.txt", "link.txt", "new.txt",
                                                       "other-name.txt", "private.txt", "real.txt", "session.log",
                                                       "sub", "twice.txt"}));
}

std::string attribute(const std::string& path, const char* name) {
    std::string value(4096, '\0');
    const ssize_t size = lgetxattr(path.c_str(), name, value.data(), value.size());
    value.resize(size < 0 ? 0 : static_cast<std::size_t>(size));
    return value;
}


TEST_F(FileReplace, ReplacementCarriesOwnerGroupAttributesAndAcl) {
    if (geteuid() != 0) GTEST_SKIP() << "giving a file another owner needs root";
    const std::string table = "1.2.3.4 a\n";
    // Someone else's file, set-group-ID, with a note and an ACL that lets nobody write.
    dir.write("theirs.txt", "old\n");
    const std::string theirs = dir.file("theirs.txt");
    const std::string acl = raw_acl({{user_obj, 6, no_id}, {user, 6, nobody}, {group_obj, 4, no_id},
                                     {mask_entry, 6, no_id}, {other, 4, no_id}});
    ASSERT_EQ(chown(theirs.c_str(), 1234, 1234), 0);
    // Only root sees trusted attributes, and keeps them.
    if (setxattr(theirs.c_str(), "user.note", "keep", 4, 0) != 0 ||
        setxattr(theirs.c_str(), "trusted.note", "root", 4, 0) != 0 ||
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
    dir.write("defaults/own-acl.txt", "old\n");  // an ACL of its own, not the one a new file inherits
    const std::string another = raw_acl({{user_obj, 6, no_id}, {user, 6, 1234}, {group_obj, 4, no_id},
                                         {mask_entry, 6, no_id}, {other, 4, no_id}});
    ASSERT_EQ(setxattr(dir.file("defaults/own-acl.txt").c_str(), "system.posix_acl_access", another.data(),
                       another.size(), 0), 0);
    const std::string own_acl = attribute(dir.file("defaults/own-acl.txt"), "system.posix_acl_access");
    ASSERT_EQ(chmod(dir.file("defaults/older.txt").c_str(), 0644), 0);
    const std::string defaults = raw_acl({{user_obj, 6, no_id}, {user, 6, nobody}, {group_obj, 4, no_id},
                                          {mask_entry, 6, no_id}, {other, 0, no_id}});
    ASSERT_EQ(setxattr(dir.file("defaults").c_str(), "system.posix_acl_default", defaults.data(), defaults.size(), 0), 0);

    const mode_t mask = umask(022);
    EXPECT_TRUE(saved(theirs, table));
    EXPECT_TRUE(saved(dir.file("shared/f.txt"), table));
    EXPECT_TRUE(saved(dir.file("defaults/saved.txt"), table));
    EXPECT_TRUE(saved(dir.file("defaults/older.txt"), table));
    EXPECT_TRUE(saved(dir.file("defaults/own-acl.txt"), table));
    close(open(dir.file("defaults/plain.txt").c_str(), O_WRONLY | O_CREAT, 0666));
    umask(mask);

    const struct stat after = status_of(theirs);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(dir.read("theirs.txt"), "1.2.3.4 a\n");
    EXPECT_EQ(after.st_uid, 1234u);
    EXPECT_EQ(after.st_gid, 1234u);
    EXPECT_EQ(after.st_mode & 07777, 02660u);
    EXPECT_EQ(attribute(theirs, "user.note"), "keep");
    EXPECT_EQ(attribute(theirs, "trusted.note"), "root");
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
    EXPECT_EQ(attribute(dir.file("defaults/own-acl.txt"), "system.posix_acl_access"), own_acl);
}

// Who may write what, decided as the kernel would decide it whatever the
// system's settings: each save made in a child as the user of its row.
TEST_F(FileReplace, LinksFilesAndPermissionsDecideAsTheKernelWould) {
    if (geteuid() != 0) GTEST_SKIP() << "giving files other owners and saving as another user need root";
    chmod(dir.path().c_str(), 0755);
    for (const char* d : {"shared", "private", "mine", "blind", "closed"}) std::filesystem::create_directory(d);
    chmod("shared", 01777);  // world-writable and sticky, as /tmp
    const auto plant = [&](const char* link, const std::string& target, uid_t owner) {
        ASSERT_EQ(symlink(target.c_str(), link), 0);
        ASSERT_EQ(lchown(link, owner, owner), 0);
    };
    plant("shared/theirs.txt", dir.file("private/conf"), nobody);
    plant("shared/way", dir.file("private"), nobody);
    plant("shared/mine.txt", dir.file("private/mine"), 0);
    plant("shared/nobodys.txt", dir.file("private/nobodys"), nobody);
    for (const char* file : {"private/conf", "private/mine", "private/nobodys", "shared/planted.txt",
                             "shared/own.txt", "shared/nobodys-own.txt", "mine/read-only.txt", "blind/table.txt",
                             "closed/table.txt"})
        dir.write(file, "old\n");
    ASSERT_EQ(mkfifo("shared/fifo", 0666), 0);
    for (const char* path : {"private/nobodys", "shared/planted.txt", "shared/nobodys-own.txt", "shared/fifo", "mine",
                             "mine/read-only.txt", "blind", "blind/table.txt", "closed", "closed/table.txt"})
        ASSERT_EQ(chown(path, nobody, nobody), 0);
    const int fifo_reader = open("shared/fifo", O_RDONLY | O_NONBLOCK);  // a write there would not wait
    chmod("mine/read-only.txt", 0444);
    chmod("blind", 0333);  // the rename is made, the directory cannot be synced: saved
    chmod("closed", 0555);  // takes no new file: a writable file in it is written in place
    chmod("closed/table.txt", 0666);
    const ino_t closed_inode = status_of("closed/table.txt").st_ino;

    struct row {
        const char* name;
        int real, effective;
        const char* written;  // the file the save writes; null when refused
        const char* refused;  // the file that must stay as it was
    };
    const row rows[] = {
        {"shared/theirs.txt", 0, 0, nullptr, "private/conf"},         // another user's link
        {"shared/way/conf", 0, 0, nullptr, "private/conf"},           // ... to a directory
        {"shared/planted.txt", 0, 0, nullptr, "shared/planted.txt"},  // another user's file
        {"shared/fifo", 0, 0, nullptr, nullptr},                      // ... or FIFO
        {"shared/nobodys-own.txt", nobody, nobody, "shared/nobodys-own.txt", nullptr},
        {"shared/mine.txt", 0, 0, "private/mine", nullptr},           // one's own link
        {"shared/own.txt", 0, 0, "shared/own.txt", nullptr},          // one's own file
        {"shared/nobodys.txt", nobody, nobody, "private/nobodys", nullptr},
        {"shared/nobodys.txt", 0, nobody, "private/nobodys", nullptr},  // the effective user follows
        {"shared/nobodys-own.txt", 0, nobody, "shared/nobodys-own.txt", nullptr},  // ... and owns
        {"shared/planted.txt", nobody, 0, nullptr, "shared/planted.txt"},
        {"mine/read-only.txt", nobody, nobody, nullptr, "mine/read-only.txt"},
        {"mine/read-only.txt", 0, nobody, nullptr, "mine/read-only.txt"},  // the effective user decides
        {"blind/table.txt", nobody, nobody, "blind/table.txt", nullptr},
        {"closed/table.txt", nobody, nobody, "closed/table.txt", nullptr},
        {"mine/read-only.txt", 0, 0, "mine/read-only.txt", nullptr},  // root writes where the bits say no
    };
    TempDir logs;
    chmod(logs.path().c_str(), 0777);
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.name) + " as " + std::to_string(r.real) + "/" + std::to_string(r.effective));
        const int status = status_of_child(logs.file("errors"), [&] { return saved(r.name, "new\n") ? 0 : 1; },
                                           r.real, r.effective);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (r.written ? 0 : 1)) << status;
        EXPECT_EQ(logs.read("errors"), r.written ? "" : "Cannot save to '" + std::string(r.name) + "': Permission denied\n");
        if (r.written) { EXPECT_EQ(dir.read(r.written), "new\n"); }
        if (r.refused) { EXPECT_EQ(dir.read(r.refused), "old\n"); }
    }
    EXPECT_EQ(status_of("closed/table.txt").st_ino, closed_inode);
    close(fifo_reader);
}

// Killed just before each call of a save in turn: the old table or the new
// one is there, and nothing else, unless the kill came between the link of
// the unnamed file and its rename.
TEST_F(FileReplace, KilledAtAnyCallLeavesOneWholeTableAndNothingElse) {
    const std::string old_small = table_lines(2000, 'o'), new_small = table_lines(2000, 'n');
    const std::string target = dir.file("table.txt");
    TempDir logs;
    for (int n = 1, ended = 0; !ended; ++n) {
        dir.write("table.txt", old_small);
        const pid_t saver = fork();
        if (saver == 0) {
            call_faults faults;
            faults.before("*", n, [&] {
                std::ofstream(logs.file("killed")) << faults.log().back();
                raise(SIGKILL);
            });
            _exit(save_text(target, new_small, answer::yes) == save_result::saved ? 0 : 1);
        }
        int status = 0;
        waitpid(saver, &status, 0);
        ended = WIFEXITED(status);
        const std::string left = dir.read("table.txt"), killed = ended ? "" : logs.read("killed");
        EXPECT_TRUE(ended ? WEXITSTATUS(status) == 0 && left == new_small : left == old_small || left == new_small)
            << "killed before call " << n << " (" << killed << ")";
        EXPECT_EQ(names_in(dir.path()).size(), killed == "renameat" ? 2u : 1u) << "killed before " << killed;
        for (const std::string& name : names_in(dir.path()))
            if (name != "table.txt") std::filesystem::remove(dir.file(name));
    }
}

TEST_F(FileReplace, ConcurrentSavesLeaveOneWholeTable) {
    const std::string new_table = table_lines(100000, 'n');
    const std::string target = dir.file("table.txt");

    // Two sessions saving other tables under one name at the same time.
    const std::string other_table = table_lines(20000, 'x');
    std::vector<pid_t> savers;
    for (int i = 0; i < 2; ++i) {
        pid_t saver = fork();
        if (saver == 0) {
            bool all = true;
            for (int n = 0; n < 5; ++n)
                all = save_text(target, i == 1 ? new_table : other_table, answer::yes) == save_result::saved && all;
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

    // Another program takes the temporary file's name, as a link to its own
    // file, just before the save creates it: the save picks another name.
    dir.write("victim", "precious\n");
    // So too where it is linked, or where the file system has no unnamed files.
    for (const bool unnamed : {true, false}) {
        call_faults faults;
        if (!unnamed) faults.refuse_unnamed_files();
        bool taken = false;
        faults.before(unnamed ? "linkat" : "openat", 0, [&] {
            if (taken || faults.current_name().find(".tmp.") == std::string::npos) return;
            taken = true;
            std::filesystem::create_symlink(dir.file("victim"), dir.file(faults.current_name()));
        });
        EXPECT_EQ(save_text(target, new_table, answer::yes), save_result::saved);
        EXPECT_TRUE(taken);
        EXPECT_TRUE(dir.read("victim") == "precious\n") << "the link planted at the temporary name was followed";
        EXPECT_EQ(dir.read("table.txt"), new_table);
        for (const std::string& name : names_in(dir.path()))
            if (name.find(".tmp.") != std::string::npos) std::filesystem::remove(dir.file(name));
    }
}

TEST_F(FileReplace, ReaderThatGoesAwayFailsTheSaveOnly) {
    const std::string table = table_lines(9000, 'f');  // more than a pipe holds
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
        bool written = saved("fifo", table);
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

}  // namespace
