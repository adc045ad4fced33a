#include "core/large_arrays.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace segwork {

void AdviseHugePages(void* p, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // Only whole huge pages inside the block; the advice is ignored where the system has none.
  constexpr uintptr_t kHuge = uintptr_t(2) << 20;
  const uintptr_t first = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t last = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHuge - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

}  // namespace segwork
