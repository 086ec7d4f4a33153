#include "keyed_hash.h"

#include <sys/random.h>

#include <cerrno>
#include <random>

namespace {

std::uint64_t draw_secret() {
    std::uint64_t secret = 0;
    ssize_t got = 0;
    do {
        got = getrandom(&secret, sizeof secret, 0);
    } while (got < 0 && errno == EINTR);
    if (got == sizeof secret) return secret;
    // No getrandom (an old kernel, a filter): the library's source of entropy.
    std::random_device device;
    return std::uint64_t{device()} << 32 | device();
}

}  // namespace

std::uint64_t process_secret() {
    static const std::uint64_t secret = draw_secret();
    return secret;
}
