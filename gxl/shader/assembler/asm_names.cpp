// Instruction names with their suffixes, register names with their numbers
// and source modifiers, write masks and swizzles.
#include <cstring>
#include <string_view>
#include <utility>

#include "gxl/shader/assembler/asm_reduce.h"
#include "gxl/shader/assembler/shader_assembler.h"

namespace gxl::shader {

namespace {

// Names are cut at each "_"; no part may be longer than this.
constexpr std::size_t kMaxPart = 15;

// The parts of a name in order; false when a part is too long.
template <typename Visit>
bool ForEachPart(std::string_view text, Visit visit) {
  for (std::size_t start = 0;;) {
    const std::size_t cut = text.find('_', start);
    const std::string_view part = text.substr(start, cut == std::string_view::npos ? text.npos : cut - start);
    if (part.size() > kMaxPart || !visit(part)) return false;
    if (cut == std::string_view::npos) return true;
    start = cut + 1;
  }
}

bool ProfileIn(std::int32_t p, std::int32_t first, std::int32_t last) { return p >= first && p <= last; }

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Decimal digits (at least one) as a number, saturated past `limit`.
bool ParseDigits(std::string_view digits, std::uint64_t limit, std::uint64_t* value) {
  if (digits.empty()) return false;
  std::uint64_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
    if (n > limit) n = limit + 1;
  }
  *value = n;
  return true;
}

// A usage suffix: one of the fourteen names in lower case and an optional index 0-15.
bool ParseUsageSuffix(std::string_view part, std::uint32_t* control) {
  std::size_t letters = 0;
  while (letters < part.size() && part[letters] >= 'a' && part[letters] <= 'z') ++letters;
  std::uint64_t index = 0;
  if (letters < part.size() && !ParseDigits(part.substr(letters), kMaxUsageIndex, &index)) return false;
  if (index > kMaxUsageIndex) return false;
  for (DWORD usage = 0; usage < kUsageCount; ++usage)
    if (part.substr(0, letters) == UsageSuffix(usage)) {
      *control = static_cast<std::uint32_t>(index) << 16 | usage;
      return true;
    }
  return false;
}

struct NamedBits {
  const char* name;
  std::uint32_t bits;
};

constexpr NamedBits kShifts[] = {{"x2", 0x01000000}, {"x4", 0x02000000}, {"x8", 0x03000000},
                                 {"d2", 0x0F000000}, {"d4", 0x0E000000}, {"d8", 0x0D000000}};
constexpr NamedBits kSamplerTypes[] = {{"2d", 0x10000000}, {"cube", 0x18000000}, {"volume", 0x20000000}};
constexpr NamedBits kComparisons[] = {{"gt", 1}, {"eq", 2}, {"ge", 3}, {"lt", 4}, {"ne", 5}, {"le", 6}};
constexpr NamedBits kPs1SourceModifiers[] = {{"bias", kModBias}, {"bx2", kModSign}, {"x2", kModX2}, {"dz", kModDz},
                                             {"db", kModDz},     {"dw", kModDw},    {"da", kModDw}};
constexpr NamedBits kAbsModifier = {"abs", kModAbs};

template <std::size_t N>
const NamedBits* Find(const NamedBits (&table)[N], std::string_view name) {
  for (const NamedBits& entry : table)
    if (name == entry.name) return &entry;
  return nullptr;
}

// Suffix permissions of an instruction name.
enum : unsigned {
  kMaySat = 1,
  kMayCentroid = 2,
  kMayShift = 4,
  kMaySamplerType = 8,
  kMayPp = 16,
  kMayUsage = 32,
  kMustUsage = 64,
  kMayCompare = 128,
};

// The table names as views, measured once: names are looked up for every
// identifier of a program.
template <typename Row, std::size_t N>
struct NameViews {
  explicit NameViews(const Row (&rows)[N]) {
    for (std::size_t i = 0; i < N; ++i) names[i] = rows[i].name;
  }
  // The first row with the name, or null.
  const Row* Find(const Row (&rows)[N], std::string_view name) const {
    for (std::size_t i = 0; i < N; ++i)
      if (names[i].size() == name.size() && names[i] == name) return &rows[i];
    return nullptr;
  }
  std::string_view names[N];
};

constexpr std::uint32_t kOpIf = 40, kOpIfCompare = 41, kOpBreak = 44, kOpBreakCompare = 45, kOpDcl = 31, kOpSetp = 94;

}  // namespace

