#include "base/usable_cores.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace quorvant {

unsigned UsableCores() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&allowed));
  }
  // More CPUs than a cpu_set_t holds, or no affinity to read.
  return std::max(std::thread::hardware_concurrency(), 1u);
}

}  // namespace quorvant
