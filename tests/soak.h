#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace segwork::testing {

// Resident memory of this process in KiB, from /proc; 0 where that is not available.
inline int64_t ResidentKiB() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return 0;
  char line[256];
  int64_t kib = 0;
  while (std::fgets(line, sizeof line, status)) {
    if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::strtoll(line + 6, nullptr, 10);
  }
  std::fclose(status);
  return kib;
}

// Steps of a soak run: SEGWORK_SOAK_STEPS, else a million.
inline int64_t SoakSteps() {
  const char* text = std::getenv("SEGWORK_SOAK_STEPS");
  return text && *text ? std::strtoll(text, nullptr, 10) : 1'000'000;
}

// Steps after which the analysis tables have reached their bound: the stop step and twice the
// thinned tail, with room to spare.
inline int64_t WarmUpSteps(int64_t steps) {
  const int64_t filled = 150'000;
  return steps / 5 > filled ? steps / 5 : (steps < filled ? steps : filled);
}

// Growth allowed after warm-up: allocator noise, not a table that keeps growing (which would add
// tens of megabytes over a million steps).
inline constexpr int64_t kSoakSlackKiB = 12 * 1024;

}  // namespace segwork::testing
