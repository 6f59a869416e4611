// Ordering of queued sprites: an in-place heap sort of index arrays and the
// batcher's three comparators. Equal keys fall back to the queue position, so
// the result is what a stable sort would give.
#pragma once

#include <cstdint>

#include "platform/d3d9_api.h"

// Negative when index a goes first, positive when b goes first, 0 for the same index.
using SpriteIndexComparator = int (*)(std::uint32_t a, std::uint32_t b, const void* context);

// Sorts count indices in place into ascending comparator order.
void HeapSortIndices(SpriteIndexComparator comparator, std::uint32_t* indices, std::uint32_t count,
                     const void* context);

// The keys the comparators read (context of type const SpriteSortKeys*), one
// entry per queued sprite.
struct SpriteSortKeys {
  IDirect3DTexture9* const* textures;
  const float* depths;
};

// Larger texture addresses first; one texture's sprites in queue order.
int CompareSpritesByTexture(std::uint32_t a, std::uint32_t b, const void* keys);
// Smaller depth first; equal or unordered keys in queue order.
int CompareSpritesByDepthAscending(std::uint32_t a, std::uint32_t b, const void* keys);
// Larger depth first; equal or unordered keys in queue order.
int CompareSpritesByDepthDescending(std::uint32_t a, std::uint32_t b, const void* keys);
