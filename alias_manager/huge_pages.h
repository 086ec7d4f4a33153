#pragma once
// Large arrays that a load fills once, hundreds of megabytes at the largest:
// backed by 4 KiB pages, their first touch costs a page fault every 4 KiB,
// more than the work done in the page. The kernel is asked to back them with
// huge pages where it can (Linux); elsewhere this does nothing.

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

inline void prefer_huge_pages(const void* data, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t huge = std::uintptr_t{2} << 20;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + huge - 1) & ~(huge - 1);
    const std::uintptr_t last = (start + bytes) & ~(huge - 1);
    if (first < last) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);  // only advice
#else
    (void)data;
    (void)bytes;
#endif
}
