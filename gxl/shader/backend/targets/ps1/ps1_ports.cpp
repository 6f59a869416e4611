// Read ports of the 1.x arithmetic: how many distinct registers of each kind
// one instruction, or a co-issued pair, may read.
#include <algorithm>

#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

namespace {

enum PortClass { kColour, kTemporary, kConstant, kSampler, kTexture, kClassCount };

// Distinct registers read, per class. A register is (bank, register), a
// literal group its values until constant assignment gives it a register.
class PortCounter {
 public:
  explicit PortCounter(const PixelShader1Target& t) : m_t(t) {}

  // Counts one argument group; false when it reads a sampler.
  bool AddGroup(const std::uint32_t* group, std::uint32_t width) {
    bool literal = false;
    for (std::uint32_t j = 0; j < width; ++j) {
      const IrValue* v = m_t.Value(group[j]);
      const RegisterBank* bank = v ? m_t.BankOf(*v) : nullptr;
      if (!bank) continue;
      if (bank->type & kBankSampler) {
        Add(kSampler, Key{v->bank, v->reg, 0});
        continue;
      }
      // Once literal groups hold constant registers, two equal values may
      // still lie in different registers: count the registers.
      if (v->bank == m_t.literalRegisterBank && v->reg != kNoIndex) {
        Add(kConstant, Key{v->bank, v->reg, 0});
        continue;
      }
      if (bank->type & kBankLiteral) {
        literal = true;
        continue;
      }
      if (m_t.IsTextureRegisterRead(group[j])) Add(kTexture, RegisterKey(group[j]));
      if (bank->type & kBankUniform) {
        Add(kConstant, RegisterKey(group[j]));
      } else if (m_t.IsInputValue(group[j])) {
        const std::uint32_t kind = Ps1KindOf(m_t.SemanticOf(group[j]));
        if (kind == kPs1Texcoord)
          Add(kTemporary, RegisterKey(group[j]));
        else if (kind == kPs1Color)
          Add(kColour, RegisterKey(group[j]));
      } else {
        Add(kTemporary, RegisterKey(group[j]));
      }
    }
    if (literal) AddLiteralGroup(group, width);
    return true;
  }
  std::uint32_t Count(PortClass c) const { return m_counts[c]; }

 private:
  struct Key {
    std::uint32_t a, b, c;
    bool operator==(const Key& o) const { return a == o.a && b == o.b && c == o.c; }
  };
  static constexpr std::uint32_t kMaxKeys = 64;

  // Outputs are r0; a temporary without a register yet stands for itself.
  Key RegisterKey(std::uint32_t value) const {
    const IrValue* v = m_t.Value(value);
    if (m_t.BankOf(*v)->type & kBankOutput) return Key{m_t.StandardBankIndex(StandardBank::Temporaries), 0, 0};
    if (v->reg == kNoIndex) return Key{v->bank, kNoIndex, m_t.ResolveAlias(value)};
    return Key{v->bank, v->reg, 0};
  }
  void Add(PortClass c, const Key& key) {
    for (std::uint32_t i = 0; i < m_used[c]; ++i)
      if (m_keys[c][i] == key) return;
    if (m_used[c] < kMaxKeys) m_keys[c][m_used[c]++] = key;
    ++m_counts[c];
  }
  // Equal literal vectors share one constant register.
  void AddLiteralGroup(const std::uint32_t* group, std::uint32_t width) {
    double vector[4];
    std::uint32_t n = std::min<std::uint32_t>(width, 4);
    for (std::uint32_t j = 0; j < n; ++j) vector[j] = m_t.Value(group[j]) ? m_t.Value(group[j])->rangeLow : 0.0;
    for (std::uint32_t i = 0; i < m_literalCount; ++i)
      if (m_literalWidth[i] == n && std::equal(vector, vector + n, m_literals[i])) return;
    if (m_literalCount < kMaxKeys) {
      std::copy(vector, vector + n, m_literals[m_literalCount]);
      m_literalWidth[m_literalCount++] = n;
    }
    ++m_counts[kConstant];
  }

  const PixelShader1Target& m_t;
  Key m_keys[kClassCount][kMaxKeys];
  std::uint32_t m_used[kClassCount] = {};
  std::uint32_t m_counts[kClassCount] = {};
  double m_literals[kMaxKeys][4];
  std::uint32_t m_literalWidth[kMaxKeys] = {};
  std::uint32_t m_literalCount = 0;
};

std::uint32_t GroupCount(const IrInstruction& inst) {
  const std::uint32_t n = inst.Width();
  return n && inst.argumentCount % n == 0 ? inst.argumentCount / n : 0;
}

}  // namespace

bool PixelShader1Target::IsTextureRegisterRead(std::uint32_t value) const {
  if (IsInputValue(value)) return Ps1KindOf(SemanticOf(value)) == kPs1Texcoord;
  if (!IsTemporaryValue(value)) return false;
  if (registersAssigned && !Is14()) {
    const IrValue* v = Value(value);
    return v->reg != kNoIndex && v->reg >= profileLimits.firstTextureTemporary;
  }
  const IrInstruction* producer = Instruction(ProducerOf(value));
  const std::uint32_t g = producer ? producer->Group() : 0;
  return g == 0x600 || g == 0x605 || g == 0x60A || g == 0x60F;
}

std::uint32_t PixelShader1Target::NextArgumentToCopy(const IrInstruction& instruction, std::uint32_t* group) {
  const std::uint32_t groups = GroupCount(instruction);
  if (groups < 2) return 0;
  static constexpr std::uint32_t kLimits[kClassCount] = {2, 3, 2, 1, 2};
  // Texture registers are a ps_1_1 limit: two per instruction.
  const bool textures = Minor() == 1;
  PortCounter counter(*this);
  const std::uint32_t n = instruction.Width();
  for (std::uint32_t k = 0; k < groups; ++k) {
    counter.AddGroup(instruction.arguments + k * n, n);
    for (int c = 0; c < kClassCount; ++c) {
      if (c == kTexture && !textures) continue;
      if (counter.Count(static_cast<PortClass>(c)) > kLimits[c]) {
        if (group) *group = k;
        return 1;
      }
    }
  }
  return 0;
}

std::uint32_t PixelShader1Target::ExceedsPairReadPorts(const IrInstruction& first, const IrInstruction& second) {
  // A pair reads at most three registers of a file. On ps_1_1-1_3 the
  // temporaries are r0-r1 and the texture registers together; on ps_1_4
  // they are the r file alone, texture results included.
  static constexpr std::uint32_t kLimits[kClassCount] = {2, 5, 3, 0, 3};
  static constexpr std::uint32_t kLimits14[kClassCount] = {2, 3, 3, 0, kNoIndex};
  const std::uint32_t* limits = Is14() ? kLimits14 : kLimits;
  PortCounter counter(*this);
  for (const IrInstruction* inst : {&first, &second}) {
    const std::uint32_t groups = GroupCount(*inst), n = inst->Width();
    for (std::uint32_t k = 0; k < groups; ++k) counter.AddGroup(inst->arguments + k * n, n);
  }
  // A sampler read ends the check: such an instruction is never paired.
  if (counter.Count(kSampler)) return 0;
  for (int c = 0; c < kClassCount; ++c)
    if (c != kSampler && counter.Count(static_cast<PortClass>(c)) > limits[c]) return 1;
  return 0;
}

}  // namespace gxl::shader
