#pragma once

#include <cstddef>
#include <type_traits>
#include <vector>

namespace segwork {

// From this many cells on, a world's per-cell arrays lie far beyond the caches: reads at random
// miss them, and fetching ahead pays.
constexpr size_t kFarCells = size_t(1) << 22;

// Arrays of this many bytes and more are placed by AssignLarge on huge pages.
constexpr size_t kLargeBytes = size_t(16) << 20;

// Asks the system to back [p, p + bytes) with huge pages where it can: a world of many millions
// of cells reads its arrays at random, and with small pages nearly every read also misses the
// address translation. Only a hint; nothing changes but the time.
void AdviseHugePages(void* p, size_t bytes);

// v.assign(n, value), with a large array placed fresh and advised before its pages are first
// written, so that they are huge pages from the start.
template <class T>
void AssignLarge(std::vector<T>& v, size_t n, const std::type_identity_t<T>& value) {
  if (n * sizeof(T) >= kLargeBytes && v.capacity() < n) {
    std::vector<T>().swap(v);
    v.reserve(n);
    AdviseHugePages(v.data(), v.capacity() * sizeof(T));
  }
  v.assign(n, value);
}

}  // namespace segwork
