#include "gxl/draw/sprite_sort.h"

namespace {

int ByIndex(std::uint32_t a, std::uint32_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

void SiftDown(SpriteIndexComparator comparator, std::uint32_t* indices, std::uint32_t value, std::uint32_t pos,
              std::uint32_t size, const void* context) {
  std::uint32_t child = 2 * pos + 1;
  while (child < size) {
    if (child + 1 < size && comparator(indices[child + 1], indices[child], context) > 0) ++child;
    if (comparator(indices[child], value, context) <= 0) break;
    indices[pos] = indices[child];
    pos = child;
    child = 2 * child + 1;
  }
  indices[pos] = value;
}

}  // namespace

void HeapSortIndices(SpriteIndexComparator comparator, std::uint32_t* indices, std::uint32_t count,
                     const void* context) {
  if (count < 2) return;
  for (std::uint32_t p = count / 2; p-- > 0;) SiftDown(comparator, indices, indices[p], p, count, context);
  for (std::uint32_t m = count - 1; m >= 1; --m) {
    const std::uint32_t value = indices[m];
    indices[m] = indices[0];
    SiftDown(comparator, indices, value, 0, m, context);
  }
}

int CompareSpritesByTexture(std::uint32_t a, std::uint32_t b, const void* keys) {
  const auto* k = static_cast<const SpriteSortKeys*>(keys);
  const auto ta = reinterpret_cast<std::uintptr_t>(k->textures[a]);
  const auto tb = reinterpret_cast<std::uintptr_t>(k->textures[b]);
  if (ta > tb) return -1;
  if (ta < tb) return 1;
  return ByIndex(a, b);
}

int CompareSpritesByDepthAscending(std::uint32_t a, std::uint32_t b, const void* keys) {
  const auto* k = static_cast<const SpriteSortKeys*>(keys);
  if (k->depths[a] < k->depths[b]) return -1;
  if (k->depths[a] > k->depths[b]) return 1;
  return ByIndex(a, b);
}

int CompareSpritesByDepthDescending(std::uint32_t a, std::uint32_t b, const void* keys) {
  const auto* k = static_cast<const SpriteSortKeys*>(keys);
  if (k->depths[a] > k->depths[b]) return -1;
  if (k->depths[a] < k->depths[b]) return 1;
  return ByIndex(a, b);
}
