// Allocation failure on demand for the shader tests, which replace the
// global allocation functions to this end: nothrow forms give null, the
// others throw std::bad_alloc. The countdown also covers the page pool, so a
// test can fail every allocation of a run in turn.
#pragma once

#include <cstdint>

namespace shadertest {

// Fails the next heap allocation of the calling thread.
void FailNextAllocation();

// Fails the n-th allocation from now (1 = the next), from the heap or from
// any page pool; 0 disarms. Counting goes on after the failure.
void FailNthAllocation(std::uint64_t n);
// Allocations (heap and page pool) since the last FailNthAllocation call.
std::uint64_t AllocationsCounted();
// True once the armed failure has happened.
bool AllocationFailed();

}  // namespace shadertest
