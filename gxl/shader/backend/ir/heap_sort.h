// The heap sort behind SortIndicesByComparator over any element type, with
// the comparator inlined. Each step is the same, so for the same comparator
// answers it leaves the same order, equal elements included: callers that
// sort by a precomputed key pack it beside the index and compare the keys
// alone, which keeps the order a key comparator gives through the index list.
#pragma once

#include <cstdint>
#include <utility>

namespace gxl::shader {

namespace heapsort {

// Moves a[start] down the heap of a[0, end): the larger child climbs while the
// moving element does not order after it. Done bottom-up: down the path of
// larger children to a leaf, then back up to the first element that orders
// after the moving one. Along that path elements never increase, so for any
// consistent comparator this places every element where the plain top-down
// sift does, with about half the comparisons.
template <class T, class Compare>
void SiftDown(T* a, std::uint32_t start, std::uint32_t end, Compare& compare) {
  const T moving = a[start];
  std::uint32_t i = start;
  for (std::uint64_t child; (child = std::uint64_t{i} * 2 + 1) < end;) {
    if (child + 1 < end && compare(a[child + 1], a[child]) > 0) ++child;
    i = static_cast<std::uint32_t>(child);
  }
  while (i > start && compare(a[i], moving) < 1) i = (i - 1) / 2;
  // The path from start to i moves up one level; the moving element takes i.
  T carried = moving;
  for (;;) {
    std::swap(carried, a[i]);
    if (i == start) break;
    i = (i - 1) / 2;
  }
}

}  // namespace heapsort

// Sorts a[0, count) into ascending order of `compare(x, y)` (negative, zero
// or positive as x orders before, with or after y).
template <class T, class Compare>
void HeapSortBy(T* a, std::uint32_t count, Compare compare) {
  if (count < 2) return;
  for (std::uint32_t start = count / 2; start-- > 0;) heapsort::SiftDown(a, start, count, compare);
  for (std::uint32_t end = count - 1; end > 0; --end) {
    std::swap(a[0], a[end]);
    heapsort::SiftDown(a, 0, end, compare);
  }
}

}  // namespace gxl::shader
