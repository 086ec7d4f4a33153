// The store answers from its alias index; the model below answers by plain
// descent on a tree of its own. Both take the same steps and must print the
// same and save the same pre-order file after each one.

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <random>

#include "record_file.h"
#include "store_fixture.h"

namespace {

std::string display_form(const octet_array& o, const std::string& alias) {
    std::array<char, 96> line{};
    std::snprintf(line.data(), line.size(), "%3d.%3d.%3d.%3d : %s\n", o[0], o[1], o[2], o[3], alias.c_str());
    return line.data();
}

// The table as it was kept before the index: every step descends from the root.
class descent_model {
public:
    struct node {
        octet_array octet;
        std::string alias;
        node* left = nullptr;
        node* right = nullptr;
    };

    std::string add(const std::string& line) {
        auto fields = parse_record_line(line);
        std::string alias = fields->alias.data();
        if (root_ == nullptr) {
            root_ = make(fields->octet, alias);
            return "Head is null, creating... " + alias + " Done\n";
        }
        const std::string checking = "Checking for duplicate, then adding line... ";
        node** link = &root_;
        while (*link != nullptr && (*link)->alias != alias) link = (*link)->alias > alias ? &(*link)->left : &(*link)->right;
        if (*link != nullptr || holds(fields->octet))
            return checking + "Duplicate alias or octet detected, skipping.\n";
        *link = make(fields->octet, alias);
        return checking + alias + " Done adding\n";
    }

    node* lookup(const std::string& alias) const {
        node* n = root_;
        while (n != nullptr && n->alias != alias) n = n->alias > alias ? n->left : n->right;
        return n;
    }

    bool holds(const octet_array& octet) const {
        return std::any_of(nodes_.begin(), nodes_.end(), [&](const auto& n) { return n.second.octet == octet; });
    }

    void remove(node* record) {
        node* parent = nullptr;  // found by search from the root
        for (node* n = root_; n != record; n = n->alias > record->alias ? n->left : n->right) parent = n;
        node** link = parent == nullptr ? &root_ : parent->left == record ? &parent->left : &parent->right;
        if (record->left == nullptr) {
            *link = record->right;
        } else if (record->right == nullptr) {
            *link = record->left;
        } else {
            node* successor = record->right;
            node* successor_parent = record;
            for (; successor->left != nullptr; successor = successor->left) successor_parent = successor;
            if (successor_parent != record) {
                successor_parent->left = successor->right;
                successor->right = record->right;
            }
            successor->left = record->left;
            *link = successor;
        }
        const std::string alias = record->alias;  // outlives the node
        nodes_.erase(alias);
    }

    // Display forms of the records in alias order that `keep` accepts, and their count.
    template <class Keep>
    std::pair<std::string, int> listing(Keep&& keep) const {
        std::pair<std::string, int> result{"", 0};
        std::vector<const node*> pending;
        for (const node* n = root_; n != nullptr || !pending.empty(); n = n->right) {
            for (; n != nullptr; n = n->left) pending.push_back(n);
            n = pending.back();
            pending.pop_back();
            if (!keep(*n)) continue;
            result.first += display_form(n->octet, n->alias);
            ++result.second;
        }
        return result;
    }

    std::string pre_order() const {
        std::string text;
        std::vector<const node*> pending;
        if (root_ != nullptr) pending.push_back(root_);
        while (!pending.empty()) {
            const node* n = pending.back();
            pending.pop_back();
            text += written_form(n->octet, n->alias) + "\n";
            if (n->right != nullptr) pending.push_back(n->right);
            if (n->left != nullptr) pending.push_back(n->left);
        }
        return text;
    }

    std::size_t size() const { return nodes_.size(); }

private:
    node* make(const octet_array& octet, const std::string& alias) {
        return &nodes_.insert({alias, node{octet, alias}}).first->second;
    }

    std::map<std::string, node> nodes_;  // owns the nodes
    node* root_ = nullptr;
};

std::string saved_table() {
    std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::tmpfile(), &std::fclose);
    save_to_file_func(file.get(), head);
    std::rewind(file.get());
    std::string text;
    for (int c; (c = std::getc(file.get())) != EOF;) text.push_back(static_cast<char>(c));
    return text;
}

// The link a descent from head reaches for `alias`: head's own choice, then
// a descent from the child taken, which the index does not answer.
const address_t* const* descent_link(std::string_view alias) {
    const int order = alias_of(*head).compare(alias);
    if (order == 0) return nullptr;
    const address_t* const* link = order > 0 ? &head->left : &head->right;
    return *link == nullptr ? link : find_empty_node(*link, alias).link;
}

