#include "alias_table.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "tree_walk.h"

namespace {

// Records made by one load, in alias order. The block is freed with the
// last of its records that the table erases.
struct record_block {
    large_vector<address_t> records;
    std::size_t live;
};

struct table_state {
    const address_t* root = nullptr;
    alias_index aliases;
    address_index addresses;
    std::vector<record_block> blocks;  // every other record was made alone, with new
    large_vector<address_t> room;      // the next block, reserved by a load
    bool checking_every_change = false;
};

// Never destroyed: the records stay where they are to the end of the
// process, which frees none of them.
table_state& the_table = *new table_state;  // NOLINT(cert-err58-cpp): a process without these bytes cannot start

const address_t*& root = the_table.root;
alias_index& aliases = the_table.aliases;
address_index& addresses = the_table.addresses;

// Every record is created non-const by the table and owned by it, which
// alone writes records and links, through these two.
address_t& owned(const address_t* record) {
    return const_cast<address_t&>(*record);
}
const address_t*& owned(const address_t* const* link) {
    return const_cast<const address_t*&>(*link);
}

// The text up to the terminator; all eleven bytes when there is none.
std::string_view alias_view(const alias_text& alias) {
    return {alias.data(), static_cast<std::size_t>(std::find(alias.begin(), alias.end(), '\0') - alias.begin())};
}

struct member {
    address_t* record;
    alias_key key;
};

// `record` with its key when it is a record of the table, else nullopt.
std::optional<member> member_of(const address_t* record) {
    if (record == nullptr) return std::nullopt;
    const auto key = record_key(record->alias);
    if (!key) return std::nullopt;
    address_t* found = aliases.find(*key);
    if (found != record) return std::nullopt;
    return member{found, *key};
}

void set_parent(const address_t* child, const address_t* parent) {
    if (child != nullptr) owned(child).parent = parent;
}

// Frees `record`, which the table no longer links or indexes.
void free_record(const address_t* record) {
    const std::less<const address_t*> before;
    for (auto block = the_table.blocks.begin(); block != the_table.blocks.end(); ++block) {
        const address_t* first = block->records.data();
        if (before(record, first) || !before(record, first + block->records.size())) continue;
        if (--block->live == 0) the_table.blocks.erase(block);
        return;
    }
    delete record;
}

// A description of a broken rule, formatted like printf.
// NOLINTNEXTLINE(cert-dcl50-cpp): variadic, so that the compiler checks each format against its arguments
[[gnu::format(printf, 1, 2)]] std::string broken_rule(const char* format, ...) {
    std::array<char, 160> text{};
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text.data(), text.size(), format, arguments);
    va_end(arguments);
    return text.data();
}

// The alias of `record` for "%s": at most its eleven bytes, even unterminated.
struct alias_arg {
    std::array<char, sizeof(alias_text) + 1> text{};
    explicit alias_arg(const address_t& record) {
        const std::string_view alias = alias_view(record.alias);
        alias.copy(text.data(), alias.size());
    }
    const char* c_str() const { return text.data(); }
};

}  // namespace

const address_t* const& head = the_table.root;

std::optional<alias_key> record_key(const alias_text& alias) {
    const std::string_view text = alias_view(alias);
    if (text.empty()) return std::nullopt;
    return key_of(text);
}

namespace {

// Ends the process with a description of the broken rule when the table
// checks itself after every change and a rule is broken.
void check_after_change() {
    if (!the_table.checking_every_change) return;
    const std::string broken = check_invariants();
    if (broken.empty()) return;
    std::fprintf(stderr, "alias table: %s\n", broken.c_str());
    std::abort();
}

// Links the records of `sorted` into `block`, which has room for them, in
// alias order, as inserting them one by one in the order of their positions
// would: the first inserted is the root, and every subtree holds a range of
// aliases whose first-inserted record is its root (a Cartesian tree). Each
// record hangs below the right spine of the tree so far, which is climbed by
// the parent links. Returns the root.
const address_t* link_in_order(const large_vector<loaded_record>& sorted, large_vector<address_t>& block) {
    const auto position = [&](const address_t* record) { return sorted[static_cast<std::size_t>(record - block.data())].position; };
    address_t* last = nullptr;  // the record linked last, at the foot of the spine
    for (const loaded_record& r : sorted) {
        address_t& record = block.emplace_back(address_t{r.octet, text_of(r.key), nullptr, nullptr, nullptr});
        // The records inserted after this one leave the spine and hang below it.
        address_t* below = nullptr;
        while (last != nullptr && position(last) > r.position) {
            below = last;
            last = last->parent == nullptr ? nullptr : &owned(last->parent);
        }
        record.left = below;
        if (below != nullptr) below->parent = &record;
        if (last != nullptr) {
            last->right = &record;
            record.parent = last;
        }
        last = &record;
    }
    const address_t* top = last;
    while (top != nullptr && top->parent != nullptr) top = top->parent;
    return top;
}

}  // namespace

