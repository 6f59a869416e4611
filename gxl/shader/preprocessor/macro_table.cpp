#include "gxl/shader/preprocessor/macro_table.h"

#include <cstdlib>
#include <cstring>

namespace gxl::shader {

namespace {

enum : std::uint8_t { kWhite, kGrey, kBlack };

// Spreads the name hash over the high bits that pick a bucket.
std::size_t SpreadHash(std::uint32_t hash, std::uint32_t bits) {
  return bits ? static_cast<std::size_t>((hash * 2654435761u) >> (32 - bits)) : 0;
}

bool SameName(const char* name, std::uint32_t length, const char* other, std::size_t otherLength) {
  return length == otherLength && std::memcmp(name, other, length) == 0;
}

bool SameToken(const SourceToken& a, const SourceToken& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case kTokenPunctuator:
      return std::strcmp(a.value.punctuator, b.value.punctuator) == 0;
    case kTokenIdentifier:
    case kTokenString:
    case kTokenHeaderName:
      return std::strcmp(a.value.text, b.value.text) == 0;
    case kTokenFloat:
    case kTokenFloatH:
    case kTokenFloatF:
    case kTokenFloatL:
      return a.value.real == b.value.real;
    default:
      return a.value.number == b.value.number;
  }
}

}  // namespace

std::uint32_t HashMacroName(const char* name, std::size_t length) {
  std::uint32_t h = 103995407u;
  for (std::size_t i = 0; i < length; ++i)
    h = h * 19u + static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(name[i])));
  return h;
}

bool SameMacroDefinition(const MacroDefinition& a, const MacroDefinition& b) {
  if (a.paramCount != b.paramCount || a.bodyCount != b.bodyCount) return false;
  for (std::uint32_t i = 0; i < a.bodyCount; ++i) {
    if (a.bodyParam[i] != b.bodyParam[i]) return false;
    if (!a.bodyParam[i] && !SameToken(a.body[i], b.body[i])) return false;
  }
  return true;
}

MacroTable::~MacroTable() {
  std::free(m_buckets);
  std::free(m_referenced);
}

MacroDefinition** MacroTable::Slot(const char* name, std::size_t length, std::uint32_t hash) {
  if (!m_buckets) return nullptr;
  MacroDefinition** slot = &m_buckets[SpreadHash(hash, m_bucketBits)];
  while (*slot && !((*slot)->hash == hash && SameName((*slot)->name, (*slot)->nameLength, name, length)))
    slot = &(*slot)->link;
  return slot;
}

MacroDefinition* MacroTable::Lookup(const char* name, std::size_t length) const {
  MacroDefinition** slot = const_cast<MacroTable*>(this)->Slot(name, length, HashMacroName(name, length));
  return slot ? *slot : nullptr;
}

MacroDefinition* MacroTable::FindExpandable(const char* name, std::size_t length) {
  MacroDefinition* definition = Lookup(name, length);
  return definition && !Refused(definition) ? definition : nullptr;
}

bool MacroTable::Grow() {
  const std::uint32_t bits = m_bucketBits ? m_bucketBits + 1 : 7;
  const std::size_t size = std::size_t{1} << bits;
  auto* buckets = static_cast<MacroDefinition**>(std::calloc(size, sizeof(MacroDefinition*)));
  if (!buckets) return false;
  if (m_buckets) {
    for (std::size_t i = 0, old = std::size_t{1} << m_bucketBits; i < old; ++i) {
      for (MacroDefinition* d = m_buckets[i]; d;) {
        MacroDefinition* next = d->link;
        MacroDefinition** head = &buckets[SpreadHash(d->hash, bits)];
        d->link = *head;
        *head = d;
        d = next;
      }
    }
    std::free(m_buckets);
  }
  m_buckets = buckets;
  m_bucketBits = bits;
  return true;
}

bool MacroTable::Insert(MacroDefinition* definition, MacroDefinition** replaced) {
  // A table that cannot grow keeps working with longer chains.
  if ((!m_buckets || m_count >= (std::size_t{1} << m_bucketBits)) && !Grow() && !m_buckets) return false;
  definition->hash = HashMacroName(definition->name, definition->nameLength);
  definition->memoGeneration = 0;
  MacroDefinition** slot = Slot(definition->name, definition->nameLength, definition->hash);
  *replaced = *slot;
  definition->link = *replaced ? (*replaced)->link : nullptr;
  *slot = definition;
  if (!*replaced) ++m_count;
  NoteReferences(*definition);
  Changed(definition);
  return true;
}

