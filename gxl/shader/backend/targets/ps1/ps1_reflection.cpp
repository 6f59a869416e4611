// Reflections on ps_1_1-1_3: texm3x3vspec and texm3x3spec sample a cube map
// at R = 2 (N.E) N - E, the eye E taken from the w of the texture
// coordinates of the three matrix rows (vspec) or from a constant (spec). A
// texCUBE whose coordinate computes R becomes a reflection marker, which the
// dependent-read matching later turns into the three matrix rows.
//
// The coordinate trees are the shapes the front end and the optimiser leave
// for reflect() and the usual hand-written forms: the doubling is an add of
// the dot product to itself, a multiply by 2.0, or a times-two result scale
// on the dot or on the product. Each row captures the normal and the eye of
// the dot (c0, c1), the normal of the product (c2), the operand the final add
// adds (c3) and the literal factor (c4); the checks below make them agree.
#include <iterator>
#include <utility>

#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/targets/modifier_folds.h"
#include "gxl/shader/backend/targets/ps1/ps1_gathered_rows.h"
#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kAdd = 0x20400000, kMul = 0x20500000, kDot = 0x50000000;
constexpr std::uint32_t kNeg = mod::kNegate;
constexpr std::uint32_t kX2 = 0x400;  // the times-two result scale, read with the result it scales
constexpr std::uint32_t kNormal = 16, kEye = 17, kProductNormal = 18, kAdded = 19, kFactor = 20;

// Which matched instruction doubles its result through the times-two scale.
enum class Scaled { kNone, kDot, kProduct };

struct ReflectionPattern {
  ExpressionPattern records[6];
  bool eyeNegated;  // R = x - 2 (n.x) n, the eye being -x; else R = 2 (n.x) n - x
  double factor;    // the literal c4 must equal, where the row captures one
  Scaled scaled = Scaled::kNone;
};

constexpr ExpressionPattern Root() { return {0, kAdd, 2, {1, kAdded, 0}, 0, 1}; }
constexpr ExpressionPattern Dot(std::uint32_t node, std::uint32_t binding) {
  return {node, kDot, 2, {kNormal, kEye, 0}, binding, 0};
}
constexpr ExpressionPattern End(std::uint32_t node) { return {node, 0, 0, {0, 0, 0}, 0, 0}; }

const ReflectionPattern kFirstTable[] = {
    // reflect(x, n) as lowered: x + (n * -(d + d)), d = dot(x, n)
    {{Root(), {1, kMul, 2, {2, kProductNormal, 0}, 0, 1}, {2, kAdd, 2, {3, 3, 0}, kNeg, 0}, Dot(3, 0), End(4)},
     true,
     0},
    // reflect(x, n) once the doubling is a result scale on the dot
    {{Root(), {1, kMul, 2, {2, kProductNormal, 0}, 0, 1}, Dot(2, kNeg), End(3)}, true, 0, Scaled::kDot},
    // x - 2 * dot(n, x) * n
    {{Root(), {1, kMul, 2, {2, kProductNormal, 0}, kNeg, 1}, {2, kMul, 2, {3, kFactor, 0}, 0, 1}, Dot(3, 0), End(4)},
     true,
     2},
    // x - dot(n, x) * n * 2
    {{Root(), {1, kMul, 2, {2, kFactor, 0}, kNeg, 1}, {2, kMul, 2, {3, kProductNormal, 0}, 0, 1}, Dot(3, 0), End(4)},
     true,
     2},
    // x - 2 * dot(n, x) * n, the doubling scaling the dot
    {{Root(), {1, kMul, 2, {2, kProductNormal, 0}, kNeg, 1}, Dot(2, kX2), End(3)}, true, 0, Scaled::kDot},
    // 2 * dot(n, x) * n - x
    {{Root(), {1, kMul, 2, {2, kProductNormal, 0}, 0, 1}, {2, kMul, 2, {3, kFactor, 0}, 0, 1}, Dot(3, 0), End(4)},
     false,
     2},
    // dot(n, x) * n * 2 - x
    {{Root(), {1, kMul, 2, {2, kFactor, 0}, 0, 1}, {2, kMul, 2, {3, kProductNormal, 0}, 0, 1}, Dot(3, 0), End(4)},
     false,
     2},
    // 2 * dot(n, x) * n - x, the doubling scaling the dot
    {{Root(), {1, kMul, 2, {2, kProductNormal, 0}, 0, 1}, Dot(2, kX2), End(3)}, false, 0, Scaled::kDot},
    // dot(n, x) * n * 2 - x, the doubling scaling the product
    {{Root(), {1, kMul, 2, {2, kProductNormal, 0}, kX2, 1}, Dot(2, 0), End(3)}, false, 0, Scaled::kProduct},
};

