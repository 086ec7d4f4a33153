// Writes a record file of N records for the load benchmark:
//   make_table N random|sorted|reverse|zigzag|crafted [seed]
// Aliases "n0000000" upward, addresses 10.x.y.z, all distinct. "random"
// shuffles the lines (a tree of logarithmic depth on average); "sorted" keeps
// alias order and "reverse" reverses it (chains as long as the table);
// "zigzag" takes the aliases alternately from both ends of the alias order
// (a path that turns at every record, as deep as the table). "crafted" is a
// hostile file: aliases whose packed keys all share the upper 32 bits of
// their hash under an unkeyed MurmurHash3 finaliser, which puts them all in
// one probe run of a table hashed so.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

// The inverse of a * x modulo 2^64, for odd a (Newton's iteration).
constexpr std::uint64_t inverse(std::uint64_t a) {
    std::uint64_t x = a;
    for (int i = 0; i < 5; ++i) x *= 2 - a * x;
    return x;
}

// The input that the MurmurHash3 finaliser maps to `h`.
std::uint64_t unmixed(std::uint64_t h) {
    for (std::uint64_t factor : {inverse(0xc4ceb9fe1a85ec53u), inverse(0xff51afd7ed558ccdu)}) {
        h ^= h >> 33;
        h *= factor;
    }
    return h ^ (h >> 33);
}

// The alias that `key` packs (ten characters of six bits, the first
// highest, 0 after the end), or an empty text when it packs none: bits
// above the sixty, a character after the end, a blank first.
std::string alias_of_key(std::uint64_t key) {
    static const char ranks[] = " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    if (key >> 60 != 0) return {};
    std::string alias;
    for (int shift = 54; shift >= 0; shift -= 6) {
        const unsigned rank = key >> shift & 63;
        if (rank == 0) break;
        alias += ranks[rank - 1];
    }
    const bool ended = alias.size() == 10 || (key & ((std::uint64_t{1} << (60 - 6 * alias.size())) - 1)) == 0;
    return ended && !alias.empty() && alias[0] != ' ' ? alias : std::string();
}

// Writes `count` records whose aliases collide as above.
void write_crafted(long count) {
    constexpr std::uint64_t tag = 0x5eed5eedu;
    for (std::uint64_t i = 0; count > 0; ++i) {
        const std::string alias = alias_of_key(unmixed(tag << 32 | i));
        if (alias.empty()) continue;
        --count;
        std::printf("10.%ld.%ld.%ld %s\n", count >> 16 & 255, count >> 8 & 255, count & 255, alias.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_table N random|sorted|reverse|zigzag [seed]\n");
        return 2;
    }
    const long count = std::strtol(argv[1], nullptr, 10);
    if (count < 1 || count > (1L << 24)) {
        std::fprintf(stderr, "N must lie in 1 to 16777216\n");
        return 2;
    }
    if (std::strcmp(argv[2], "crafted") == 0) {
        write_crafted(count);
        return 0;
    }
    std::vector<long> order(static_cast<std::size_t>(count));
    std::iota(order.begin(), order.end(), 0L);
    if (std::strcmp(argv[2], "random") == 0) {
        std::mt19937_64 random(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1);
        std::shuffle(order.begin(), order.end(), random);
    } else if (std::strcmp(argv[2], "reverse") == 0) {
        std::reverse(order.begin(), order.end());
    } else if (std::strcmp(argv[2], "zigzag") == 0) {
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i % 2 == 0 ? static_cast<long>(i / 2) : count - 1 - static_cast<long>(i / 2);
    } else if (std::strcmp(argv[2], "sorted") != 0) {
        std::fprintf(stderr, "unknown order '%s'\n", argv[2]);
        return 2;
    }
    for (long i : order)
        std::printf("10.%ld.%ld.%ld n%07ld\n", i >> 16 & 255, i >> 8 & 255, i & 255, i);
    return 0;
}
