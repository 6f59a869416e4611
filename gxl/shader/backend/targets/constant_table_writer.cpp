// The constant table of a compiled program: one record per uniform variable
// the program reads, found by walking the registers the values were given,
// with its type record and its default value in register layout. Fragment
// compiles write the same layout as "FINF", with prefixed names, explicit
// register bindings and the fragment's own register names.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "gxl/shader/backend/targets/block_writers.h"
#include "gxl/shader/core/comment_block.h"
#include "gxl/shader/core/constant_layout.h"
#include "gxl/shader/core/profiles.h"
#include "gxl/shader/core/syntax_tree.h"
#include "gxl/shader/core/type_record.h"

namespace gxl::shader {

namespace {

// Slot layout of the registers: bool, then float, sampler and integer.
enum SlotSet : std::uint32_t { kSlotBool, kSlotFloat, kSlotSampler, kSlotInt, kSlotSets };
constexpr std::uint16_t kRegisterSetOf[kSlotSets] = {kRegisterSetBool, kRegisterSetFloat, kRegisterSetSampler,
                                                     kRegisterSetInt};
constexpr char kPrefixOf[kSlotSets] = {'b', 'c', 's', 'i'};
// Registers a constant record can name.
constexpr std::uint32_t kMaxRegister = 0xFFFF;

SlotSet SlotSetOf(std::uint32_t bankType) {
  if (bankType & kBankSampler) return kSlotSampler;
  if (bankType & kBankBoolean) return kSlotBool;
  if (bankType & kBankInteger) return kSlotInt;
  return kSlotFloat;
}

bool IsUniformBank(const RegisterBank* bank) {
  return bank && (bank->type & kBankUniform) && !(bank->type & kBankLiteral);
}

struct Constant {
  std::uint32_t value;  // the value whose slot starts it
  std::uint32_t set;    // SlotSet
  std::uint32_t reg;    // first register
  std::uint32_t count;  // registers
};

const char* NameOf(const IrValue& v) { return DeclarationNameText(v.declaration); }

// The first register of a value's variable.
std::uint32_t FirstRegister(const IrValue& v) { return v.reg - std::min(v.variableOffset / 4, v.reg); }

// The highest register a value reads: its own, or for a relatively addressed
// value the end of its variable, which the index may reach.
std::uint32_t LastReachable(const IrValue& v) {
  if (v.relativeIndex == kNoIndex || !v.declaration) return v.reg;
  const std::uint64_t registers = LaidRegisters(v.declaration, kRegisterSetFloat);
  const std::uint64_t last = std::uint64_t{FirstRegister(v)} + std::max<std::uint64_t>(registers, 1) - 1;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(std::max<std::uint64_t>(last, v.reg), kMaxRegister));
}

class ConstantTableWriter {
 public:
  explicit ConstantTableWriter(const BlockTarget& target)
      : m_target(target),
        m_program(*target.program),
        m_block(target.fragmentMode ? kTagFragmentInfo : kTagConstantTable) {}

  HRESULT Write();

 private:
  HRESULT FindConstants();
  void SortConstants();
  HRESULT WriteRecord(const Constant& c, ConstantEntryRecord* record);
  HRESULT WriteFragmentNames(ConstantEntryRecord* records);
  std::uint32_t FragmentNameCount() const;

  const BlockTarget& m_target;
  ShaderProgram& m_program;
  CommentBlockBuilder m_block;
  PodArray<Constant> m_constants;
};

HRESULT ConstantTableWriter::FindConstants() {
  const std::uint32_t valueCount = m_program.values.Count();
  std::uint32_t counts[kSlotSets] = {};
  for (std::uint32_t i = 0; i < valueCount; ++i) {
    const IrValue* v = m_program.Value(i);
    if (!v || v->reg > kMaxRegister || !IsUniformBank(m_program.BankOf(*v))) continue;
    std::uint32_t& count = counts[SlotSetOf(m_program.BankOf(*v)->type)];
    count = std::max(count, LastReachable(*v) + 1);
  }
  std::uint32_t base[kSlotSets + 1] = {};
  for (std::uint32_t s = 0; s < kSlotSets; ++s) base[s + 1] = base[s] + counts[s];
  const std::uint32_t total = base[kSlotSets];

  PodArray<std::uint32_t> slots;
  if (!slots.Reserve(total ? total : 1)) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < total; ++i) slots.Append(kNoIndex);
  // Each value marks the last register it can read and those below it down
  // to its variable's first one, without passing into the set below or over
  // a marked slot.
  for (std::uint32_t i = 0; i < valueCount; ++i) {
    const IrValue* v = m_program.Value(i);
    if (!v || v->reg > kMaxRegister || !v->declaration) continue;
    const RegisterBank* bank = m_program.BankOf(*v);
    if (!IsUniformBank(bank)) continue;
    const std::uint32_t set = SlotSetOf(bank->type);
    for (std::uint32_t s = base[set] + LastReachable(*v);; --s) {
      if (slots[s] != kNoIndex) break;
      slots[s] = i;
      if (s == base[set] + FirstRegister(*v)) break;
    }
  }

