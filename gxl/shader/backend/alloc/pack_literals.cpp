// Literal values given places in the constant registers of "l": the
// literals one operand group reads share one register, equal literals share
// one component, and literal tables that are already bound keep their
// registers, shifted apart, ahead of the rest.
#include <cmath>

#include "gxl/shader/backend/alloc/alloc_util.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kW = 8;  // the mask bit of component w

bool JoinsLiterals(std::uint32_t type) {
  return (type & kBankLiteral) && (type & kBankRelative) && !(type & kBankKeepValues);
}
bool BoundLiterals(std::uint32_t type) { return (type & kBankLiteral) && (type & (kBankRelative | kBankKeepValues)); }

struct Request {
  double value;
  std::uint32_t source;  // a value holding it
  std::uint32_t mask;    // group positions that read it
};

std::int32_t CompareRegisterComponent(std::uint32_t a, std::uint32_t b, const void* context) {
  const ShaderProgram& p = *static_cast<const ShaderProgram*>(context);
  const IrValue &x = *p.values[a], &y = *p.values[b];
  if (x.reg != y.reg) return x.reg < y.reg ? -1 : 1;
  if (x.component != y.component) return x.component < y.component ? -1 : 1;
  return a < b ? -1 : a > b ? 1 : 0;
}

class LiteralPacker {
 public:
  explicit LiteralPacker(ShaderProgram& p) : m_p(p), m_literals(alloc::LiteralBank(p)) {}
  HRESULT Run();

 private:
  std::uint32_t& Entry(std::uint32_t row, std::uint32_t component) { return m_table[std::size_t{row} * 4 + component]; }
  std::uint32_t Rows() const { return static_cast<std::uint32_t>(m_table.Size() / 4); }
  bool AddRow() {
    const std::uint32_t empty[4] = {kNoIndex, kNoIndex, kNoIndex, kNoIndex};
    return m_table.Append(empty, 4);
  }
  bool Holds(std::uint32_t row, std::uint32_t component, double x) {
    const IrValue* v = m_p.values[Entry(row, component)];
    return v && v->rangeLow == x;
  }
  HRESULT MergeBoundLiterals(bool* changed);
  HRESULT PackGroup(std::uint32_t* group, std::uint32_t w);
  HRESULT FindLiteralRow(Request* requests, std::uint32_t n, std::uint32_t* row);
  std::uint32_t PlaceLiteral(std::uint32_t row, std::uint32_t component, std::uint32_t value);
  void RemapGroupLiterals(std::uint32_t row, std::uint32_t* group, std::uint32_t w, std::uint32_t distinct);
  bool IsGroupLiteral(std::uint32_t value) const { return alloc::IsFreeLiteral(m_p, value); }

  ShaderProgram& m_p;
  std::uint32_t m_literals;
  PodArray<std::uint32_t> m_table;           // four value indexes per row of "l"
  std::unique_ptr<std::uint32_t[]> m_shift;  // per bank that joins "l": its first row
};

HRESULT LiteralPacker::MergeBoundLiterals(bool* changed) {
  PodArray<std::uint32_t> list;
  const std::uint32_t undefined = m_p.StandardBankIndex(StandardBank::Undefined);
  for (std::uint32_t b = 0; b < m_p.banks.Count(); ++b) {
    const RegisterBank* bank = m_p.banks[b];
    if (!bank || b == m_literals || !BoundLiterals(bank->type)) continue;
    list.Clear();
    for (std::uint32_t i = 0; i < m_p.values.Count(); ++i) {
      const IrValue* v = m_p.values[i];
      if (v && v->bank == b && v->relativeIndex == kNoIndex && v->reg != kNoIndex && v->component < 4 &&
          !list.Append(i))
        return E_OUTOFMEMORY;
    }
    SortIndicesByComparator(CompareRegisterComponent, list.Data(), static_cast<std::uint32_t>(list.Size()), &m_p);
    for (std::size_t i = 1; i < list.Size(); ++i) {
      const IrValue &earlier = *m_p.values[list[i - 1]], &later = *m_p.values[list[i]];
      if (earlier.reg != later.reg || earlier.component != later.component || earlier.rangeLow != later.rangeLow)
        continue;
      opt::Redirect(m_p, list[i], list[i - 1]);
      m_p.values[list[i]]->bank = undefined;
      *changed = true;
    }
  }
  return S_OK;
}

std::uint32_t LiteralPacker::PlaceLiteral(std::uint32_t row, std::uint32_t component, std::uint32_t value) {
  std::uint32_t& entry = Entry(row, component);
  const IrValue& v = *m_p.values[value];
  if (Holds(row, component, v.rangeLow)) return entry;
  if (v.reg == kNoIndex) {
    m_p.values[value]->reg = row;
    m_p.values[value]->component = component;
    return entry = value;
  }
  // Already placed elsewhere: a second value of the same literal stands here.
  const std::uint32_t copy = m_p.AddValue(m_literals, row, component, v.rangeLow);
  if (copy != kNoIndex) entry = copy;
  return copy;
}

