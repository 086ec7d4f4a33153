#pragma once
// Puts a table of file calls in place that counts and names every call the
// code under test makes, and can make one of them fail, make every call of
// one kind fail, or run another program's step just before or after a call.
// The real calls are back when it goes out of scope.
//
//     call_faults faults;
//     faults.fail_call(7, ENOSPC);                       // the 7th call fails
//     faults.after("renameat", 1, [] { append_line(); });  // another writer
//     ... the save ...
//     faults.log();   // {"openat", "fstat", ...}

#include <functional>
#include <string>
#include <vector>

class call_faults {
public:
    call_faults();
    ~call_faults();
    call_faults(const call_faults&) = delete;
    call_faults& operator=(const call_faults&) = delete;

    // The `n`th call from now (counting from 1) fails with `error`.
    void fail_call(int n, int error);
    // Every call named `name` fails with `error`.
    void fail_all(const std::string& name, int error);
    // Every write takes at most half of what it is given.
    void short_writes();
    // Every open of an unnamed file (O_TMPFILE) fails with EOPNOTSUPP, as
    // on a file system that has none; it is not counted as a call.
    void refuse_unnamed_files();
    // Runs `step` just before (or after) the `nth` call named `name`; every one for 0.
    // The name "*" stands for any call, counted all together.
    void before(const std::string& name, int nth, std::function<void()> step);
    void after(const std::string& name, int nth, std::function<void()> step);

    // The name that the call being made was given (the last one, for a
    // rename), as a step run before it sees it; empty for a call on a descriptor.
    const std::string& current_name() const;
    // The names of the calls made, in order.
    const std::vector<std::string>& log() const;
    // The names of every entry of the table.
    static std::vector<std::string> entries();
};
