// Heap use of the whole process, counted by the replaced global operator new and delete of the
// benchmark program: every C++ allocation (the updater's, the simulated world's and the
// standard library's) counts with the size the allocator actually reserved for it.
#pragma once

#include <cstdint>

namespace heap {

// Bytes allocated through operator new and not yet deleted.
std::int64_t LiveBytes();
// The highest LiveBytes() since the last ResetPeak().
std::int64_t PeakBytes();
void ResetPeak();

}  // namespace heap
