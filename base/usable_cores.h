#pragma once

namespace quorvant {

// The cores this process may run on: its CPU affinity (so `taskset -c 0`
// gives 1), or the machine's count where that cannot be read; at least 1.
unsigned UsableCores();

}  // namespace quorvant