HRESULT LiteralPacker::FindLiteralRow(Request* requests, std::uint32_t n, std::uint32_t* row) {
  const std::uint32_t capabilities = m_p.profileLimits.capabilities;
  if (capabilities & cap::kFixedOperands) {
    if (n == 1) requests[0].mask = 0;
    std::uint32_t free = 0, required = 0, slots = 0;
    for (std::uint32_t i = 0; i < n; ++i) free += requests[i].mask == 0;
    for (std::uint32_t i = 0; i < n; ++i) {
      if ((capabilities & cap::kOneFreeLiteral) && requests[i].mask == 0) {
        if (free > 1) return E_FAIL;
        requests[i].mask = kW;
      }
    }
    for (std::uint32_t i = 0; i < n; ++i) {
      if (requests[i].mask & required) return E_FAIL;
      required |= requests[i].mask;
      slots += requests[i].mask ? 0 : 1;
    }
    for (std::uint32_t bits = required; bits; bits &= bits - 1) ++slots;
    if (slots > 4) return E_FAIL;
  } else {
    for (std::uint32_t i = 0; i < n; ++i) requests[i].mask = 0;
  }

  std::uint32_t chosen[4][4];  // per request, the component of each required or free place
  for (std::uint32_t r = 0;; ++r) {
    if (r == Rows() && !AddRow()) return E_OUTOFMEMORY;
    bool reserved[4] = {false, false, false, false};
    bool fits = true;
    for (std::uint32_t i = 0; i < n && fits; ++i) {
      for (std::uint32_t c = 0; c < 4 && fits; ++c) {
        if (!(requests[i].mask & (1u << c))) continue;
        fits = (Entry(r, c) == kNoIndex && !reserved[c]) || Holds(r, c, requests[i].value);
        reserved[c] = true;
      }
    }
    for (std::uint32_t i = 0; i < n && fits; ++i) {
      if (requests[i].mask) continue;
      std::uint32_t place = 4;
      for (std::uint32_t c = 0; c < 4 && place == 4; ++c)
        if (Holds(r, c, requests[i].value)) place = c;
      for (std::uint32_t c = 0; c < 4 && place == 4; ++c)
        if (Entry(r, c) == kNoIndex && !reserved[c]) place = c;
      fits = place < 4;
      if (fits) {
        reserved[place] = true;
        chosen[i][0] = place;
      }
    }
    if (!fits) continue;
    for (std::uint32_t i = 0; i < n; ++i) {
      if (!requests[i].mask) {
        if (PlaceLiteral(r, chosen[i][0], requests[i].source) == kNoIndex) return E_OUTOFMEMORY;
        continue;
      }
      for (std::uint32_t c = 0; c < 4; ++c)
        if ((requests[i].mask & (1u << c)) && PlaceLiteral(r, c, requests[i].source) == kNoIndex) return E_OUTOFMEMORY;
    }
    *row = r;
    return S_OK;
  }
}

void LiteralPacker::RemapGroupLiterals(std::uint32_t row, std::uint32_t* group, std::uint32_t w,
                                       std::uint32_t distinct) {
  static constexpr std::uint32_t kWFirst[4] = {3, 0, 1, 2};
  for (std::uint32_t k = 0; k < w; ++k) {
    if (!IsGroupLiteral(group[k])) continue;
    const double x = m_p.values[group[k]]->rangeLow;
    // All four components, from the position's own one round (the literal
    // may stand below it); a lone literal looks at w first.
    for (std::uint32_t i = 0; i < 4; ++i) {
      const std::uint32_t c = distinct > 1 ? (k + i) % 4 : kWFirst[i];
      if (Holds(row, c, x)) {
        group[k] = Entry(row, c);
        break;
      }
    }
  }
}

HRESULT LiteralPacker::PackGroup(std::uint32_t* group, std::uint32_t w) {
  Request requests[4];
  std::uint32_t n = 0;
  bool single = w <= 4;
  for (std::uint32_t k = 0; k < w; ++k) {
    if (!IsGroupLiteral(group[k])) continue;
    const double x = m_p.values[group[k]]->rangeLow;
    std::uint32_t i = 0;
    while (i < n && !(requests[i].value == x)) ++i;
    if (i == n) {
      if (n == 4) {
        single = false;
        break;
      }
      requests[n++] = Request{x, group[k], 0};
    }
    requests[i].mask |= k < 4 ? 1u << k : 0;
  }
  if (n == 0) return S_OK;
  std::uint32_t row;
  HRESULT hr = single ? FindLiteralRow(requests, n, &row) : E_FAIL;
  if (hr == E_OUTOFMEMORY) return hr;
  if (SUCCEEDED(hr)) {
    RemapGroupLiterals(row, group, w, n);
    return S_OK;
  }
  // Each literal of the group by itself.
  for (std::uint32_t k = 0; k < w; ++k) {
    if (!IsGroupLiteral(group[k])) continue;
    Request one{m_p.values[group[k]]->rangeLow, group[k], k < 4 ? 1u << k : 0};
    if ((hr = FindLiteralRow(&one, 1, &row)) == E_OUTOFMEMORY) return hr;
    if (SUCCEEDED(hr)) RemapGroupLiterals(row, group + k, 1, 1);
  }
  return S_OK;
}

