#pragma once
// Writing a whole file so that no failure can lose the old one: the content
// goes to a new file beside the target, which is renamed over it only once
// every byte is on disk and it carries everything the old file had.

#include <cstdio>
#include <functional>
#include <memory>
#include <string_view>

struct stream_closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using stream_handle = std::unique_ptr<std::FILE, stream_closer>;

// Fills the file that `path` leads to (see find_save_target) through `fill`,
// which writes to the stream it is given; write errors are found afterwards.
//
// Normally the file is replaced: a temporary file NAME.tmp.XXXXXX, created
// beside it with mode 0666 so that the umask or the directory's default ACL
// applies as to any new file, is filled and synced, given the old file's
// owner, group, extended attributes (its access ACL among them) and
// permission bits, and renamed over it. Once renamed, the save is done; the
// directory is then synced where it can be. A failure before that removes
// the temporary file and leaves the old one as it was.
//
// Written in place instead (truncated, then filled), where a replacement
// could not keep what the old file had: a target that is not a regular file,
// a regular file with other hard links, a file whose owner, group or
// attributes a new file cannot be given, and a directory that refuses a new
// file for want of permission. A name that leads to one of the process's
// open descriptors is written to that descriptor as it stands.
//
// An existing file that the saver may not write is refused (EACCES).
// Returns 0 on success, otherwise the errno value of the failure.
int replace_file(std::string_view path, const std::function<void(std::FILE*)>& fill);
