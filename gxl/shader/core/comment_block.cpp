#include "gxl/shader/core/comment_block.h"

#include <cstdlib>
#include <cstring>

#include "gxl/tex/result_codes.h"

namespace gxl::shader {

namespace {

// Payloads past this cannot be serialized anyway; stopping here keeps the
// offsets far from overflow.
constexpr std::uint32_t kMaxPayloadBytes = 1u << 30;

std::uint32_t HashBytes(const void* data, std::uint32_t length) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::uint32_t h = 2166136261u;
  for (std::uint32_t i = 0; i < length; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

}  // namespace

struct CommentBlockBuilder::Chunk {
  const void* data;
  std::uint32_t length;
  DWORD flags;
  std::uint32_t offset;
  std::uint32_t hash;  // of the bytes at append time, for shared pieces
  Chunk* next;
  // Copied pieces keep their bytes right behind the record.
  std::uint8_t* Inline() { return reinterpret_cast<std::uint8_t*>(this + 1); }
};

CommentBlockBuilder::~CommentBlockBuilder() {
  for (Chunk* c = m_first; c;) {
    Chunk* next = c->next;
    if ((c->flags & (kByReference | kOwned)) == (kByReference | kOwned)) std::free(const_cast<void*>(c->data));
    std::free(c);
    c = next;
  }
}

CommentBlockBuilder::Chunk* CommentBlockBuilder::FindShared(const void* data, std::uint32_t length,
                                                            std::uint32_t hash) const {
  for (Chunk* c = m_first; c; c = c->next)
    if ((c->flags & kShare) && c->length == length && c->hash == hash &&
        (length == 0 || std::memcmp(c->data, data, length) == 0))
      return c;
  return nullptr;
}

HRESULT CommentBlockBuilder::Append(const void* data, std::uint32_t length, DWORD flags, std::uint32_t* offset) {
  const bool owned = (flags & (kByReference | kOwned)) == (kByReference | kOwned);
  auto fail = [&](HRESULT hr) {
    if (owned) std::free(const_cast<void*>(data));
    return hr;
  };
  if (length == kZeroTerminated) {
    if (!data) return fail(E_FAIL);
    length = static_cast<std::uint32_t>(std::strlen(static_cast<const char*>(data)) + 1);
  }
  if (length && !data) return fail(E_FAIL);
  if (!(flags & kByReference)) flags |= kShare;

  const std::uint32_t hash = (flags & kShare) ? HashBytes(data, length) : 0;
  if (flags & kShare) {
    if (const Chunk* found = FindShared(data, length, hash)) {
      if (offset) *offset = found->offset;
      if (owned) std::free(const_cast<void*>(data));
      return S_OK;
    }
  }
  const std::uint32_t at = (flags & kUnaligned) ? m_size : (m_size + 3) & ~3u;
  if (at > kMaxPayloadBytes || length > kMaxPayloadBytes - at) return fail(E_OUTOFMEMORY);

  const std::size_t copied = (flags & kByReference) ? 0 : length;
  auto* chunk = static_cast<Chunk*>(std::malloc(sizeof(Chunk) + copied));
  if (!chunk) return fail(E_OUTOFMEMORY);
  *chunk = Chunk{data, length, flags, at, hash, nullptr};
  if (copied) {
    std::memcpy(chunk->Inline(), data, copied);
    chunk->data = chunk->Inline();
  }
  (m_last ? m_last->next : m_first) = chunk;
  m_last = chunk;
  m_size = at + length;
  if (offset) *offset = at;
  return S_OK;
}

HRESULT CommentBlockBuilder::Serialize(DWORD* out, std::uint32_t dwords) const {
  const std::uint32_t needed = SizeInDwords();
  if (dwords == kDwordsNeeded) dwords = needed;
  if (!out || dwords < needed || dwords > kMaxCommentDwords) return E_FAIL;
  out[0] = ((dwords - 1) & 0x7FFF) << 16 | 0xFFFE;
  out[1] = m_fourCC;
  auto* payload = reinterpret_cast<std::uint8_t*>(out + 2);
  std::memset(payload, kCommentPadByte, std::size_t{dwords - 2} * 4);
  for (const Chunk* c = m_first; c; c = c->next)
    if (c->length) std::memcpy(payload + c->offset, c->data, c->length);
  return S_OK;
}

HRESULT InsertAfterVersion(PodArray<DWORD>* tokens, const CommentBlockBuilder& block) {
  const std::uint32_t dwords = block.SizeInDwords();
  if (dwords > kMaxCommentDwords) return E_FAIL;
  const std::size_t count = tokens->Size();
  if (count == 0) return E_FAIL;
  if (!tokens->Reserve(count + dwords)) return E_OUTOFMEMORY;
  // Grow by appending, then move everything behind the version token up.
  for (std::uint32_t i = 0; i < dwords; ++i) tokens->Append(0);
  DWORD* t = tokens->Data();
  std::memmove(t + 1 + dwords, t + 1, (count - 1) * sizeof(DWORD));
  return block.Serialize(t + 1, dwords);
}

}  // namespace gxl::shader