AsmClass ShaderAssembler::ClassifyName(const char* text) {
  const std::string_view name(text);
  if (!ForEachPart(name, [](std::string_view) { return true; })) return AsmClass::None;
  static const NameViews instructions(AssemblerInstructionTable);
  const AsmInstructionRow* row = instructions.Find(AssemblerInstructionTable, name.substr(0, name.find('_')));
  if (!row) return AsmClass::None;
  const std::int32_t p = m_profileIndex;
  AsmClass c = row->classes[p];
  if (c == AsmClass::None) {
    m_pendingParseError = msg::kInstructionNotInVersion.code;
    return AsmClass::None;
  }
  m_pendingParseError = msg::kInvalidInstructionModifiers.code;

  std::uint32_t opcode = row->opcode;
  const bool operands = OperandCount(c) > 0;
  const bool dcl = opcode == kOpDcl;
  unsigned may = 0;
  if (ProfileIn(p, 6, 9) && operands) may |= kMayShift;
  if (ProfileIn(p, 4, 14) && operands && !dcl) may |= kMaySat;
  if (ProfileIn(p, 10, 14) && operands) may |= kMayPp;
  if (ProfileIn(p, 10, 14) && dcl) may |= kMayCentroid;
  if ((ProfileIn(p, 4, 5) || ProfileIn(p, 10, 14)) && dcl) may |= kMaySamplerType;
  if (ProfileIn(p, 13, 14) && dcl) may |= kMayUsage;
  if (ProfileIn(p, 0, 5) && dcl) may |= kMustUsage;
  if (opcode == kOpIf || opcode == kOpBreak || opcode == kOpSetp) may |= kMayCompare;

  std::uint32_t modifiers = 0, control = 0;
  bool compared = false, isFirst = true;
  // Each part takes the first suffix kind that fits it and uses that kind up.
  const bool suffixesFit = ForEachPart(name, [&](std::string_view part) {
    if (std::exchange(isFirst, false)) return true;
    if ((may & kMaySat) && part == "sat") {
      modifiers |= kResultSat;
      may &= ~(kMaySat | kMayShift);  // a shift goes before "sat"
      return true;
    }
    if ((may & kMayCentroid) && part == "centroid") {
      modifiers |= kResultCentroid;
      may &= ~kMayCentroid;
      return true;
    }
    if (may & kMayShift) {
      const NamedBits* shift = Find(kShifts, part);
      may &= ~kMayShift;
      if (shift) modifiers |= shift->bits;
      return shift != nullptr;
    }
    if (may & kMaySamplerType) {
      may &= ~kMaySamplerType;  // tried once, whether it matches or not
      if (const NamedBits* type = Find(kSamplerTypes, part)) {
        control |= type->bits;
        may &= ~(kMayUsage | kMustUsage);
        return true;
      }
    }
    if ((may & kMayPp) && part == "pp") {
      modifiers |= kResultPp;
      may &= ~kMayPp;
      return true;
    }
    std::uint32_t usage = 0;
    if ((may & kMayUsage) && ParseUsageSuffix(part, &usage)) {
      control |= usage;
      may &= ~(kMayUsage | kMaySamplerType);
      return true;
    }
    if (may & kMustUsage) {
      if (!ParseUsageSuffix(part, &usage)) return false;
      control = usage;
      may &= ~(kMustUsage | kMaySamplerType);
      return true;
    }
    if (may & kMayCompare) {
      const NamedBits* comparison = Find(kComparisons, part);
      if (!comparison) return false;
      control = comparison->bits;
      may &= ~kMayCompare;
      compared = true;
      return true;
    }
    return false;
  });
  if (!suffixesFit) return AsmClass::None;
  if (compared && opcode != kOpSetp) {
    opcode = opcode == kOpIf ? kOpIfCompare : kOpBreakCompare;
    c = AssemblerComparisonRow.classes[p];
    if (c == AsmClass::None) return AsmClass::None;
  }
  if ((opcode == kOpSetp && !compared) || (may & kMustUsage)) return AsmClass::None;

  m_pendingOpcode = opcode;
  m_pendingResultModifiers = modifiers;
  m_pendingControl = control;
  m_pendingParseError = 0;
  return c;
}