const ReflectionPattern kSecondTable[] = {
    // x - dot(n, x) * n * 2, the doubling scaling the product
    {{Root(), {1, kMul, 2, {2, kProductNormal, 0}, kNeg, 1}, Dot(2, 0), End(3)}, true, 0, Scaled::kProduct},
    // x + -2 * dot(n, x) * n
    {{Root(), {1, kMul, 2, {2, kProductNormal, 0}, 0, 1}, {2, kMul, 2, {3, kFactor, 0}, 0, 1}, Dot(3, 0), End(4)},
     true,
     -2},
    // 2 * n * dot(n, x) - x
    {{Root(), {1, kMul, 2, {2, 3, 0}, 0, 1}, {2, kMul, 2, {kProductNormal, kFactor, 0}, 0, 1}, Dot(3, 0), End(4)},
     false,
     2},
};

struct Reflection {
  std::uint32_t normal[3];
  std::uint32_t eye[3];  // the eye the marker reads: "spec" inputs or constants
};

class ReflectionRecogniser {
 public:
  ReflectionRecogniser(PixelShader1Target& t, std::uint32_t index) : m_t(t), m_index(index) {}
  HRESULT Run();

 private:
  // Only the row's doubling instruction scales its results, by two; nothing
  // in the tree saturates.
  bool ScalesAsDoubling(const ReflectionPattern& pattern, const MatchedList& matched) const;
  // The captured eye and normal agree across the tree and with the pattern's sign.
  bool Consistent(const ReflectionPattern& pattern, const Captures& c, Reflection* out) const;
  // `value` reads -x: x with the negate bit toggled, or the result of a move
  // of x into negated results, or of x * -1.0.
  bool ReadsNegation(std::uint32_t value, std::uint32_t x) const;
  // The eye in the w of TEXCOORD1-3, as the semantic rules put it in "spec".
  bool EyeInTexcoords(bool negated, const std::uint32_t* x, std::uint32_t* eye) const;
  // The eye in one constant register.
  bool EyeInConstant(bool negated, const std::uint32_t* x, std::uint32_t* eye) const;
  // Empties the instruction of each value's producer once only `readers` read its results.
  void EmptyProducersReadOnlyBy(const std::uint32_t* values, const MatchedList& readers);

  bool Literal(std::uint32_t value, double x) const { return sel::IsLiteral(m_t, value, x); }
  std::uint32_t Modifier(std::uint32_t value) const { return m_t.Value(value)->binding & mod::kSourceBits; }

  PixelShader1Target& m_t;
  std::uint32_t m_index;
};

bool ReflectionRecogniser::ReadsNegation(std::uint32_t value, std::uint32_t x) const {
  if (sel::IsNegation(m_t, value, x)) return true;
  const IrInstruction* producer = m_t.Instruction(m_t.ProducerOf(value));
  if (!producer || producer->word == 0 || producer->resultCount != producer->Width()) return false;
  std::uint32_t column = 0;
  while (column < producer->resultCount && producer->results[column] != m_t.ResolveAlias(value)) ++column;
  if (column == producer->resultCount) return false;
  const std::uint32_t n = producer->Width();
  if (producer->IsMove()) return Modifier(value) == kNeg && sel::SameOperand(m_t, producer->arguments[column], x);
  if (producer->Group() != kOpMultiply || producer->argumentCount != 2 * n || Modifier(value) != 0) return false;
  const std::uint32_t a = producer->arguments[column], b = producer->arguments[n + column];
  return (sel::SameOperand(m_t, a, x) && Literal(b, -1.0)) || (sel::SameOperand(m_t, b, x) && Literal(a, -1.0));
}

