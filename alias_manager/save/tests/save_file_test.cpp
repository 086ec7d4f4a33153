// The save as one unit: every call it makes failing in turn, other programs
// changing the file at each step, and attributes given only where needed.

#include <sys/xattr.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <map>
#include <set>

#include "call_faults.h"
#include "save_fixture.h"

namespace {

class SaveFile : public InTempDir {};

int open_descriptors() {
    return static_cast<int>(names_in("/proc/self/fd").size());
}

// The temporary files left anywhere below the working directory.
std::vector<std::string> temporaries() {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator("."))
        if (entry.path().filename().string().find(".tmp.") != std::string::npos) found.push_back(entry.path());
    return found;
}

std::size_t index_of(const std::vector<std::string>& log, const std::string& name, std::size_t from = 0) {
    const auto at = std::find(log.begin() + static_cast<std::ptrdiff_t>(std::min(from, log.size())), log.end(), name);
    return static_cast<std::size_t>(at - log.begin());
}

// For every N, call N of a save fails with each plausible errno, until the
// save goes through untouched; a save fails with what failed, or ends with
// the whole new table, and leaves no temporary file and no descriptor open.
// Replacing: another owner, an attribute, a link on the way, a directory
// whose default ACL the new file inherits; through an unnamed file, and a
// named one where there are none. In place: a file with two names.
// A descriptor: the table goes after what it holds.
TEST_F(SaveFile, EveryCallFailingInTurnLeavesTheOldFileOrTheWholeNewOne) {
    const std::string old = table_lines(20, 'o'), table = table_lines(400, 'n');
    std::filesystem::create_directory("d");
    const std::string defaults = raw_acl({{user_obj, 6, no_id}, {user, 6, nobody}, {group_obj, 4, no_id},
                                          {mask_entry, 6, no_id}, {other, 0, no_id}});
    const bool acl = setxattr("d", "system.posix_acl_default", defaults.data(), defaults.size(), 0) == 0;
    ASSERT_EQ(symlink("d/table.txt", "link.txt"), 0);
    const int log = open("log.txt", O_WRONLY | O_CREAT | O_APPEND, 0644);
    struct sweep {
        std::string name, file;
        bool replaced, in_place, named = false;  // named: no unnamed files on the file system
    };
    const sweep sweeps[] = {{"link.txt", "d/table.txt", true, false},
                            {"link.txt", "d/table.txt", true, false, true},
                            {"twin.txt", "twin.txt", false, true},
                            {"/dev/fd/" + std::to_string(log), "log.txt", false, true}};
    dir.write("twin.txt", old);
    ASSERT_EQ(link("twin.txt", "twin2.txt"), 0);
    const auto reset = [&] {  // each file emptied and written again, keeping its inode
        for (const char* file : {"d/table.txt", "twin.txt", "log.txt"}) dir.write(file, old);
        ASSERT_EQ(setxattr("d/table.txt", "user.note", "keep", 4, 0), 0);
        removexattr("d/table.txt", "system.posix_acl_access");  // so the ACL a new file inherits is dropped
        ASSERT_EQ(chmod("d/table.txt", 0644), 0);
        if (geteuid() == 0) { ASSERT_EQ(chown("d/table.txt", nobody, nobody), 0); }
    };
    struct variant {
        int error;
        const char* every = "";  // a call that fails every time as well...
        int every_error = 0;     // ...with this
        bool short_writes = false;
    };
    const variant variants[] = {{EIO}, {ENOSPC}, {EACCES}, {EPERM}, {ENOTSUP}, {EEXIST}, {ENOENT},
                                {EIO, "unlinkat", EIO},     // which leaves the temporary file
                                {ENOSPC, "fchmod", EPERM},  // a replacement is written in place
                                {EIO, "", 0, true}};        // each write takes half of what it is given
    std::set<std::string> failed;
    for (const sweep& s : sweeps) {
        // Until no variant reaches call N: a fault can make a save take more calls.
        for (int n = 1, reaching = 1; reaching > 0; ++n) {
            reaching = 0;
            for (const variant& v : variants) {
                const int error = v.error;
                const bool removals_fail = v.every == std::string_view("unlinkat");
                SCOPED_TRACE(s.name + (s.named ? " (named)" : "") + ": call " + std::to_string(n) + " failing with " +
                             std::strerror(error) + ", every " + v.every + " too" +
                             (v.short_writes ? ", short writes" : ""));
                reset();
                forget_files();  // each run alike, whatever the last one remembered
                const ino_t inode = status_of(s.file).st_ino;
                const int descriptors = open_descriptors();
                call_faults faults;
                faults.fail_call(n, error);
                faults.fail_all(v.every, v.every_error);
                if (v.short_writes) faults.short_writes();
                if (s.named) faults.refuse_unnamed_files();
                faults.before("flistxattr", 1, [&] {  // as created, unless a fault fooled the save
                    if (faults.log().size() > static_cast<std::size_t>(n)) return;
                    for (const std::string& temporary : temporaries())
                        EXPECT_EQ(status_of(temporary).st_mode & 07777, 0600u) << "readable by others";
                });
                testing::internal::CaptureStderr();
                const save_result result = save_text(s.name, table, answer::yes);
                const std::string report = testing::internal::GetCapturedStderr();
                const std::vector<std::string> calls = faults.log();
                const bool reached = calls.size() >= static_cast<std::size_t>(n);
                reaching += reached;
                if (reached) failed.insert(calls[static_cast<std::size_t>(n) - 1]);
                if (removals_fail && index_of(calls, "unlinkat") < calls.size()) failed.insert("unlinkat");

                forget_files();  // and the directories held for what it remembers
                EXPECT_EQ(open_descriptors(), descriptors);
                const std::string whole = s.file == "log.txt" ? old + table : table, now = dir.read(s.file);
                const std::string failing = reached ? calls[static_cast<std::size_t>(n) - 1] : "";
                if (!removals_fail && failing != "unlinkat") { EXPECT_EQ(temporaries(), std::vector<std::string>{}); }
                for (const std::string& temporary : temporaries()) std::filesystem::remove(temporary);
                const std::size_t last_write = calls.rend() - std::find(calls.rbegin(), calls.rend(), "write");
                // No mode given: written in place instead, said before the failure that may follow.
                const std::size_t mode_at =
                    v.every == std::string_view("fchmod") ? index_of(calls, "fchmod") : calls.size();
                const bool noted = mode_at + 1 < static_cast<std::size_t>(n);
                const bool replacing = s.replaced && mode_at == calls.size();
                if (result == save_result::saved) {
                    EXPECT_TRUE(now == whole) << now.size() << " bytes";
                    EXPECT_TRUE(report.empty() || (report.starts_with("Cannot keep the ") &&
                                                   report.ends_with("' in a new file: written in place\n")))
                        << report;
                    // A replacement written in place says why, or was refused a new file.
                    if (s.replaced && status_of(s.file).st_ino == inode) {
                        EXPECT_TRUE(!report.empty() || error == EACCES || error == EPERM);
                    }
                    // It keeps the owner, and the attributes where the file system has them.
                    if (s.replaced && geteuid() == 0) { EXPECT_EQ(status_of(s.file).st_uid, nobody); }
                    std::string note(4, '\0');
                    const bool unsupported = error == ENOTSUP && failing.ends_with("listxattr");
                    if (s.replaced && !unsupported) {
                        EXPECT_EQ(getxattr(s.file.c_str(), "user.note", note.data(), note.size()), 4);
                        EXPECT_EQ(note, "keep");
                    }
                    // A file system without attributes (it says so when asked the size of
                    // the list) has none to lose: still a replacement.
                    if (s.replaced && unsupported && n > 1 && calls[static_cast<std::size_t>(n) - 2] != failing) {
                        EXPECT_TRUE(report.empty() && status_of(s.file).st_ino != inode) << report;
                    }
                    // What was written is not saved until its descriptor is closed.
                    EXPECT_FALSE(s.in_place && failing == "close" && index_of(calls, "close", last_write) == n - 1u);
                } else {
                    const std::string note = "Cannot keep the mode of '" + s.name + "' in a new file: written in place\n",
                                      failure = "Cannot save to '" + s.name + "': " + std::strerror(error) + "\n";
                    EXPECT_EQ(report, (noted ? note : "") + failure);
                    // In place, a failure part way leaves the new text's start; none where no room was had.
                    const bool in_place = s.in_place || noted;
                    EXPECT_TRUE(now == old || (in_place && failing != "fallocate" && whole.starts_with(now)))
                        << now.size() << " bytes";
                }
                if (reached || s.file == "log.txt") continue;
                // Untouched: the file is synced after its last write, and a
                // replacement before its rename, the directory after it.
                ASSERT_EQ(result, save_result::saved);
                const std::size_t synced = index_of(calls, "fsync", last_write);
                EXPECT_LT(synced, calls.size());
                const std::size_t renamed = index_of(calls, "renameat");
                EXPECT_EQ(renamed < calls.size(), replacing);
                if (replacing) { EXPECT_LT(synced, renamed); }
                if (replacing) { EXPECT_LT(index_of(calls, "fsync", renamed), calls.size()); }
            }
        }
    }
    close(log);
    const std::vector<std::string> entries = call_faults::entries();
    std::set<std::string> all(entries.begin(), entries.end());
    if (geteuid() != 0) all.erase("fchown");  // the old file has another owner only when root made it so
    if (!acl) all.erase("fremovexattr");      // nothing inherited to drop
    EXPECT_EQ(failed, all);
}

