#pragma once
// The allocator of the large arrays of the table and of a load, hundreds of
// megabytes at the largest, filled once. In pages of 4 KiB their first touch
// costs a page fault every 4 KiB, more than the work done in the page. An
// array of 256 KiB or more is therefore given whole huge pages of 2 MiB:
// aligned to 2 MiB, its size rounded up to them, and the kernel asked to
// back it so (Linux; elsewhere it is only aligned). A huge page is resident
// as a whole once touched, so smaller arrays are allocated as by
// std::allocator.

#include <sys/mman.h>

#include <cstddef>
#include <new>
#include <vector>

inline constexpr std::size_t huge_page = std::size_t{2} << 20;
inline constexpr std::size_t large_array = std::size_t{256} << 10;

template <class T>
struct large_allocator {
    using value_type = T;

    large_allocator() = default;
    template <class U>
    explicit large_allocator(const large_allocator<U>&) {}

    T* allocate(std::size_t n) {
        if (n > (std::size_t(-1) - huge_page) / sizeof(T)) throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < large_array) return static_cast<T*>(::operator new(bytes));
        const std::size_t pages = (bytes + huge_page - 1) / huge_page * huge_page;
        void* data = ::operator new(pages, std::align_val_t{huge_page});
#ifdef MADV_HUGEPAGE
        madvise(data, pages, MADV_HUGEPAGE);  // only advice: its failure changes nothing
#endif
        return static_cast<T*>(data);
    }

    void deallocate(T* data, std::size_t n) {
        if (n * sizeof(T) < large_array) {
            ::operator delete(data);
        } else {
            ::operator delete(data, std::align_val_t{huge_page});
        }
    }

    friend bool operator==(const large_allocator&, const large_allocator&) { return true; }
};

template <class T>
using large_vector = std::vector<T, large_allocator<T>>;