enum class build_order { random, sorted, reverse, zigzag };

std::vector<int> keys_in(build_order order, int count, std::mt19937& random) {
    std::vector<int> keys;
    for (int low = 0, high = count - 1; low <= high;) {
        if (order == build_order::reverse || (order == build_order::zigzag && keys.size() % 2 == 1)) {
            keys.push_back(high--);
        } else {
            keys.push_back(low++);
        }
    }
    if (order == build_order::random) std::shuffle(keys.begin(), keys.end(), random);
    return keys;
}

class AliasIndex : public StoreTest, public testing::WithParamInterface<build_order> {};

TEST_P(AliasIndex, StoreMatchesPlainDescentStepByStep) {
    std::mt19937 random(static_cast<unsigned>(GetParam()) + 90);
    descent_model model;
    // Every alias character, blanks inside and at the end, and prefixes of
    // other aliases; spelling a larger key gives a larger alias.
    static const std::string characters = " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    auto spelled = [](int key) { return std::string{'k', characters[key / 63], characters[key % 63]}; };
    auto alias_for = [&](int key) { return spelled(600 + key * 3); };  // room between keys
    auto some_octet = [&] {
        return octet_array{10, static_cast<int>(random() % 3), static_cast<int>(random() % 20),
                           static_cast<int>(random() % 20)};
    };
    auto add_both = [&](const std::string& alias) {
        const std::string line = written_form(some_octet(), alias);
        if (head != nullptr) {  // the index finds the link the descent finds
            ASSERT_EQ(find_empty_node(head, alias).link, descent_link(alias)) << alias;
        }
        ASSERT_EQ(output_of([&] { add_func(line); }), model.add(line)) << line;
    };
    for (int key : keys_in(GetParam(), 200, random)) {
        ASSERT_NO_FATAL_FAILURE(add_both(alias_for(key)));
    }

    for (int step = 0; step < 1500; ++step) {
        const std::string alias = alias_for(static_cast<int>(random() % 600) - 200);
        const std::string alias_between = random() % 8 ? spelled(static_cast<int>(random() % 1800))
                                                        : std::string{'k', characters[random() % 63]};
        descent_model::node* expected = model.lookup(alias);
        const address_t* record = lookup_func_wrapper(alias);
        ASSERT_EQ(record == nullptr, expected == nullptr) << alias;
        if (record != nullptr) {
            ASSERT_EQ(record->octet, expected->octet);
        }
        switch (random() % 6) {
            case 0:
                ASSERT_NO_FATAL_FAILURE(add_both(random() % 2 ? alias : alias_between));
                break;
            case 1:
                if (record != nullptr) {
                    octet_array octet = some_octet();
                    ASSERT_EQ(find_duplicate_octet(head, octet), model.holds(octet));
                    if (!model.holds(octet)) {
                        update_octet(record, octet);
                        expected->octet = octet;
                    }
                }
                break;
            case 2:
            case 3:
                if (record != nullptr) {
                    delete_func(record);
                    model.remove(expected);
                }
                break;
            case 4: {
                auto [text, count] = model.listing([](const auto&) { return true; });
                if (count == 0) text = "List is empty.\n";
                ASSERT_EQ(output_of(display_list), text + "Number of nodes: " + std::to_string(count) + "\n");
                break;
            }
            default: {
                const int second = static_cast<int>(random() % 4);
                auto [text, count] = model.listing([&](const auto& n) { return n.octet[0] == 10 && n.octet[1] == second; });
                if (count == 0) text = "No alias found that matches the input locality\n";
                ASSERT_EQ(output_of([&] { display_aliases(10, second); }), text);
            }
        }
        ASSERT_EQ(saved_table(), model.pre_order()) << "step " << step;
        ASSERT_EQ(check_invariants(), "") << "step " << step;
    }
    EXPECT_GT(model.size(), 50u);  // the steps kept a table of some depth
}

std::string name_of(const testing::TestParamInfo<build_order>& info) {
    static const std::array<const char*, 4> names{"Random", "Sorted", "Reverse", "Zigzag"};
    return names[static_cast<std::size_t>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(BuildOrders, AliasIndex,
                         testing::Values(build_order::random, build_order::sorted, build_order::reverse,
                                         build_order::zigzag),
                         name_of);

}  // namespace