void MacroTable::Remove(const char* name, std::size_t length) {
  const std::uint32_t hash = HashMacroName(name, length);
  MacroDefinition** slot = Slot(name, length, hash);
  if (!slot || !*slot) return;
  MacroDefinition* removed = *slot;
  *slot = removed->link;
  removed->link = nullptr;
  --m_count;
  Changed(removed);
}

bool MacroTable::GrowReferenced() {
  const std::size_t capacity = m_referencedCapacity ? m_referencedCapacity * 2 : 256;
  auto* keys = static_cast<NameKey*>(std::calloc(capacity, sizeof(NameKey)));
  if (!keys) return false;
  for (std::size_t i = 0; i < m_referencedCapacity; ++i) {
    if (!m_referenced[i].name) continue;
    std::size_t j = SpreadHash(m_referenced[i].hash, 32) & (capacity - 1);
    while (keys[j].name) j = (j + 1) & (capacity - 1);
    keys[j] = m_referenced[i];
  }
  std::free(m_referenced);
  m_referenced = keys;
  m_referencedCapacity = capacity;
  return true;
}

bool MacroTable::IsReferenced(const char* name, std::size_t length, std::uint32_t hash) const {
  if (m_referencedLost) return true;
  if (!m_referencedCapacity) return false;
  for (std::size_t j = SpreadHash(hash, 32) & (m_referencedCapacity - 1); m_referenced[j].name;
       j = (j + 1) & (m_referencedCapacity - 1)) {
    if (m_referenced[j].hash == hash && SameName(m_referenced[j].name, m_referenced[j].length, name, length))
      return true;
  }
  return false;
}

void MacroTable::NoteReferences(const MacroDefinition& definition) {
  for (std::uint32_t i = 0; i < definition.bodyCount && !m_referencedLost; ++i) {
    const SourceToken& t = definition.body[i];
    if (t.kind != kTokenIdentifier) continue;
    const std::uint32_t hash = HashMacroName(t.value.text, t.length);
    if (IsReferenced(t.value.text, t.length, hash)) continue;
    if (2 * (m_referencedCount + 1) > m_referencedCapacity && !GrowReferenced()) {
      m_referencedLost = true;
      break;
    }
    std::size_t j = SpreadHash(hash, 32) & (m_referencedCapacity - 1);
    while (m_referenced[j].name) j = (j + 1) & (m_referencedCapacity - 1);
    m_referenced[j] = NameKey{t.value.text, static_cast<std::uint32_t>(t.length), hash};
    ++m_referencedCount;
  }
}

void MacroTable::Changed(const MacroDefinition* definition) {
  // Only macros whose bodies reach this name can change their verdict.
  if (IsReferenced(definition->name, definition->nameLength, definition->hash)) ++m_generation;
}

// Depth-first search from root over the macros named in bodies, three
// colours per table generation: a grey macro met again closes a cycle, and
// everything on the path to it reaches that cycle. Verdicts stay valid until
// a change that some body can see.
bool MacroTable::Refused(MacroDefinition* root) {
  auto fresh = [this](MacroDefinition* d) {
    if (d->memoGeneration != m_generation) {
      d->memoGeneration = m_generation;
      d->colour = kWhite;
      d->refused = false;
    }
  };
  fresh(root);
  if (root->colour == kBlack) return root->refused;
  m_stack.Clear();
  root->colour = kGrey;
  if (!m_stack.Append(Frame{root, 0})) return true;  // no memory: refuse rather than risk a loop
  while (!m_stack.Empty()) {
    Frame& frame = m_stack.Back();
    MacroDefinition* d = frame.definition;
    if (frame.next == d->bodyCount) {
      d->colour = kBlack;
      m_stack.PopBack();
      continue;
    }
    const SourceToken& t = d->body[frame.next++];
    if (t.kind != kTokenIdentifier) continue;
    MacroDefinition* child = Lookup(t.value.text, t.length);
    if (!child) continue;
    fresh(child);
    bool cycle = child->colour == kGrey || (child->colour == kBlack && child->refused);
    if (child->colour == kWhite) {
      child->colour = kGrey;
      cycle = !m_stack.Append(Frame{child, 0});
    }
    if (cycle) {
      // Every macro on the path reaches the cycle.
      for (std::size_t i = 0; i < m_stack.Size(); ++i) {
        m_stack[i].definition->colour = kBlack;
        m_stack[i].definition->refused = true;
      }
      m_stack.Clear();
    }
  }
  return root->refused;
}

}  // namespace gxl::shader
