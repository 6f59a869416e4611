// Makes the next allocation of the calling thread fail (the shader tests
// replace the global allocation functions to this end): nothrow forms give
// null, the others throw std::bad_alloc.
#pragma once

namespace shadertest {

void FailNextAllocation();

}  // namespace shadertest
