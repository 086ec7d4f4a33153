#pragma once
// Shared set-up for tests of the alias store: each test starts with an empty
// table and ends with a sound one, and can read the table back in alias order.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "table_operations.h"
#include "tree_walk.h"

// "a.b.c.d alias", the written form of a record without its newline.
inline std::string written_form(const octet_array& o, std::string_view alias) {
    return std::to_string(o[0]) + "." + std::to_string(o[1]) + "." + std::to_string(o[2]) + "." +
           std::to_string(o[3]) + " " + std::string(alias);
}

// The written form of every record, in alias order.
inline std::vector<std::string> table_in_order() {
    std::vector<std::string> rows;
    walk_in_order(head, [&](const address_t& r) { rows.push_back(written_form(r.octet, alias_of(r))); });
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
    void TearDown() override {
        EXPECT_EQ(check_invariants(), "");
        clear_table();
    }

public:
    static void add_quietly(const std::string& line) {
        output_of([&] { add_func(line); });
    }
};
