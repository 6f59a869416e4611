// The largest commit of the shader tools' page pools while one is alive, as
// the system sees it: sampled before each pool allocation.
#pragma once

#include <algorithm>
#include <cstddef>

#include "gxl/shader/core/page_pool.h"
#include "platform/testing.h"

namespace shadertest {

class PoolPeak {
 public:
  PoolPeak() {
    s_base = s_peak = platform::test::VirtualCommittedBytes();
    PagePool::failureHook = [] {
      s_peak = std::max(s_peak, platform::test::VirtualCommittedBytes());
      return false;
    };
  }
  ~PoolPeak() { PagePool::failureHook = nullptr; }
  PoolPeak(const PoolPeak&) = delete;
  PoolPeak& operator=(const PoolPeak&) = delete;
  // Bytes over what was committed when it began.
  std::size_t Bytes() const { return s_peak - s_base; }

 private:
  static inline std::size_t s_base = 0, s_peak = 0;
};

}  // namespace shadertest