AsmOperandNode* ShaderAssembler::ResolveRegister(const TokenNode& nameNode, AsmOperandNode* relative) {
  const char* text = nameNode.token.value.text;
  const std::string_view name(text);
  const std::int32_t p = m_profileIndex;
  const AsmOperandNode* address = relative ? static_cast<const AsmOperandNode*>(relative->relative) : nullptr;
  const std::uint32_t offset = relative ? relative->registerNumber : 0;

  const AsmRegisterRow* row = nullptr;
  std::uint32_t type = 0, number = 0, modifier = kModNone;
  bool valid = ForEachPart(name, [&](std::string_view part) {
    if (row) {  // a source modifier, at most one
      const NamedBits* found = nullptr;
      if (ProfileIn(p, 6, 9)) found = Find(kPs1SourceModifiers, part);
      if ((ProfileIn(p, 4, 5) || ProfileIn(p, 13, 14)) && part == "abs") found = &kAbsModifier;
      if (!found || modifier != kModNone) return false;
      modifier = found->bits;
      return true;
    }
    std::size_t letters = 0;
    while (letters < part.size() && IsLetter(part[letters])) ++letters;
    static const NameViews registers(AssemblerRegisterTable);
    row = registers.Find(AssemblerRegisterTable, part.substr(0, letters));
    if (!row || row->counts[p] == kAbsentRegister) return false;
    const std::int32_t count = row->counts[p] & kCountMask;
    const bool relativeAllowed = (row->counts[p] & kRelativeCount) != 0;
    std::uint64_t n = 0;
    const bool numbered = letters < part.size();
    if (numbered && !ParseDigits(part.substr(letters), UINT32_MAX, &n)) return false;
    if (relative) {
      if (!relativeAllowed) return false;
      n += offset;  // a missing number is the offset alone
    } else if (!numbered) {
      if (count != 0) return false;
    }
    if ((numbered || relative) && n >= static_cast<std::uint64_t>(count)) return false;
    number = static_cast<std::uint32_t>(n);
    switch (row->type) {
      case 2:  // the float constants lie in four banks of 2048
        type = number < 2048 ? 2 : 10 + (number >> 11);
        number &= 0x7FF;
        break;
      case kFixedOPos: type = 4, number = 0; break;
      case kFixedOFog: type = 4, number = 1; break;
      case kFixedOPts: type = 4, number = 2; break;
      case kFixedVPos: type = 17, number = 0; break;
      case kFixedVFace: type = 17, number = 1; break;
      default: type = static_cast<std::uint32_t>(row->type); break;
    }
    return true;
  });

  if (valid && Fragment()) {
    static constexpr std::uint32_t kVs3Types = 1u << 3 | 1u << 15 | 1u << 18 | 1u << 19;
    static constexpr std::uint32_t kTypes = kVs3Types | 1u << 4 | 1u << 5 | 1u << 6 | 1u << 8 | 1u << 9;
    const bool vs3 = p == 4 || p == 5;
    if (!(((vs3 ? kVs3Types : kTypes) >> type) & 1)) {
      if (vs3) {
        GXL_ASM_REPORT(this, nameNode.token, msg::kVs3FragmentRegisterType);
      } else {
        GXL_ASM_REPORT(this, nameNode.token, msg::kFragmentRegisterType);
      }
      return new AsmOperandNode(kUnresolvedRegister, kModNone, 0, 0, relative ? relative->relative : nullptr);
    }
  }
  if (!valid) {
    modifier = kModNone;
    if (Fragment() && SUCCEEDED(ResolveFragmentName(nameNode, relative, &type, &number))) {
      row = nullptr;
    } else {
      if (Fragment()) {
        // Reported by the fragment names.
      } else if (relative && !address) {
        GXL_ASM_REPORT(this, nameNode.token, msg::kInvalidRegisterAtOffset, text, offset);
      } else if (relative && address->registerType != kUnresolvedRegister) {
        GXL_ASM_REPORT(this, nameNode.token, msg::kInvalidRegisterRelative, text);
      } else if (!relative) {
        GXL_ASM_REPORT(this, nameNode.token, msg::kInvalidRegister, text);
      }
      m_errorFlag = true;
      type = kUnresolvedRegister;
      number = 0;
      row = nullptr;
    }
  }
  return new AsmOperandNode(type, modifier, number, row && row->scalar ? 1 : 0,
                            relative ? relative->relative : nullptr);
}

// Components x/r, y/g, z/b, w/a in rising order.
std::uint32_t ShaderAssembler::ParseWriteMask(const TokenNode& text) {
  static constexpr std::string_view kComponents[4] = {"xr", "yg", "zb", "wa"};
  std::uint32_t mask = 0;
  int last = -1;
  for (const char* c = text.token.value.text; *c; ++c) {
    int component = 0;
    while (component < 4 && kComponents[component].find(*c) == std::string_view::npos) ++component;
    if (component == 4 || component <= last) {
      GXL_ASM_REPORT(this, text.token, msg::kInvalidMask, text.token.value.text);
      return 0;
    }
    mask |= 1u << (16 + component);
    last = component;
  }
  return mask ? mask : kFullMask;
}

// Up to four components; a shorter swizzle repeats its last one.
std::uint32_t ShaderAssembler::ParseSwizzle(const TokenNode& text) {
  static constexpr std::string_view kComponents = "xyzwrgba";
  const char* s = text.token.value.text;
  const std::size_t length = std::strlen(s);
  if (length == 0) return kIdentitySwizzle;
  std::uint32_t swizzle = 0;
  std::uint32_t component = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    if (i < length) {
      const std::size_t at = kComponents.find(s[i]);
      if (at == std::string_view::npos || length > 4) {
        GXL_ASM_REPORT(this, text.token, msg::kInvalidSwizzle, s);
        return 0;
      }
      component = static_cast<std::uint32_t>(at & 3);
    }
    swizzle |= component << (16 + 2 * i);
  }
  return swizzle;
}

}  // namespace gxl::shader
