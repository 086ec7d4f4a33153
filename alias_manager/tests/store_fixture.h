#pragma once
// Shared set-up for tests of the alias store: each test starts and ends with
// an empty table, and can read the table back in alias order.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "address_tree.h"
#include "tree_walk.h"

inline void clear_table() {
    while (head != nullptr) delete_func(head);
}

// "a.b.c.d alias" for every record, in alias order.
inline std::vector<std::string> table_in_order() {
    std::vector<std::string> rows;
    walk_in_order(head, [&](const address_t& r) {
        rows.push_back(std::to_string(r.octet[0]) + "." + std::to_string(r.octet[1]) + "." +
                       std::to_string(r.octet[2]) + "." + std::to_string(r.octet[3]) + " " +
                       r.alias.data());
    });
    return rows;
}

// Runs `action` and returns what it printed on standard output.
template <class Action>
std::string output_of(Action&& action) {
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

class StoreTest : public testing::Test {
protected:
    void SetUp() override { clear_table(); }
    void TearDown() override { clear_table(); }

public:
    static void add_quietly(const std::string& line) {
        output_of([&] { add_func(line); });
    }
};