bool reserve_table(std::size_t count) {
    try {
        large_vector<address_t>& room = the_table.room;
        if (room.capacity() < count) room.reserve(std::max(count, 2 * room.capacity()));
        the_table.blocks.reserve(the_table.blocks.size() + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool fill_table(large_vector<loaded_record>& records) {
    large_vector<address_t>& block = the_table.room;
    const std::size_t count = records.size();
    if (count == 0) return true;
    if (!reserve_table(count)) {  // the records must not move once linked
        large_vector<loaded_record>().swap(records);
        return false;
    }
    const address_t* top = link_in_order(records, block);
    // The index and the address set grow only once the records of the load
    // are gone: a table of 10^6 records then peaks at its final size. The
    // index is built apart and dropped whole when it cannot get its memory.
    // (A B-tree whose root split fails for memory keeps its old root below a
    // new empty one, which its destructor frees alone: that leaves a few
    // nodes unreachable, once, when memory has run out.)
    large_vector<loaded_record>().swap(records);
    alias_index index;
    try {
        addresses.reserve(count);
        for (address_t& record : block) index.insert(index.end(), *record_key(record.alias), &record);
    } catch (const std::bad_alloc&) {
        block.clear();
        return false;
    }
    aliases = std::move(index);
    for (const address_t& record : block) addresses.insert(&record);  // room was made
    root = top;
    the_table.blocks.push_back({std::move(block), count});  // room was made
    check_after_change();
    return true;
}

insert_result insert_record(const record_fields& fields) {
    const auto key = record_key(fields.alias);
    if (!key) return insert_result::not_an_alias;
    const empty_node place = find_empty_node(root, alias_view(fields.alias));
    if (place.link == nullptr || find_duplicate_octet(root, fields.octet)) return insert_result::duplicate;
    try {
        addresses.reserve(addresses.size() + 1);
        auto record = std::make_unique<address_t>(address_t{fields.octet, fields.alias, nullptr, nullptr, place.parent});
        aliases.insert(place.at, *key, record.get());
        addresses.insert(record.get());  // allocates nothing: room was made
        owned(place.link) = record.release();
    } catch (const std::bad_alloc&) {
        return insert_result::out_of_memory;
    }
    check_after_change();
    return insert_result::added;
}

bool readdress_record(const address_t* record, const octet_array& octet) {
    const auto held = member_of(record);
    if (!held || find_duplicate_octet(root, octet)) return false;
    try {
        addresses.reserve(addresses.size() + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    addresses.erase(held->record->octet);
    held->record->octet = octet;
    addresses.insert(held->record);
    check_after_change();
    return true;
}

bool erase_record(const address_t* record) {
    const auto held = member_of(record);
    if (!held) return false;
    address_t* gone = held->record;
    const address_t* parent = find_parent(root, gone);
    const address_t*& link = parent == nullptr       ? root
                             : parent->left == gone ? owned(parent).left
                                                    : owned(parent).right;
    // The next record in alias order. With two children it is the leftmost
    // record of the right subtree, and it takes the place of the one erased.
    address_t* successor = aliases.erase(held->key);
    if (gone->left == nullptr) {
        link = gone->right;
    } else if (gone->right == nullptr) {
        link = gone->left;
    } else {
        if (successor->parent != gone) {
            owned(successor->parent).left = successor->right;
            set_parent(successor->right, successor->parent);
            successor->right = gone->right;
            set_parent(successor->right, successor);
        }
        successor->left = gone->left;
        set_parent(successor->left, successor);
        link = successor;
    }
    set_parent(link, parent);
    addresses.erase(gone->octet);
    free_record(gone);
    check_after_change();
    return true;
}

empty_node find_empty_node(const address_t* node, std::string_view alias) {
    const auto key = key_of(alias);
    if (node == root && key) {
        const alias_index::neighbours around = aliases.around(*key);
        if (around.held != nullptr) return {nullptr, nullptr, around.at};
        if (root == nullptr) return {nullptr, &root, around.at};
        // Neighbours in alias order lie one in the other's subtree, so exactly
        // one of these two links is empty, and a descent, passing between
        // them, ends there.
        if (around.predecessor != nullptr && around.predecessor->right == nullptr)
            return {around.predecessor, &around.predecessor->right, around.at};
        return {around.successor, &around.successor->left, around.at};
    }
    while (node != nullptr) {
        const int order = alias_of(*node).compare(alias);
        if (order == 0) break;
        const address_t* const* link = order > 0 ? &node->left : &node->right;
        if (*link == nullptr) return {node, link, aliases.end()};
        node = *link;
    }
    return {nullptr, nullptr, aliases.end()};
}

bool find_duplicate_octet(const address_t* node, const octet_array& octet) {
    if (node == root) return addresses.contains(octet);
    return !walk_pre_order(node, [&](const address_t& record) { return compare_octet(record.octet, octet) != 0; });
}

const address_t* lookup_func(std::string_view alias, const address_t* node) {
    if (node != nullptr && node == root) {
        const auto key = key_of(alias);
        return key ? aliases.find(*key) : nullptr;
    }
    while (node != nullptr) {
        const int order = alias_of(*node).compare(alias);
        if (order == 0) return node;
        node = order > 0 ? node->left : node->right;
    }
    return nullptr;
}

const address_t* lookup_func_wrapper(std::string_view alias) {
    return lookup_func(alias, root);
}

const address_t* find_parent(const address_t* node, const address_t* target) {
    if (node == nullptr || target == nullptr || node == target) return nullptr;
    if (node == root) return member_of(target) ? target->parent : nullptr;
    const std::string_view alias = alias_view(target->alias);
    while (node != nullptr && node != target) {
        if (node->left == target || node->right == target) return node;
        node = alias_of(*node).compare(alias) > 0 ? node->left : node->right;
    }
    return nullptr;
}

const alias_index& alias_order() {
    return aliases;
}

namespace {

// The first broken rule of the tree itself, in a walk in order that gathers
// its records into `in_order`: links back to parents, aliases and lines
// that records may have, strict alias order. The walk stops once it meets
// more records than the index holds.
std::string tree_rules(std::vector<const address_t*>& in_order) {
    if (root != nullptr && root->parent != nullptr)
        return broken_rule("head '%s' has a parent", alias_arg(*root).c_str());
    std::vector<const address_t*> pending;
    for (const address_t* node = root; node != nullptr || !pending.empty(); node = node->right) {
        for (; node != nullptr; node = node->left) {
            if (in_order.size() + pending.size() == aliases.size())
                return broken_rule("the tree links more records than the index holds %zu", aliases.size());
            for (const address_t* child : {node->left, node->right})
                if (child != nullptr && child->parent != node)
                    return broken_rule("child '%s' of '%s' does not link back to it", alias_arg(*child).c_str(),
                                       alias_arg(*node).c_str());
            pending.push_back(node);
        }
        node = pending.back();
        pending.pop_back();
        if (!record_key(node->alias)) return broken_rule("'%s' is not an alias", alias_arg(*node).c_str());
        if (!fits_record_line(node->octet, alias_of(*node)))
            return broken_rule("'%s' would not load back from its saved line", alias_arg(*node).c_str());
        if (!in_order.empty() && alias_of(*in_order.back()) >= alias_of(*node))
            return broken_rule("'%s' follows '%s' in the tree's order", alias_arg(*node).c_str(),
                               alias_arg(*in_order.back()).c_str());
        in_order.push_back(node);
    }
    return {};
}

// Whether the index holds exactly the records `in_order`, in that order.
std::string index_rules(const std::vector<const address_t*>& in_order) {
    if (in_order.size() != aliases.size())
        return broken_rule("the index holds %zu records, the tree %zu", aliases.size(), in_order.size());
    auto entry = aliases.begin();
    for (const address_t* record : in_order) {
        if (entry->second != record || entry->first != record_key(record->alias))
            return broken_rule("the index differs from the tree at '%s'", alias_arg(*record).c_str());
        ++entry;
    }
    return {};
}

// Whether every record's address is in the set, leading to it, no two
// records share one, and the set holds no more.
std::string address_rules(const std::vector<const address_t*>& in_order) {
    address_index held;
    for (const address_t* record : in_order) {
        if (!addresses.contains(record->octet))
            return broken_rule("the address of '%s' is not in the address set", alias_arg(*record).c_str());
        if (held.contains(record->octet))
            return broken_rule("'%s' holds the address of a record before it", alias_arg(*record).c_str());
        held.insert(record);
    }
    for (const address_t* record : in_order)
        if (addresses.find(record->octet) != record)
            return broken_rule("the address set does not lead to '%s'", alias_arg(*record).c_str());
    if (addresses.size() != held.size())
        return broken_rule("the address set holds %zu addresses for %zu records", addresses.size(), held.size());
    return {};
}

}  // namespace

std::string check_invariants() {
    std::vector<const address_t*> in_order;
    std::string broken = tree_rules(in_order);
    if (broken.empty()) broken = index_rules(in_order);
    if (broken.empty()) broken = address_rules(in_order);
    return broken;
}

void reset_table() {
    if (root != nullptr) return;
    const bool checking = the_table.checking_every_change;
    the_table = table_state();
    the_table.checking_every_change = checking;
}

void check_invariants_after_every_change() {
    the_table.checking_every_change = true;
}
