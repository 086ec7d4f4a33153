#pragma once
// Writing a whole buffer to a descriptor, through short writes and
// interruptions. Only the given write call is made (write(2) by default), so
// a signal handler may use it.

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string_view>

using write_call = ssize_t (*)(int fd, const void* data, std::size_t size);

// 0 when every byte went out, otherwise the errno value of the failure (EIO
// for a write that took nothing).
inline int write_all(int fd, std::string_view bytes, write_call write_some = ::write) {
    while (!bytes.empty()) {
        const ssize_t n = write_some(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}