  const IrValue* previous = nullptr;
  std::uint32_t previousFirst = 0;
  for (std::uint32_t set = 0; set < kSlotSets; ++set) {
    for (std::uint32_t s = base[set]; s < base[set + 1]; ++s) {
      if (slots[s] == kNoIndex) continue;
      const IrValue& v = *m_program.Value(slots[s]);
      const std::uint32_t reg = s - base[set];
      const std::uint32_t first = FirstRegister(v);
      const bool same =
          previous && previous->bank == v.bank && previous->declaration == v.declaration && previousFirst == first;
      previous = &v;
      previousFirst = first;
      if (same) {
        if (!m_constants.Empty() && m_constants.Back().value != kNoIndex) ++m_constants.Back().count;
        continue;
      }
      // Slots of what is no variable start nothing and join nothing.
      const bool variable = NameOf(v) && VariableOf(v.declaration);
      if (!m_constants.Append(Constant{variable ? slots[s] : kNoIndex, set, reg, 1})) return E_OUTOFMEMORY;
    }
  }
  // Drop the runs that name no variable.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < m_constants.Size(); ++i)
    if (m_constants[i].value != kNoIndex) m_constants[kept++] = m_constants[i];
  m_constants.Truncate(kept);
  return S_OK;
}

// By name, byte-wise; equal names by bank. Insertion keeps equal ones in order.
void ConstantTableWriter::SortConstants() {
  auto before = [&](const Constant& a, const Constant& b) {
    const IrValue &x = *m_program.Value(a.value), &y = *m_program.Value(b.value);
    const int byName = std::strcmp(NameOf(x), NameOf(y));
    return byName < 0 || (byName == 0 && x.bank < y.bank);
  };
  for (std::size_t i = 1; i < m_constants.Size(); ++i) {
    const Constant c = m_constants[i];
    std::size_t j = i;
    for (; j > 0 && before(c, m_constants[j - 1]); --j) m_constants[j] = m_constants[j - 1];
    m_constants[j] = c;
  }
}

HRESULT ConstantTableWriter::WriteRecord(const Constant& c, ConstantEntryRecord* record) {
  const IrValue& v = *m_program.Value(c.value);
  const ParseNodeKind11* variable = VariableOf(v.declaration);
  const char* name = NameOf(v);
  *record = ConstantEntryRecord{};
  HRESULT hr;
  if (m_target.fragmentMode) {
    char prefixed[256];
    std::snprintf(prefixed, sizeof prefixed, "%c_%s", kPrefixOf[c.set], name);
    hr = m_block.Append(prefixed, CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kUnalignedCopy,
                        &record->name);
  } else {
    hr = m_block.Append(name, CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kName, &record->name);
  }
  if (FAILED(hr)) return hr;
  record->registerSet = kRegisterSetOf[c.set];
  record->registerIndex = static_cast<std::uint16_t>(c.reg);
  record->registerCount = static_cast<std::uint16_t>(std::min(c.count, kMaxRegister));
  hr = WriteTypeRecord(&m_block, variable, 1, v.binding & kSamplerDimensionBits, &record->typeInfo);
  if (FAILED(hr)) return hr;

  if (m_target.fragmentMode) {
    const std::uint32_t bound = FindExplicitRegister(variable, kPrefixOf[c.set], m_program.versionToken);
    if (bound != kNoRegister) {
      if (bound > kMaxBoundRegister) {
        GXL_SHADER_REPORT(m_program, v.declaration, msg::kConstantRegisterTooHigh, name, static_cast<int>(bound));
        return E_FAIL;
      }
      record->binding = static_cast<std::uint16_t>(bound << 2 | kBindingExplicit);
    }
  }
  const ParseNode* value = FoldedValueOf(variable);
  if (value && c.set != kSlotSampler) {
    std::uint32_t bytes = 0;
    std::uint32_t* image = BuildRegisterImage(variable, value, record->registerSet, record->registerCount, &bytes);
    if (!image) return E_OUTOFMEMORY;
    hr = m_block.Append(image, bytes, CommentBlockBuilder::kOwnedData, &record->defaultValue);
    if (FAILED(hr)) return hr;
    if (m_target.fragmentMode) record->binding |= kBindingHasDefault;
  }
  return S_OK;
}

