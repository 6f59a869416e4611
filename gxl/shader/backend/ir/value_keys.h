// The orders in which equal values are found: literals by bank and value,
// register reads by what names their register and guard. The comparators
// CompareLiteralValues and CompareValueKeys compare these keys, and
// MergeDuplicateValues sorts them taken from the values once.
#pragma once

#include <cstdint>

#include "gxl/shader/backend/ir/ir.h"

namespace gxl::shader {

template <class T>
std::int32_t KeyOrder(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

struct LiteralKey {
  std::uint32_t bank;
  double value;
  std::uint32_t index;  // the value's own, not compared
  static LiteralKey Of(const IrValue& v, std::uint32_t index) { return {v.bank, v.rangeLow, index}; }
  std::int32_t Compare(const LiteralKey& o) const {
    if (const std::int32_t c = KeyOrder(bank, o.bank)) return c;
    return KeyOrder(value, o.value);
  }
};

struct ReadKey {
  std::uint32_t fields[7];  // alias, binding, bank, register, relative index, component, predicate
  std::int32_t sense;
  std::uint32_t index;  // the value's own, not compared
  static ReadKey Of(const IrValue& v, std::uint32_t index) {
    return {{v.alias, v.binding, v.bank, v.reg, v.relativeIndex, v.component, v.predicate},
            static_cast<std::int32_t>(v.predicateSense),
            index};
  }
  std::int32_t Compare(const ReadKey& o) const {
    for (std::uint32_t k = 0; k < 7; ++k)
      if (const std::int32_t c = KeyOrder(fields[k], o.fields[k])) return c;
    return KeyOrder(sense, o.sense);
  }
};

}  // namespace gxl::shader