bool ReflectionRecogniser::Consistent(const ReflectionPattern& pattern, const Captures& c, Reflection* out) const {
  // Which side of the dot is the normal: the one the product reads too.
  std::uint32_t normalSlot = kNormal - kCaptureBase, eyeSlot = kEye - kCaptureBase;
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool same = true;
    for (std::uint32_t k = 0; k < 3 && same; ++k) {
      const std::uint32_t a = c.At(normalSlot, k), b = c.At(kProductNormal - kCaptureBase, k);
      same = a != kNoIndex && b != kNoIndex && sel::SameOperand(m_t, a, b);
    }
    if (same) break;
    if (attempt == 1) return false;
    std::swap(normalSlot, eyeSlot);
  }
  for (std::uint32_t k = 0; k < 3; ++k) {
    const std::uint32_t n = c.At(normalSlot, k), x = c.At(eyeSlot, k), added = c.At(kAdded - kCaptureBase, k);
    const std::uint32_t factor = c.At(kFactor - kCaptureBase, k);
    if (x == kNoIndex || added == kNoIndex) return false;
    // The rows of the matrix compute the normal; it is read as they leave it.
    if (!m_t.IsTemporaryValue(m_t.ResolveAlias(n)) || m_t.Value(n)->binding != 0) return false;
    if (pattern.factor != 0 && (factor == kNoIndex || !Literal(factor, pattern.factor))) return false;
    if (pattern.eyeNegated ? !sel::SameOperand(m_t, added, x) : !ReadsNegation(added, x)) return false;
    out->normal[k] = n;
    out->eye[k] = x;
  }
  return true;
}

bool ReflectionRecogniser::ScalesAsDoubling(const ReflectionPattern& pattern, const MatchedList& matched) const {
  // Children come before parents: the root is last, the product it adds before it.
  for (std::uint32_t i = 0; i + 1 < matched.count; ++i) {
    const IrInstruction* inst = m_t.Instruction(matched.position[i]);
    const bool doubles = (pattern.scaled == Scaled::kDot && inst->IsDot()) ||
                         (pattern.scaled == Scaled::kProduct && i + 2 == matched.count);
    for (std::uint32_t r = 0; r < inst->resultCount; ++r)
      if ((m_t.Value(inst->results[r])->binding & (mod::kSaturate | mod::kResultShiftBits)) != (doubles ? kX2 : 0))
        return false;
  }
  return true;
}

bool ReflectionRecogniser::EyeInTexcoords(bool negated, const std::uint32_t* x, std::uint32_t* eye) const {
  for (std::uint32_t k = 0; k < 3; ++k) {
    const std::uint32_t root = m_t.ResolveAlias(x[k]);
    const IrValue* v = m_t.Value(root);
    if (m_t.SemanticOf(root) != Ps1SemanticWord(kPs1Special, k + 1) || v->component != k ||
        v->definingPosition != kNoIndex || Modifier(x[k]) != (negated ? kNeg : 0))
      return false;
    eye[k] = root;
  }
  return true;
}

bool ReflectionRecogniser::EyeInConstant(bool negated, const std::uint32_t* x, std::uint32_t* eye) const {
  for (std::uint32_t k = 0; k < 3; ++k) {
    std::uint32_t constant = m_t.ResolveAlias(x[k]);
    if (negated) {
      // -k read with a modifier, a move of k into negated results, or k * -1.0.
      const IrInstruction* producer = m_t.Instruction(m_t.ProducerOf(x[k]));
      if (!producer) {
        if (Modifier(x[k]) != kNeg) return false;
      } else if (producer->word == 0 || producer->resultCount != 3 || producer->results[k] != constant) {
        return false;
      } else if (producer->word == IrWord(kOpMove, 3) && Modifier(x[k]) == kNeg) {
        constant = producer->arguments[k];
      } else if (producer->word == IrWord(kOpMultiply, 3) && Modifier(x[k]) == 0 &&
                 Literal(producer->arguments[3 + k], -1.0)) {
        constant = producer->arguments[k];
      } else {
        return false;
      }
      if (constant != m_t.ResolveAlias(constant) || Modifier(constant) != 0) return false;
    } else if (Modifier(x[k]) != 0) {
      return false;
    }
    const IrValue* v = m_t.Value(constant);
    const IrValue* first = k ? m_t.Value(eye[0]) : v;
    const std::uint32_t type = m_t.BankOf(*v)->type;
    if ((type & (kBankUniform | kBankLiteral | kBankSampler)) != kBankUniform || v->component != k ||
        v->relativeIndex != kNoIndex || v->bank != first->bank || v->reg != first->reg)
      return false;
    eye[k] = constant;
  }
  return true;
}

