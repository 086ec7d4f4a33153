#pragma once
// Writing a whole file so that no failure can lose the old one: the content
// goes to a new file beside the target, which is renamed over it only once
// every byte is on disk.

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

struct stream_closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using stream_handle = std::unique_ptr<std::FILE, stream_closer>;

// Fills the file `path` through `fill`, which writes to the stream it is given
// (write errors are found afterwards with ferror).
//
// Replaces the file atomically: a temporary file created in the target's
// directory is filled, flushed and synced, given the old file's permission
// bits, owner and group, renamed over the target, and the directory is synced.
// A symbolic link stays a link; the file it leads to is the one replaced. On
// failure the temporary file is removed and the target is untouched.
//
// Where a replacement could not keep what the old file had, the file is
// truncated and written in place instead: an existing target that is not a
// regular file (a device, a FIFO), a regular file with other hard links, a
// file whose owner or group cannot be given to a new file, and a directory
// where no temporary file can be created.
//
// Returns 0 on success, otherwise the errno value of the failure.
int replace_file(const std::string& path, const std::function<void(std::FILE*)>& fill);
