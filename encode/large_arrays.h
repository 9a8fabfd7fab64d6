// Large arrays that the packer writes once from start to end: the file's bytes, its
// tokens, the split's segments and the compressed stream.
#ifndef VORPANEX_ENCODE_LARGE_ARRAYS_H
#define VORPANEX_ENCODE_LARGE_ARRAYS_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

// Asks the kernel to back the whole pages of [p, p + bytes) with transparent huge
// pages, before they are first written. Paging in the corpus of `make bench` took
// 39,000 faults of 4 KiB, a sixth of the default pack's processor time in a virtual
// machine; with huge pages it takes about 8,000. Only a hint: where the kernel has
// no huge pages (or they are switched off) nothing changes.
inline void AdviseHugePages(const void* p, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const size_t HUGE_PAGE = size_t(2) << 20;
    if (bytes < HUGE_PAGE) return;  // holds no aligned huge page worth asking for
    const size_t page = 4096;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(page - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

// reserve(n), with the new room advised for huge pages. Arrays kept from pass to pass
// and member to member mostly have the room already, advised when it was taken.
template <typename T>
void ReserveLarge(std::vector<T>& array, size_t n) {
    if (n <= array.capacity()) return;
    array.reserve(n);
    AdviseHugePages(array.data(), array.capacity() * sizeof(T));
}

// Moves a full array into twice its room, advised for huge pages. Kept out of line:
// PushLarge runs once per token and almost never grows.
template <typename T>
__attribute__((noinline, cold)) void GrowLarge(std::vector<T>& array) {
    std::vector<T> larger;
    ReserveLarge(larger, array.capacity() * 2 + 64);
    larger.assign(array.begin(), array.end());
    array.swap(larger);
}

// push_back that grows a full array into twice its room advised for huge pages, not
// into pages of 4 KiB as push_back's own growth would.
template <typename T>
inline void PushLarge(std::vector<T>& array, const T& value) {
    if (__builtin_expect(array.size() == array.capacity(), 0)) GrowLarge(array);
    array.push_back(value);
}

#endif
