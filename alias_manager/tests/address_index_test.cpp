#include <random>
#include <set>

#include "address_index.h"
#include "store_fixture.h"

namespace {

// Few distinct addresses and many operations: long probe runs, wrap-around
// at the end of the table and removals from the middle of runs.
TEST(AddressIndex, RandomOperationsMatchASet) {
    std::mt19937 random(7);
    address_index index;
    std::set<octet_array> expected;
    for (int step = 0; step < 200000; ++step) {
        octet_array octet{static_cast<int>(random() % 3), 0, static_cast<int>(random() % 50), -1};
        if (random() % 2) {
            index.insert(octet);
            expected.insert(octet);
        } else {
            index.erase(octet);
            expected.erase(octet);
        }
        ASSERT_EQ(index.size(), expected.size());
        if (step % 97 == 0) {
            for (int a = 0; a < 3; ++a)
                for (int c = 0; c < 50; ++c) {
                    octet_array probe{a, 0, c, -1};
                    ASSERT_EQ(index.contains(probe), expected.count(probe) == 1) << step;
                }
        }
    }
}

bool held_by_walk(const octet_array& octet) {
    bool held = false;
    walk_in_order(head, [&](const address_t& r) { held |= r.octet == octet; });
    return held;
}

// The duplicate test of the table answers from the index; it must agree with
// a walk of the tree through insertions, readdressing and removals.
using AddressIndexOfTable = StoreTest;

TEST_F(AddressIndexOfTable, FollowsAddUpdateAndDelete) {
    std::mt19937 random(11);
    auto some_address = [&] {
        return octet_array{10, 0, static_cast<int>(random() % 8), static_cast<int>(random() % 8)};
    };
    for (int step = 0; step < 3000; ++step) {
        std::string alias = "a" + std::to_string(random() % 40);
        octet_array octet = some_address();
        switch (random() % 3) {
            case 0:
                add_quietly(std::to_string(octet[0]) + "." + std::to_string(octet[1]) + "." +
                            std::to_string(octet[2]) + "." + std::to_string(octet[3]) + " " + alias);
                break;
            case 1:
                if (address_t* record = lookup_func_wrapper(alias); record && !find_duplicate_octet(head, octet))
                    update_octet(record, octet);
                break;
            default:
                if (address_t* record = lookup_func_wrapper(alias)) delete_func(record);
        }
        for (int probe = 0; probe < 8; ++probe) {
            octet_array p = some_address();
            ASSERT_EQ(find_duplicate_octet(head, p), held_by_walk(p)) << "step " << step;
        }
    }
}

TEST_F(AddressIndexOfTable, SubtreeTestWalksOnlyThatSubtree) {
    for (const char* line : {"1.0.0.2 m", "1.0.0.1 c", "1.0.0.3 x"}) add_quietly(line);
    EXPECT_TRUE(find_duplicate_octet(head, {1, 0, 0, 3}));
    EXPECT_FALSE(find_duplicate_octet(head->left, {1, 0, 0, 3}));
    EXPECT_TRUE(find_duplicate_octet(head->right, {1, 0, 0, 3}));
    EXPECT_FALSE(find_duplicate_octet(nullptr, {1, 0, 0, 3}));
}

}  // namespace