// Another program's steps, each "verb name [name]", separated by ";". One
// that starts "@before:CALL:N " or "@after:CALL:N " runs at that call of the
// session's load or save instead of at once (N "*": at every one), and one
// that starts "@ask:N " when the session asks its Nth question.
void run_steps(const std::string& steps, call_faults& faults, std::map<int, std::string>* at_question = nullptr) {
    static int written = 0;
    std::istringstream list(steps);
    for (std::string step; std::getline(list, step, ';');) {
        std::istringstream words(step);
        std::string verb, a, b;
        words >> verb >> a >> b;
        if (verb.starts_with('@')) {
            const auto at = verb.find(':', 1), nth = verb.rfind(':');
            const std::string call = verb.substr(at + 1, nth - at - 1), rest = step.substr(verb.size() + 1);
            const int count = verb.ends_with('*') ? 0 : std::stoi(verb.substr(nth + 1));
            const auto later = [rest, &faults] { run_steps(rest, faults); };
            if (verb.starts_with("@before")) faults.before(call, count, later);
            if (verb.starts_with("@after")) faults.after(call, count, later);
            if (verb.starts_with("@ask")) (*at_question)[count] = rest;
        } else if (verb == "twins") {  // the same content at once: most likely the same times too
            std::ofstream(a) << "twin\n";
            std::ofstream(b) << "twin\n";
        } else if (verb == "write" || verb == "replace") {  // another content, longer each time
            std::ofstream(verb == "write" ? a : a + ".new") << std::string(++written, 'x') << "\n";
            if (verb == "replace") std::filesystem::rename(a + ".new", a);
        } else if (verb == "edit") {  // the same size, and the old modification time put back
            const struct stat before = status_of(a);
            std::fstream(a, std::ios::in | std::ios::out) << "#";
            const timespec times[2] = {before.st_atim, before.st_mtim};
            utimensat(AT_FDCWD, a.c_str(), times, 0);
        } else if (verb == "mkdir") {
            std::filesystem::create_directory(a);
        } else if (verb == "rename") {
            std::filesystem::rename(a, b);
        } else if (verb == "symlink") {
            std::filesystem::create_symlink(a, b);
        } else if (verb == "link") {
            std::filesystem::create_hard_link(a, b);
        } else if (verb == "chmod") {
            chmod(a.c_str(), 0600);
        } else if (verb == "remove") {
            std::filesystem::remove(a);
        } else {
            FAIL() << "no such step: " << step;
        }
    }
}

