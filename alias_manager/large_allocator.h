#pragma once
// The allocator of the large arrays of the table and of a load, hundreds of
// megabytes at the largest, filled once. In pages of 4 KiB their first touch
// costs a page fault every 4 KiB, more than the work done in the page; an
// array of 2 MiB or more is therefore aligned to 2 MiB and the kernel asked
// to back it with huge pages where it can (Linux; elsewhere it is only
// aligned). Smaller arrays are allocated as by std::allocator.

#include <sys/mman.h>

#include <cstddef>
#include <new>
#include <vector>

inline constexpr std::size_t huge_page = std::size_t{2} << 20;

template <class T>
struct large_allocator {
    using value_type = T;

    large_allocator() = default;
    template <class U>
    explicit large_allocator(const large_allocator<U>&) {}

    T* allocate(std::size_t n) {
        if (n > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < huge_page) return static_cast<T*>(::operator new(bytes));
        void* data = ::operator new(bytes, std::align_val_t{huge_page});
#ifdef MADV_HUGEPAGE
        madvise(data, bytes / huge_page * huge_page, MADV_HUGEPAGE);  // only advice: its failure changes nothing
#endif
        return static_cast<T*>(data);
    }

    void deallocate(T* data, std::size_t n) {
        if (n * sizeof(T) < huge_page) {
            ::operator delete(data);
        } else {
            ::operator delete(data, std::align_val_t{huge_page});
        }
    }

    friend bool operator==(const large_allocator&, const large_allocator&) { return true; }
};

template <class T>
using large_vector = std::vector<T, large_allocator<T>>;
