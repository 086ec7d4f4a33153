#pragma once
// The hash of keys that a record file or a user chooses (aliases,
// addresses), keyed with a secret of this process: 64 bits drawn at the
// first use and hashed in before the key, so that no input can be made to
// collide without knowing it.

#include <absl/hash/hash.h>

#include <cstddef>
#include <cstdint>

// The secret, the same for the whole process.
std::uint64_t process_secret();

struct keyed_hash {
    template <class Key>
    std::size_t operator()(const Key& key) const {
        return absl::HashOf(process_secret(), key);
    }
};