HRESULT LiteralPacker::Run() {
  m_p.NumberValues();
  RegisterBank* literals = m_p.banks[m_literals];
  if (!literals) return E_FAIL;
  bool merged = false;
  HRESULT hr = MergeBoundLiterals(&merged);
  if (FAILED(hr)) return hr;

  // Bound tables that join "l" keep their registers, one after another.
  const std::uint32_t bankCount = m_p.banks.Count();
  m_shift = alloc::NewArray<std::uint32_t>(bankCount);
  if (!m_shift) return E_OUTOFMEMORY;
  std::uint32_t reserved = 0;
  for (std::uint32_t b = 0; b < bankCount; ++b) {
    const RegisterBank* bank = m_p.banks[b];
    if (!bank || b == m_literals || !JoinsLiterals(bank->type)) continue;
    const std::uint32_t used = alloc::NextFreeRegister(m_p, b);
    m_shift[b] = reserved;
    reserved += bank->registerCount != kNoIndex ? std::max(bank->registerCount, used) : used;
  }
  if (!m_table.Reserve((std::size_t{reserved} + 2 * std::size_t{m_p.instructions.Count()}) * 4)) return E_OUTOFMEMORY;
  for (std::uint32_t r = 0; r < reserved; ++r) AddRow();
  const std::uint32_t undefined = m_p.StandardBankIndex(StandardBank::Undefined);
  for (std::uint32_t i = 0; i < m_p.values.Count(); ++i) {
    IrValue* v = m_p.values[i];
    const RegisterBank* bank = v ? m_p.banks[v->bank] : nullptr;
    if (!bank || v->bank == undefined) continue;
    if (v->bank != m_literals && JoinsLiterals(bank->type)) {
      if (v->relativeIndex == kNoIndex && v->reg != kNoIndex && v->component < 4 &&
          Entry(m_shift[v->bank] + v->reg, v->component) == kNoIndex)
        Entry(m_shift[v->bank] + v->reg, v->component) = i;
    } else if ((bank->type & kBankLiteral) && !(bank->type & (kBankRelative | kBankKeepValues))) {
      v->bank = m_literals;
      v->reg = v->component = kNoIndex;
    }
  }

  for (std::uint32_t position = 0; position < m_p.instructions.Count(); ++position) {
    const IrInstruction* inst = m_p.instructions[position];
    if (alloc::IsEmpty(inst)) continue;
    std::uint32_t* group;
    for (std::uint32_t g = 0, w; (w = inst->ArgumentGroup(g, &group)) != 0; ++g)
      if (FAILED(hr = PackGroup(group, w))) return hr;
  }

  // Literals still without a place: placed alone where something refers to
  // them, else unused.
  auto referenced = alloc::NewArray<bool>(m_p.values.Count());
  if (!referenced) return E_OUTOFMEMORY;
  for (std::uint32_t position = 0; position < m_p.instructions.Count(); ++position) {
    const IrInstruction* inst = m_p.instructions[position];
    for (std::uint32_t a = 0; inst && a < inst->argumentCount; ++a)
      if (inst->arguments[a] < m_p.values.Count()) referenced[inst->arguments[a]] = true;
  }
  for (std::uint32_t i = 0; i < m_p.values.Count(); ++i) {
    if (const IrValue* v = m_p.values[i]) {
      if (v->relativeIndex < m_p.values.Count()) referenced[v->relativeIndex] = true;
      if (v->predicate < m_p.values.Count()) referenced[v->predicate] = true;
    }
  }
  bool relative = false;
  for (std::uint32_t i = 0; i < m_p.values.Count(); ++i) {
    IrValue* v = m_p.values[i];
    if (!v || v->bank == undefined) continue;
    if (v->bank == m_literals && v->relativeIndex == kNoIndex && v->reg == kNoIndex) {
      if (!referenced[i]) {
        v->bank = undefined;
        continue;
      }
      Request one{v->rangeLow, i, 0};
      std::uint32_t row;
      if ((hr = FindLiteralRow(&one, 1, &row)) == E_OUTOFMEMORY) return hr;
    } else if (v->bank != m_literals && JoinsLiterals(m_p.banks[v->bank]->type)) {
      relative = relative || v->relativeIndex != kNoIndex;
      if (v->reg != kNoIndex) v->reg += m_shift[v->bank];
      v->bank = m_literals;
    }
  }
  literals->type |= kBankBound | (relative ? kBankRelative : 0u);
  literals->registerCount = alloc::NextFreeRegister(m_p, m_literals);
  if (merged) {
    opt::ForwardRedirections(m_p);
    if (FAILED(hr = m_p.MergeDuplicateValues())) return hr;
  }
  // Set last: with it, merging duplicate values would take every value that
  // shares a register for one.
  m_p.registerTableFlag = 1;
  return S_OK;
}

}  // namespace

HRESULT ShaderProgram::PackLiterals() { return LiteralPacker(*this).Run(); }

}  // namespace gxl::shader
