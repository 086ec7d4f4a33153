#include <map>
#include <random>
#include <set>

#include "address_index.h"
#include "keyed_hash.h"
#include "large_allocator.h"
#include "store_fixture.h"

namespace {

// Few distinct addresses and many operations: long probe runs, wrap-around
// at the end of the table and removals from the middle of runs.
TEST(AddressIndex, RandomOperationsMatchASet) {
    std::mt19937 random(7);
    address_index index;
    std::set<octet_array> expected;
    std::map<octet_array, address_t> records;  // the set holds records, each with its address
    for (int step = 0; step < 200000; ++step) {
        octet_array octet{static_cast<int>(random() % 3), 0, static_cast<int>(random() % 50), -1};
        records.try_emplace(octet, address_t{octet, {}, nullptr, nullptr, nullptr});
        if (random() % 2) {
            if (expected.insert(octet).second) index.insert(&records.at(octet));
        } else {
            index.erase(octet);
            expected.erase(octet);
        }
        ASSERT_EQ(index.size(), expected.size());
        if (step % 97 == 0) {
            for (int a = 0; a < 3; ++a)
                for (int c = 0; c < 50; ++c) {
                    octet_array probe{a, 0, c, -1};
                    ASSERT_EQ(index.find(probe), expected.count(probe) ? &records.at(probe) : nullptr) << step;
                }
        }
    }
}

// The hash of a key is the same all through the process and keyed with its
// secret: not the plain hash of the key, which input could be made to fit.
TEST(KeyedHash, IsStableAndKeyed) {
    for (std::uint64_t key : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{0x5eed5eed} << 32}) {
        EXPECT_EQ(keyed_hash{}(key), keyed_hash{}(key));
        EXPECT_NE(keyed_hash{}(key), absl::HashOf(key));
    }
}

// The duplicate test of the table answers from the address set. Few
// addresses among many aliases: most insertions and readdressings are
// refused, and the set must still hold exactly the addresses of the tree.
using AddressIndexOfTable = StoreTest;

TEST_F(AddressIndexOfTable, HoldsExactlyTheTreesAddressesThroughEveryChange) {
    std::mt19937 random(11);
    for (int step = 0; step < 3000; ++step) {
        std::string alias = "a" + std::to_string(random() % 40);
        octet_array octet{10, 0, static_cast<int>(random() % 8), static_cast<int>(random() % 8)};
        const address_t* record = lookup_func_wrapper(alias);
        switch (random() % 3) {
            case 0: add_quietly(written_form(octet, alias)); break;
            case 1: if (record) update_octet(record, octet); break;
            default: if (record) delete_func(record);
        }
        ASSERT_EQ(check_invariants(), "") << "step " << step;
    }
}

TEST_F(AddressIndexOfTable, SubtreeTestWalksOnlyThatSubtree) {
    for (const char* line : {"1.0.0.2 m", "1.0.0.1 c", "1.0.0.3 x"}) add_quietly(line);
    EXPECT_TRUE(find_duplicate_octet(head, {1, 0, 0, 3}));
    EXPECT_FALSE(find_duplicate_octet(head->left, {1, 0, 0, 3}));
    EXPECT_TRUE(find_duplicate_octet(head->right, {1, 0, 0, 3}));
    EXPECT_FALSE(find_duplicate_octet(nullptr, {1, 0, 0, 3}));
}

// The set's arrays come from the large allocator: every size gets at least
// the room it asked for (an overrun shows under AddressSanitizer), the
// advice for huge pages included.
TEST(LargeAllocator, GivesAtLeastTheRoomAskedFor) {
    large_allocator<std::uint64_t> allocator;
    const std::size_t huge_page = std::size_t{2} << 20;
    for (std::size_t bytes : {std::size_t{4096}, huge_page - 8, huge_page, huge_page + 8, 3 * huge_page + 4096}) {
        std::uint64_t* data = allocator.allocate(bytes / 8);
        std::fill(data, data + bytes / 8, bytes);
        allocator.deallocate(data, bytes / 8);
    }
}

}  // namespace
