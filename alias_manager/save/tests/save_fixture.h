#pragma once
// Shared set-up for the tests of the save: saving a text as a session saves
// its table, and looking at what a save left.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "save_file.h"
#include "temp_dir.h"

constexpr uid_t nobody = 65534;

// A raw POSIX access or default ACL: (tag, permissions, id) entries in order.
inline std::string raw_acl(std::initializer_list<std::array<std::uint32_t, 3>> entries) {
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

constexpr std::uint32_t no_id = 0xffffffff;
constexpr std::uint32_t user_obj = 1, user = 2, group_obj = 4, mask_entry = 0x10, other = 0x20;

// Each test in a directory of its own, which is the working directory.
class InTempDir : public testing::Test {
protected:
    TempDir dir;
    std::filesystem::path previous = std::filesystem::current_path();
    void SetUp() override { std::filesystem::current_path(dir.path()); }
    void TearDown() override { std::filesystem::current_path(previous); }
};

// Saves `content` to `name`; a question about a file changed on disk is
// answered `reply` and counted in `asked`.
inline save_result save_text(std::string_view name, const std::string& content, answer reply = answer::no,
                             int* asked = nullptr) {
    const auto fill = [&](std::FILE* stream) { std::fwrite(content.data(), 1, content.size(), stream); };
    return save_file(name, fill, [&](question) {
        if (asked != nullptr) ++*asked;
        return reply;
    });
}

inline bool saved(std::string_view name, const std::string& content) {
    return save_text(name, content) == save_result::saved;
}

// Record lines of `count` distinct records.
inline std::string table_lines(int count, char salt) {
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "10." + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) + "." +
                 std::to_string(i & 255) + " t" + salt + std::to_string(i) + "\n";
    return lines;
}

inline std::vector<std::string> names_in(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline struct stat status_of(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status;
}

// Runs `action` in a child process with standard error in the file `errors`,
// as real user `real` and effective user `effective` (group likewise, no
// supplementary groups), and returns its wait status; `action` returns the
// exit status. Switching users needs root; -1 leaves the users as they are.
template <class Action>
int status_of_child(const std::string& errors, Action&& action, int real = -1, int effective = -1) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(fd, 2);
        if (real >= 0 && (setgroups(0, nullptr) != 0 || setresgid(real, effective, real) != 0 ||
                          setresuid(real, effective, real) != 0))
            _exit(3);
        _exit(action());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}