void ReflectionRecogniser::EmptyProducersReadOnlyBy(const std::uint32_t* values, const MatchedList& readers) {
  for (std::uint32_t k = 0; k < 3; ++k) {
    const std::uint32_t position = m_t.ProducerOf(values[k]);
    IrInstruction* producer = m_t.Instruction(position);
    if (!producer || producer->word == 0 || readers.Contains(position)) continue;
    bool onlyThere = true;
    for (std::uint32_t r = 0; r < producer->resultCount && onlyThere; ++r) {
      const IrValue* v = m_t.Value(m_t.ResolveAlias(producer->results[r]));
      onlyThere = v && CountReadsAt(m_t, producer->results[r], readers.position, readers.count) == v->useCount;
    }
    if (!onlyThere) continue;
    producer->word = 0;
    producer->argumentCount = producer->resultCount = 0;
  }
}

HRESULT ReflectionRecogniser::Run() {
  const IrInstruction* cube = m_t.Instruction(m_index);
  if (!cube || cube->word != IrWord(0x60F, 3) || cube->argumentCount != 6 || cube->resultCount == 0) return 1;
  // The coordinate is the whole result of one add that only the texCUBE reads.
  const std::uint32_t root = m_t.ProducerOf(cube->arguments[3]);
  const IrInstruction* add = m_t.Instruction(root);
  if (!add || add->word != IrWord(kOpAdd, 3) || add->resultCount != 3) return 1;
  for (std::uint32_t k = 0; k < 3; ++k) {
    const std::uint32_t coordinate = cube->arguments[3 + k];
    const IrValue* v = m_t.Value(add->results[k]);
    if (coordinate != add->results[k] || m_t.Value(coordinate)->binding != 0 ||
        CountReadsAt(m_t, coordinate, &m_index, 1) != v->useCount)
      return 1;
  }
  struct Table {
    const ReflectionPattern* rows;
    std::size_t count;
  };
  const Table tables[] = {{kFirstTable, std::size(kFirstTable)}, {kSecondTable, std::size(kSecondTable)}};
  // A normal made of matrix rows arrives read one row at a time.
  GatheredRows gathered(m_t);
  if (const HRESULT hr = gathered.Gather(root); FAILED(hr)) return hr;
  for (const bool inConstant : {false, true}) {
    for (const Table& table : tables) {
      for (std::size_t row = 0; row < table.count; ++row) {
        const ReflectionPattern& pattern = table.rows[row];
        MatchedList matched;
        Captures captures;
        captures.Clear();
        Reflection r;
        if (MatchExpressionPattern(m_t, root, pattern.records, matched, captures, ComponentMap::Identity(), 4, false) !=
                S_OK ||
            !gathered.Within(matched) || !ScalesAsDoubling(pattern, matched) || !Consistent(pattern, captures, &r))
          continue;
        std::uint32_t eye[3];
        if (inConstant ? !EyeInConstant(pattern.eyeNegated, r.eye, eye)
                       : !EyeInTexcoords(pattern.eyeNegated, r.eye, eye))
          continue;
        std::uint32_t added[3];
        for (std::uint32_t k = 0; k < 3; ++k) added[k] = captures.At(kAdded - kCaptureBase, k);
        std::uint32_t arguments[9];
        for (std::uint32_t k = 0; k < 3; ++k) {
          arguments[k] = cube->arguments[k];
          arguments[3 + k] = r.normal[k];
          arguments[6 + k] = eye[k];
        }
        // What computed -x for the tree goes with it, then the tree itself.
        EmptyProducersReadOnlyBy(added, matched);
        EmptyProducersReadOnlyBy(r.eye, matched);
        for (std::uint32_t i = 0; i < matched.count; ++i) {
          IrInstruction* inst = m_t.Instruction(matched.position[i]);
          inst->word = 0;
          inst->argumentCount = inst->resultCount = 0;
        }
        m_t.SetCurrentInstruction(m_index);
        const std::uint32_t group = inConstant ? kOpReflectEyeInConstant : kOpReflectEyeInTexcoord;
        return sel::ReplaceCurrentWith(m_t, IrWord(group, 3), arguments, 9);
      }
    }
  }
  const HRESULT hr = gathered.Undo();
  return FAILED(hr) ? hr : 1;
}

}  // namespace

HRESULT PixelShader1Target::RecogniseReflection(std::uint32_t index) {
  return ReflectionRecogniser(*this, index).Run();
}

}  // namespace gxl::shader
