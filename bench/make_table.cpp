// Writes a record file of N records for the load benchmark:
//   make_table N random|sorted|reverse|zigzag [seed]
// Aliases "n0000000" upward, addresses 10.x.y.z, all distinct. "random"
// shuffles the lines (a tree of logarithmic depth on average); "sorted" keeps
// alias order and "reverse" reverses it (chains as long as the table);
// "zigzag" takes the aliases alternately from both ends of the alias order
// (a path that turns at every record, as deep as the table).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

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