// A session is asked exactly when someone else changed what the name leads
// to since the session last read or wrote it. The other program's steps come
// between the session's load and its saves, or at a given call of either.
TEST_F(SaveFile, AskedExactlyWhenAnotherProgramChangedTheFile) {
    struct change {
        const char* set_up;
        const char* loaded;  // empty: the record file was absent
        const char* others;
        const char* saves;
        int asked;
        answer reply;
        save_result last;
        bool partly = false;              // the load took only part of the file
        const char* questions = nullptr;  // p: loaded in part, c: changed; nullptr: `asked` times c
        const char* replies = nullptr;    // y, n or e for each question in turn; nullptr: `reply` to all
    };
    const answer no = answer::no, yes = answer::yes, end = answer::end_of_input;
    const save_result saved = save_result::saved, failed = save_result::failed;
    const change changes[] = {
        // The directory is replaced; a link is switched; the file was absent at start.
        {"mkdir proj;write proj/hosts.txt", "proj/hosts.txt",
         "rename proj proj.old;mkdir proj.new;write proj.new/hosts.txt;rename proj.new proj", "proj/hosts.txt", 1,
         no, failed},
        {"mkdir v1;mkdir v2;twins v1/h v2/h;symlink v1/h cur.txt", "cur.txt",
         "symlink v2/h cur.new;rename cur.new cur.txt", "cur.txt", 1, no, failed},
        {"", "", "write ZD482_Inet.txt", "ZD482_Inet.txt", 1, no, failed},
        // The directory renamed and the file written there; by the name with "./", or after a new directory.
        {"mkdir proj;write proj/hosts.txt", "proj/hosts.txt", "rename proj proj2;write proj2/hosts.txt", "proj2/hosts.txt",
         1, no, failed},
        {"write h", "h", "replace h", "./h", 1, no, failed},
        {"mkdir p;write p/h", "p/h", "rename p p.old;mkdir p;write p/h", "./p/./h", 1, no, failed},
        // Saved to a new name, then written by another program.
        {"", "", "@after:renameat:1 write n", "n n", 1, no, failed},
        // Replaced during the load; written right after the session's own save.
        {"write h", "h", "@before:fstat:1 replace h", "h", 1, no, failed},
        {"write h", "h", "@after:renameat:1 write h", "h h", 1, no, failed},
        // Replaced while the save writes: asked again, and at the end of input there.
        {"write h", "h", "@before:fsync:1 replace h", "h", 1, no, failed},
        {"write h", "h", "@before:fsync:1 replace h", "h", 1, end, failed},
        // Agreed to: the state agreed to is saved over, unasked; changed again after the answer: asked again.
        {"write h", "h", "@before:fsync:1 replace h", "h", 1, yes, saved},
        {"write h", "h", "@before:fsync:1 replace h;@ask:1 edit h", "h", 2, yes, saved},
        // Changed at every attempt: given up after ten, the last one unasked.
        {"write h", "h", "@before:fsync:* replace h", "h", 9, yes, failed},
        // An in-place edit that puts the time back; a change of mode only.
        {"write h", "h", "edit h", "h", 1, no, failed},
        {"write h", "h", "chmod h", "h", 1, yes, saved},
        {"write h", "h", "chmod h", "h", 1, end, save_result::end_of_input},
        // Another spelling of the same file, as on a file system that ignores case.
        {"write h;symlink h H", "h", "write h", "H", 1, no, failed},
        // Its own saves, by any name that leads to the file; a file no longer there.
        {"write h", "h", "", "h ./h h", 0, no, saved},
        {"write h;link h other", "h", "", "other h", 0, no, saved},
        {"mkdir v1;write v1/h;symlink v1/h cur.txt", "cur.txt", "", "v1/h cur.txt", 0, no, saved},
        {"write h", "h", "remove h", "h", 0, no, saved},
        // Loaded in part: asked first by any name that leads to the file, then about a change; not
        // after a save, nor for another file.
        {"write h;link h other", "h", "", "other", 1, no, failed, true, "p"},
        {"write h", "h", "", "h", 1, end, save_result::end_of_input, true, "p"},
        {"write h", "h", "edit h", "h h", 2, yes, saved, true, "pc"},
        {"write h", "h", "", "o", 0, no, saved, true},
        // Loaded in part and agreed to: not asked again when the save starts over, nor after it by another name.
        {"write h", "h", "@before:fsync:1 replace h", "h", 2, yes, saved, true, "pc"},
        {"write h;link h other", "h", "", "other h", 1, yes, saved, true, "p"},
        // The end of input at a question after an agreed one is a refusal.
        {"write h", "h", "edit h;@before:fsync:1 replace h;@ask:2 edit h", "h", 3, no, failed, false, nullptr, "yye"},
        // Another file of the same name in another directory.
        {"mkdir a;mkdir b;write a/h;write b/h", "a/h", "write a/h", "b/h", 0, no, saved},
    };
    const std::string table = "10.9.9.9 mine\n";
    for (const change& c : changes) {
        SCOPED_TRACE(std::string(c.set_up) + " | " + c.others + " | " + c.saves);
        TempDir place;
        std::filesystem::current_path(place.path());
        forget_files();
        call_faults faults;
        run_steps(c.set_up, faults);
        const bool immediate = !std::string_view(c.others).starts_with('@');
        std::map<int, std::string> at_question;
        if (!immediate) run_steps(c.others, faults, &at_question);
        if (*c.loaded != '\0') {
            const int fd = open(c.loaded, O_RDONLY);
            remember_loaded(c.loaded, fd);
            if (c.partly) mark_partly_loaded(c.loaded);
            close(fd);
        } else {
            remember_absent("ZD482_Inet.txt");
        }
        if (immediate) run_steps(c.others, faults, &at_question);
        int asked = 0;
        std::string questions;
        save_result result = failed;
        std::istringstream saves(c.saves);
        testing::internal::CaptureStderr();
        const auto ask = [&](question q) {
            questions += q == question::partly_loaded ? 'p' : 'c';
            if (at_question.contains(++asked)) run_steps(at_question[asked], faults);
            return c.replies == nullptr ? c.reply : c.replies[asked - 1] == 'y' ? yes : c.replies[asked - 1] == 'n' ? no : end;
        };
        const auto fill = [&](std::FILE* stream) { std::fputs(table.c_str(), stream); };
        for (std::string name; saves >> name;) result = save_file(name, fill, ask);
        const std::string report = testing::internal::GetCapturedStderr();
        EXPECT_EQ(questions, c.questions ? c.questions : std::string(c.asked, 'c'));
        EXPECT_EQ(result, c.last);
        const std::string last = std::string(c.saves).substr(std::string(c.saves).rfind(' ') + 1);
        const answer final = c.replies == nullptr ? c.reply : c.replies[asked - 1] == 'y' ? yes : no;
        const std::string reason = final == yes                ? std::strerror(EAGAIN)
                                   : questions.ends_with('p') ? "only part of it was loaded"
                                                              : "changed on disk since it was read";
        EXPECT_EQ(report, result == failed ? "Cannot save to '" + last + "': " + reason + "\n" : "");
        if (result != saved) { EXPECT_NE(place.read(last), table); }
    }
}