std::uint32_t ConstantTableWriter::FragmentNameCount() const {
  if (!m_target.fragmentMode) return 0;
  std::uint32_t n = 0;
  for (const RegisterNameTable* table : m_target.fragmentNames)
    if (table) n += table->Size();
  return n;
}

// One float4 record per fragment register name, inputs first.
HRESULT ConstantTableWriter::WriteFragmentNames(ConstantEntryRecord* records) {
  for (const RegisterNameTable* table : m_target.fragmentNames) {
    if (!table || table->Size() == 0) continue;
    auto entries =
        std::unique_ptr<const RegisterNameEntry*[]>(new (std::nothrow) const RegisterNameEntry*[table->Size()]);
    if (!entries) return E_OUTOFMEMORY;
    table->Collect(entries.get());
    for (std::uint32_t i = 0; i < table->Size(); ++i) {
      const RegisterNameEntry& e = *entries[i];
      ConstantEntryRecord& record = *records++;
      record = ConstantEntryRecord{};
      record.registerSet = kRegisterSetFloat;
      record.registerIndex = static_cast<std::uint16_t>(e.reg);
      record.registerCount = 1;
      HRESULT hr =
          m_block.Append(e.name, CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kName, &record.name);
      if (SUCCEEDED(hr))
        hr = m_block.Append(&kFloat4Register, sizeof kFloat4Register, CommentBlockBuilder::kTypes, &record.typeInfo);
      if (SUCCEEDED(hr) && e.hasDefault) {
        hr = m_block.Append(e.defaultValue, sizeof e.defaultValue, CommentBlockBuilder::kTypes, &record.defaultValue);
        record.binding |= kBindingHasDefault;
      }
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

HRESULT ConstantTableWriter::Write() {
  ConstantTableHeader header{sizeof(ConstantTableHeader), 0, 0, 0, 0, m_program.options, 0};
  header.version = m_target.tokens->Size() ? (*m_target.tokens)[0] : m_program.versionToken;
  HRESULT hr = m_block.Append(&header, sizeof header, CommentBlockBuilder::kRecords, nullptr);
  if (SUCCEEDED(hr)) hr = FindConstants();
  if (FAILED(hr)) return hr;
  SortConstants();

  const std::size_t sorted = m_constants.Size();
  const std::size_t count = sorted + FragmentNameCount();
  header.constants = static_cast<std::uint32_t>(count);
  auto records = std::unique_ptr<ConstantEntryRecord[]>(new (std::nothrow) ConstantEntryRecord[count ? count : 1]());
  if (!records) return E_OUTOFMEMORY;
  if (count) {
    hr = m_block.Append(records.get(), static_cast<std::uint32_t>(count * sizeof(ConstantEntryRecord)),
                        CommentBlockBuilder::kRecords, &header.constantInfo);
  }
  for (std::size_t i = 0; i < sorted && SUCCEEDED(hr); ++i) hr = WriteRecord(m_constants[i], &records[i]);
  if (SUCCEEDED(hr)) hr = WriteFragmentNames(&records[sorted]);
  ShaderProfileRow row{};
  if (SUCCEEDED(hr) && SUCCEEDED(ProfileTokenToName(m_target.profileVersion, 0, &row)))
    hr = m_block.Append(row.name, CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kText, &header.target);
  if (SUCCEEDED(hr))
    hr = m_block.Append(kCompilerBanner, CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kText,
                        &header.creator);
  if (FAILED(hr)) return hr;
  if (m_block.SizeInDwords() > kMaxCommentDwords) {
    GXL_SHADER_REPORT(m_program, nullptr, msg::kConstantTableTooLarge);
    return E_FAIL;
  }
  return InsertTargetBlock(m_target, m_block);
}

}  // namespace

HRESULT InsertTargetBlock(const BlockTarget& target, const CommentBlockBuilder& block) {
  const HRESULT hr = InsertAfterVersion(target.tokens, block);
  if (FAILED(hr)) return hr;
  if (target.insertedDwords) *target.insertedDwords += block.SizeInDwords();
  if (target.validatedCount) *target.validatedCount = target.tokens->Size();
  return S_OK;
}

HRESULT WriteConstantTable(const BlockTarget& target) {
  if (!target.program || !target.tokens) return E_FAIL;
  return ConstantTableWriter(target).Write();
}

}  // namespace gxl::shader