// A file system that cannot give an owner, a mode or an attribute (exFAT)
// still gets a replacement when the new file has them already; only what
// would be lost makes the save write in place, and it says so.
TEST_F(SaveFile, ANewFileIsGivenOnlyWhatItLacks) {
    // The old file's ACL, copied over, gives the new file its group bits too:
    // no mode is left to set.
    dir.write("acl.txt", "old\n");
    const std::string acl = raw_acl({{user_obj, 6, no_id}, {user, 6, nobody}, {group_obj, 4, no_id},
                                     {mask_entry, 6, no_id}, {other, 0, no_id}});
    if (setxattr("acl.txt", "system.posix_acl_access", acl.data(), acl.size(), 0) == 0) {
        call_faults no_mode;
        no_mode.fail_all("fchmod", EPERM);
        const ino_t with_acl = status_of("acl.txt").st_ino;
        testing::internal::CaptureStderr();
        EXPECT_TRUE(saved("acl.txt", "new\n"));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_NE(status_of("acl.txt").st_ino, with_acl);
    }
    dir.write("table.txt", "old\n");
    chmod("table.txt", 0600);
    call_faults faults;
    for (const char* call : {"fchown", "fchmod", "fsetxattr", "fremovexattr"}) faults.fail_all(call, EPERM);
    const ino_t inode = status_of("table.txt").st_ino;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(saved("table.txt", "new\n"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_NE(status_of("table.txt").st_ino, inode);
    chmod("table.txt", 0640);
    const ino_t replaced = status_of("table.txt").st_ino;
    testing::internal::CaptureStderr();
    EXPECT_EQ(save_text("table.txt", "newer\n", answer::yes), save_result::saved);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Cannot keep the mode of 'table.txt' in a new file: written in place\n");
    EXPECT_EQ(status_of("table.txt").st_ino, replaced);
    EXPECT_EQ(dir.read("table.txt"), "newer\n");
    EXPECT_EQ(status_of("table.txt").st_mode & 07777, 0640u);
}

}  // namespace
