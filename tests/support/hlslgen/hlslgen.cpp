#include "tests/support/hlslgen/hlslgen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace hlslgen {

namespace {

// How near an edge a value that rounding may have moved can come, relative
// to its size; and the largest magnitude an expression may reach.
constexpr double kTolerance = 1e-6;
constexpr double kLimit = 1e4;
// The parser's folder nudges a value by 1e-6 before it truncates it.
constexpr double kNudge = 1e-5;
constexpr std::uint32_t kTries = 8;

bool Comparison(Op op) { return op >= Op::Less && op <= Op::NotEqual; }

double Scale(double x, double y = 0.0) { return std::max({1.0, std::fabs(x), std::fabs(y)}); }

}  // namespace

const char* OpText(Op op) {
  static const char* const kText[] = {"",  "-", "+",  "!",  "+",  "-",  "*",  "/", "%",
                                      "<", ">", "<=", ">=", "==", "!=", "&&", "||"};
  return kText[static_cast<std::uint32_t>(op)];
}

const char* FnName(Fn fn) {
  static const char* const kNames[] = {
      "",      "abs",    "floor",   "ceil",  "frac",      "round",    "saturate", "sqrt",     "rsqrt", "exp",
      "exp2",  "log",    "log2",    "log10", "degrees",   "radians",  "sinh",     "cosh",     "tanh",  "sign",
      "min",   "max",    "pow",     "step",  "fmod",      "ldexp",    "clamp",    "lerp",     "smoothstep",
      "dot",   "length", "distance", "normalize", "cross", "all",      "any",      "mul",      "determinant",
      "transpose", "tex2D",    "texCUBE"};
  static_assert(std::size(kNames) == static_cast<std::size_t>(Fn::Count));
  return kNames[static_cast<std::uint32_t>(fn)];
}

std::string Type::Name() const {
  std::string name = base == Base::Bool ? "bool" : base == Base::Int ? "int" : "float";
  if (matrix) return name + std::to_string(rows) + "x" + std::to_string(columns);
  return columns > 1 ? name + std::to_string(columns) : name;
}

Generator::Generator(std::uint64_t seed, const Options& options)
    : m_options(options), m_random(seed), m_tolerance(kTolerance) {
  const Base bases[] = {Base::Float, Base::Float, Base::Float, Base::Int, Base::Bool};
  m_root = Make(RandomType(bases[Pick(5)]), 0);
  if (m_options.flowControl) {
    MakeProgram();
  } else {
    m_result = m_nodes[m_root].value;
    for (const Node& n : m_nodes)
      if (n.type.base == Base::Float)
        for (double x : n.value) m_range = std::max(m_range, std::fabs(x));
    // Children come before their parents.
    for (Node& n : m_nodes)
      if (n.kind != Kind::Literal && n.kind != Kind::Variable) Bound(n);
    m_resultError = m_nodes[m_root].error;
  }
  m_resultError.resize(m_result.size(), 0.0);
}

namespace {

double ErrorAt(const std::vector<double>& error, std::size_t i) { return i < error.size() ? error[i] : 0.0; }

}  // namespace

void Generator::Bound(Node& n) {
  const std::size_t count = n.value.size();
  n.error.assign(count, 0.0);
  if (n.kind == Kind::LocalElement) {
    const Local& l = m_locals[n.variable];
    const auto base = static_cast<std::size_t>(m_nodes[n.children[0]].value[0]) * count;
    for (std::size_t i = 0; i < count; ++i) n.error[i] = ErrorAt(l.error, base + i);
    return;
  }
  // Each component of each child off by its bound, one at a time, the
  // larger change of the two ways added up: what a first-order bound is.
  for (std::uint32_t index : n.children) {
    Node& c = m_nodes[index];
    for (std::size_t j = 0; j < c.value.size(); ++j) {
      const double e = ErrorAt(c.error, j);
      if (e == 0) continue;
      const double kept = c.value[j];
      std::vector<double> change(count, 0.0);
      for (const double sign : {1.0, -1.0}) {
        c.value[j] = kept + sign * e;
        Node probe = n;
        Evaluate(probe);
        for (std::size_t i = 0; i < count; ++i) {
          const double d = std::fabs(probe.value[i] - n.value[i]);
          change[i] = std::max(change[i], std::isfinite(d) ? d : HUGE_VAL);
        }
      }
      c.value[j] = kept;
      for (std::size_t i = 0; i < count; ++i) n.error[i] += change[i];
    }
  }
  // y * frac(x / y): the reciprocal and the quotient each round, so the
  // fraction is off by 2^-23 of |x / y|, the result by 2^-23 of |x|; twice
  // that leaves room for a reciprocal not correctly rounded.
  const bool remainder = (n.kind == Kind::Binary && n.op == Op::Modulo) || (n.kind == Kind::Call && n.fn == Fn::Fmod);
  if (remainder && n.type.base == Base::Float) {
    const Node& x = m_nodes[n.children[0]];
    for (std::size_t i = 0; i < count; ++i)
      n.error[i] += std::ldexp(std::fabs(x.value[x.value.size() == 1 ? 0 : i]), -22);
  }
}

double Generator::RandomValue(Base base) {
  switch (base) {
    case Base::Bool:
      return Pick(2);
    case Base::Int:
      return static_cast<double>(Pick(19)) - 9.0;
    default:
      if (m_options.unitFloats) return (static_cast<double>(Pick(33)) - 16.0) / 16.0;  // sixteenths in [-1, 1]
      return (static_cast<double>(Pick(129)) - 64.0) / 16.0;  // sixteenths in [-4, 4]
  }
}

Type Generator::RandomType(Base base) {
  Type t{base, 1, 1, false};
  const std::uint32_t r = Pick(10);
  if (r >= 4 && r < 8) {
    t.columns = 2 + Pick(3);
  } else if (r >= 8 && m_options.matrices && base != Base::Bool) {
    t.matrix = true;
    t.rows = 2 + Pick(3);
    t.columns = 2 + Pick(3);
  }
  return t;
}

std::uint32_t Generator::Add(Node node) {
  m_nodes.push_back(std::move(node));
  return static_cast<std::uint32_t>(m_nodes.size() - 1);
}

std::uint32_t Generator::NewVariable(const Type& type, std::uint32_t indexBelow) {
  Variable v{"v" + std::to_string(m_variables.size()), type, {}};
  for (std::uint32_t i = 0; i < type.Count(); ++i)
    v.value.push_back(indexBelow ? Pick(indexBelow) : RandomValue(type.base));
  Node n{Kind::Variable, Op::None, v.type, {}, {}, static_cast<std::uint32_t>(m_variables.size()), v.value, true};
  m_variables.push_back(std::move(v));
  return Add(std::move(n));
}

std::uint32_t Generator::Leaf(const Type& type) {
  if (m_function != kNone) return FunctionLeaf(type);
  if (Shaped() && m_flow && m_inIndex == 0 && m_options.arrays && Chance(0.2)) {
    const std::uint32_t read = ArrayRead(type);
    if (read != kNone) return read;
  }
  // In statements: a local of the type, or a component of r.
  if (m_flow && m_inIndex == 0 && Chance(0.3)) {
    std::vector<std::uint32_t> fit;
    for (std::uint32_t k : m_live)
      if (m_locals[k].type == type && m_locals[k].elements == 0) fit.push_back(k);
    if (!fit.empty()) return LocalNode(fit[Pick(static_cast<std::uint32_t>(fit.size()))]);
    const Type r = m_locals[0].type;
    if (type.IsScalar() && !r.IsScalar() && r.base == type.base) return ComponentOf(LocalNode(0), Pick(r.Count()));
    if (Shaped()) {
      const std::uint32_t read = ReadOfLocal(type);
      if (read != kNone) return read;
    }
  }
  if (Chance(m_flow ? 0.85 : 0.6)) {  // statements read variables more: literals fold away
    std::vector<std::uint32_t> same;
    for (std::uint32_t i = 0; i < m_variables.size(); ++i)
      if (m_variables[i].type == type && !m_variables[i].elements) same.push_back(i);
    if (!same.empty() && (Chance(0.5) || m_variables.size() >= m_options.maxVariables)) {
      const Variable& v = m_variables[same[Pick(static_cast<std::uint32_t>(same.size()))]];
      return Add(
          {Kind::Variable, Op::None, type, {}, {}, static_cast<std::uint32_t>(&v - m_variables.data()), v.value, true});
    }
    if (m_variables.size() < m_options.maxVariables) return NewVariable(type);
  }
  const Type scalar{type.base, 1, 1, false};
  std::vector<std::uint32_t> parts;
  for (std::uint32_t i = 0; i < type.Count(); ++i)
    parts.push_back(Add({Kind::Literal, Op::None, scalar, {}, {}, 0, {RandomValue(type.base)}, true}));
  if (type.IsScalar()) return parts[0];
  Node n{Kind::Construct, Op::None, type, parts, {}, 0, {}, true};
  Evaluate(n);
  return Add(std::move(n));
}

std::uint32_t Generator::Make(const Type& type, std::uint32_t depth) {
  std::uint32_t out = 0;
  for (std::uint32_t i = 0; i < kTries; ++i)
    if (TryMake(type, depth, &out)) return out;
  return Leaf(type);
}

bool Generator::TryMake(const Type& type, std::uint32_t depth, std::uint32_t* out) {
  if (depth >= m_options.maxDepth || (depth > 0 && Chance(0.15))) {
    *out = Leaf(type);
    return true;
  }
  const std::size_t nodes = m_nodes.size(), variables = m_variables.size();
  const bool numeric = type.base != Base::Bool;
  const Base anyBase[] = {Base::Float, Base::Int, Base::Bool};
  auto shaped = [&](Base base) { return Type{base, type.rows, type.columns, type.matrix}; };
  auto scalarOf = [](Base base) { return Type{base, 1, 1, false}; };
  Node n{Kind::Binary, Op::None, type, {}, {}, 0, {}, true};
  const std::uint32_t choice = Pick(m_options.intrinsics ? 10 : 9);
  if (choice >= 9 && !MakeCall(type, depth, n)) return false;
  if (choice < 9) switch (choice) {
    case 0:  // unary
      n.kind = Kind::Unary;
      n.op = numeric ? (Chance(0.7) ? Op::Negate : Op::Plus) : Op::Not;
      n.children = {Make(numeric ? type : shaped(anyBase[Pick(3)]), depth + 1)};
      break;
    case 1:
    case 2: {  // binary; one side may be a scalar that the other's shape spreads
      const std::uint32_t scalarSide = type.IsScalar() ? 2 : Pick(4);
      Base left = type.base, right = type.base;
      if (numeric) {
        n.op = static_cast<Op>(static_cast<std::uint32_t>(Op::Add) + Pick(type.base == Base::Float ? 5 : 4));
        if (type.base == Base::Float && Chance(0.3)) (Chance(0.5) ? left : right) = Base::Int;
      } else {
        const bool logical = Chance(0.3);
        n.op = logical ? (Chance(0.5) ? Op::And : Op::Or)
                       : static_cast<Op>(static_cast<std::uint32_t>(Op::Less) + Pick(6));
        left = logical || Chance(0.15) ? anyBase[Pick(3)] : anyBase[Pick(2)];
        right = logical || left == Base::Bool ? anyBase[Pick(3)] : anyBase[Pick(2)];
      }
      n.children = {Make(scalarSide == 0 ? scalarOf(left) : shaped(left), depth + 1),
                    Make(scalarSide == 1 ? scalarOf(right) : shaped(right), depth + 1)};
      break;
    }
    case 3: {  // conditional
      n.kind = Kind::Conditional;
      const bool spread = !type.IsScalar() && !type.matrix && Chance(0.5);
      const Base test = anyBase[Pick(3)];
      n.children = {Make(spread ? shaped(test) : scalarOf(test), depth + 1), Make(type, depth + 1),
                    Make(type, depth + 1)};
      break;
    }
    case 4: {  // cast from another base, a scalar, or a larger shape
      n.kind = Kind::Cast;
      Type from = shaped(anyBase[Pick(3)]);
      if (Chance(0.3)) {
        from = scalarOf(anyBase[Pick(3)]);
      } else if (Chance(0.3) && !type.matrix && type.columns < 4) {
        from.columns = type.columns + 1 + Pick(4 - type.columns);
      } else if (Chance(0.3) && type.matrix && from.base != Base::Bool) {
        from.rows = std::min(4u, type.rows + Pick(2));
        from.columns = std::min(4u, type.columns + Pick(2));
      }
      if (from == type || (from.matrix && from.base == Base::Bool)) return false;
      n.children = {Make(from, depth + 1)};
      break;
    }
    case 5: {  // constructor of scalar and vector parts
      if (type.IsScalar()) return false;
      n.kind = Kind::Construct;
      for (std::uint32_t left = type.Count(); left > 0;) {
        const std::uint32_t size = 1 + Pick(std::min(4u, left));
        n.children.push_back(Make(Type{anyBase[Pick(3)], 1, size, false}, depth + 1));
        left -= size;
      }
      break;
    }
    case 6: {  // swizzle of a vector or scalar, or of a matrix's elements
      if (type.matrix) return false;
      n.kind = Kind::Swizzle;
      Type from{type.base, 1, 1 + Pick(4), false};
      if (numeric && m_options.matrices && Chance(0.25)) from = Type{type.base, 2 + Pick(3), 2 + Pick(3), true};
      for (std::uint32_t i = 0; i < type.columns; ++i) n.picks.push_back(Pick(from.Count()));
      n.children = {Make(from, depth + 1)};
      break;
    }
    default: {  // index: an element of a vector, or a row of a matrix
      if (type.matrix || (type.IsVector() && (!numeric || !m_options.matrices))) return false;
      n.kind = Kind::Index;
      const std::uint32_t size = 2 + Pick(3);
      const Type from = type.IsScalar() ? Type{type.base, 1, size, false} : Type{type.base, size, type.columns, true};
      n.children = {Make(from, depth + 1)};
      if (Chance(0.4)) {
        n.picks = {Pick(size)};
        break;
      }
      std::uint32_t index = 0;
      bool found = false;
      for (std::uint32_t i = 0; i < 3 && !found; ++i) {
        // No locals in an index: a compiler checks it for every value of a
        // loop counter, in branches not taken too.
        ++m_inIndex;
        index = Make(scalarOf(Base::Int), depth + 1);
        --m_inIndex;
        const double k = m_nodes[index].value[0];
        found = k >= 0 && k < size;
      }
      if (!found) index = NewVariable(scalarOf(Base::Int), size);
      n.children.push_back(index);
      break;
    }
  }
  if (!Evaluate(n)) {
    m_nodes.resize(nodes);
    m_variables.resize(variables);
    return false;
  }
  *out = Add(std::move(n));
  return true;
}

bool Generator::Evaluate(Node& n) const {
  // Their values come from the run: Reevaluate() sets them.
  if (n.kind == Kind::Parameter || n.kind == Kind::UserCall) return true;
  const std::uint32_t count = n.type.Count();
  bool ok = true, exact = true;
  for (std::uint32_t c : n.children) exact = exact && m_nodes[c].exact;
  auto child = [&](std::size_t k) -> const Node& { return m_nodes[n.children[k]]; };
  n.undefined = false;
  if (m_lenient && std::any_of(n.children.begin(), n.children.end(), [&](std::uint32_t c) {
        return m_nodes[c].undefined;
      })) {
    // An exact false beside it decides an and, an exact true an or; all
    // else read past the array is undefined too.
    n.value.assign(count, 0.0);
    const bool logical = n.kind == Kind::Binary && (n.op == Op::And || n.op == Op::Or) && count == 1;
    for (std::size_t k = 0; logical && k < 2; ++k) {
      const Node& side = child(k);
      if (!side.undefined && side.exact && (side.value[0] != 0) == (n.op == Op::Or)) {
        n.value[0] = n.op == Op::Or ? 1.0 : 0.0;
        n.exact = true;
        return true;
      }
    }
    n.undefined = true;
    return true;
  }
  auto at = [](const Node& c, std::uint32_t i) { return c.value[c.value.size() == 1 ? 0 : i]; };
  // A truth test of a value rounding may have moved off or onto 0 decides nothing.
  auto truth = [&](const Node& c, std::uint32_t i) {
    const double x = at(c, i);
    if (!c.exact && std::fabs(x) < m_tolerance) ok = false;
    return x != 0.0;
  };
  auto convert = [&](double x, bool sourceExact) -> double {
    if (n.type.base == Base::Float) return x;
    if (n.type.base == Base::Bool) {
      if (!sourceExact && std::fabs(x) < m_tolerance) ok = false;
      return x != 0.0;
    }
    const double off = std::fabs(x - std::nearbyint(x));
    if (sourceExact ? (off > 0 && off < kNudge) : off < m_tolerance * Scale(x)) ok = false;
    return std::trunc(x);
  };
  std::vector<double>& v = n.value;
  v.assign(count, 0.0);
  switch (n.kind) {
    case Kind::Literal:
    case Kind::Variable:
    case Kind::Local:
    case Kind::Parameter:
    case Kind::UserCall:
      return true;
    case Kind::Unary:
      for (std::uint32_t i = 0; i < count; ++i)
        v[i] = n.op == Op::Not ? !truth(child(0), i) : n.op == Op::Negate ? -at(child(0), i) : at(child(0), i);
      break;
    case Kind::Binary: {
      const Node &a = child(0), &b = child(1);
      for (std::uint32_t i = 0; i < count; ++i) {
        const double x = at(a, i), y = at(b, i);
        if ((n.op == Op::Divide || n.op == Op::Modulo) && std::fabs(y) < 0.05) ok = false;
        if (Comparison(n.op) && !(a.exact && b.exact) && std::fabs(x - y) < m_tolerance * Scale(x, y)) ok = false;
        switch (n.op) {
          case Op::Add:
            v[i] = x + y;
            break;
          case Op::Subtract:
            v[i] = x - y;
            break;
          case Op::Multiply:
            v[i] = x * y;
            break;
          case Op::Divide:
            v[i] = n.type.base == Base::Int ? convert(x / y, false) : x / y;
            break;
          case Op::Modulo: {
            const double q = std::fabs(x / y), f = q - std::floor(q);
            if (f < m_tolerance * Scale(q) || f > 1 - m_tolerance * Scale(q)) ok = false;
            v[i] = std::fmod(x, y);
            break;
          }
          case Op::Less:
            v[i] = x < y;
            break;
          case Op::Greater:
            v[i] = x > y;
            break;
          case Op::LessEqual:
            v[i] = x <= y;
            break;
          case Op::GreaterEqual:
            v[i] = x >= y;
            break;
          case Op::Equal:
            v[i] = x == y;
            break;
          case Op::NotEqual:
            v[i] = x != y;
            break;
          case Op::And:
          case Op::Or: {
            // Both sides are tested: either may be a truth that decides nothing.
            const bool p = truth(a, i), q = truth(b, i);
            v[i] = n.op == Op::And ? p && q : p || q;
            break;
          }
          default:
            return false;
        }
      }
      // Division and remainder go through a reciprocal: close, not equal.
      if (n.type.base == Base::Float && (n.op == Op::Divide || n.op == Op::Modulo)) exact = false;
      break;
    }
    case Kind::Conditional: {
      bool whole = true;  // a + (b - a) gives b again only for whole numbers
      for (std::uint32_t i = 0; i < count; ++i) {
        const double t = at(child(1), i), e = at(child(2), i);
        v[i] = truth(child(0), i) ? t : e;
        whole = whole && t == std::trunc(t) && e == std::trunc(e);
      }
      if (n.type.base == Base::Float) exact = exact && whole;
      break;
    }
    case Kind::Cast: {
      const Node& from = child(0);
      const std::uint32_t fromColumns = from.type.columns;
      for (std::uint32_t i = 0; i < count; ++i) {
        // A scalar spreads; a larger matrix gives its leading rows and columns.
        const std::uint32_t k = from.value.size() == 1 ? 0
                                : n.type.matrix        ? (i / n.type.columns) * fromColumns + i % n.type.columns
                                                       : i;
        v[i] = convert(from.value[k], from.exact);
      }
      break;
    }
    case Kind::Construct: {
      std::uint32_t i = 0;
      for (std::uint32_t c : n.children)
        for (double x : m_nodes[c].value) v[i++] = convert(x, m_nodes[c].exact);
      break;
    }
    case Kind::Swizzle:
      for (std::uint32_t i = 0; i < count; ++i) v[i] = child(0).value[n.picks[i]];
      break;
    case Kind::Index: {
      // An index a loop counter moved out of range reads nothing.
      const double k = n.picks.empty() ? child(1).value[0] : n.picks[0];
      if (!(k >= 0 && (k + 1) * count <= child(0).value.size())) return false;
      const auto element = static_cast<std::uint32_t>(k);
      for (std::uint32_t i = 0; i < count; ++i) v[i] = child(0).value[element * count + i];
      break;
    }
    case Kind::Call:
      ok = ok && EvaluateCall(n, exact);
      break;
    case Kind::Element:
    case Kind::LocalElement: {
      const double k = child(0).value[0];
      const bool local = n.kind == Kind::LocalElement;
      const std::vector<double>& all = local ? m_locals[n.variable].value : m_variables[n.variable].value;
      if (!(k >= 0 && (k + 1) * count <= all.size() && k == std::trunc(k))) {
        if (!m_lenient) return false;
        n.undefined = true;  // in a loop test: see above
        return true;
      }
      for (std::uint32_t i = 0; i < count; ++i) v[i] = all[static_cast<std::size_t>(k) * count + i];
      if (local) exact = exact && m_locals[n.variable].exact;
      break;
    }
  }
  if (m_single)
    for (double& x : v)
      if (std::fabs(x) < 1e30) x = static_cast<float>(x);
  if (n.type.base != Base::Float) exact = true;  // whole numbers away from every edge come out alike
  for (double x : v)
    if (!std::isfinite(x) || std::fabs(x) > kLimit) ok = false;
  n.exact = exact;
  return ok;
}

std::string Generator::Text(std::uint32_t index) const {
  const Node& n = m_nodes[index];
  auto child = [&](std::size_t k) { return Text(n.children[k]); };
  switch (n.kind) {
    case Kind::Literal: {
      const double x = n.value[0];
      if (n.type.base == Base::Bool) return x != 0 ? "true" : "false";
      char text[40];
      std::snprintf(text, sizeof text, n.type.base == Base::Int ? "%.0f" : "%.17g", x);
      std::string s = text;
      if (n.type.base == Base::Float && s.find_first_of(".e") == std::string::npos) s += ".0";
      return x < 0 ? "(" + s + ")" : s;
    }
    case Kind::Variable:
      return m_variables[n.variable].name;
    case Kind::Local:
      return m_locals[n.variable].name;
    case Kind::Element:
      return m_variables[n.variable].name + "[" + child(0) + "]";
    case Kind::LocalElement:
      return m_locals[n.variable].name + "[" + child(0) + "]";
    case Kind::Parameter:
      return m_functions[n.variable].parameters[n.picks[0]].name;
    case Kind::UserCall: {
      std::string s = m_functions[n.variable].name + "(";
      for (std::size_t k = 0; k < n.children.size(); ++k) s += (k ? ", " : "") + child(k);
      return s + ")";
    }
    case Kind::Unary:
      return std::string("(") + OpText(n.op) + child(0) + ")";
    case Kind::Binary:
      return "(" + child(0) + " " + OpText(n.op) + " " + child(1) + ")";
    case Kind::Conditional:
      return "(" + child(0) + " ? " + child(1) + " : " + child(2) + ")";
    case Kind::Cast:
      return "((" + n.type.Name() + ")" + child(0) + ")";
    case Kind::Construct: {
      std::string s = n.type.Name() + "(";
      for (std::size_t k = 0; k < n.children.size(); ++k) s += (k ? ", " : "") + child(k);
      return s + ")";
    }
    case Kind::Swizzle: {
      const Type& from = m_nodes[n.children[0]].type;
      std::string s = "(" + child(0) + ").";
      for (std::uint32_t p : n.picks)
        s += from.matrix ? "_m" + std::to_string(p / from.columns) + std::to_string(p % from.columns)
                         : std::string(1, "xyzw"[p]);
      return s;
    }
    case Kind::Index:
      return "(" + child(0) + ")[" + (n.picks.empty() ? child(1) : std::to_string(n.picks[0])) + "]";
    case Kind::Call: {
      std::string s = std::string(FnName(n.fn)) + "(";
      if (n.fn == Fn::Tex2D || n.fn == Fn::TexCube) s += "s" + std::to_string(n.picks[0]) + ", ";
      for (std::size_t k = 0; k < n.children.size(); ++k) s += (k ? ", " : "") + child(k);
      return s + ")";
    }
  }
  return {};
}

bool Generator::MakeCall(const Type& type, std::uint32_t depth, Node& n) {
  n.kind = Kind::Call;
  std::vector<Fn> fns;
  if (type.base == Base::Float) {
    for (std::uint32_t f = static_cast<std::uint32_t>(Fn::Abs); f <= static_cast<std::uint32_t>(Fn::Tanh); ++f)
      fns.push_back(static_cast<Fn>(f));
    fns.insert(fns.end(), {Fn::Min, Fn::Max, Fn::Pow, Fn::Step, Fn::Fmod, Fn::Ldexp, Fn::Clamp, Fn::Lerp,
                           Fn::Smoothstep});
    if (type.IsScalar()) fns.insert(fns.end(), {Fn::Dot, Fn::Length, Fn::Distance});
    if (type.IsScalar() && m_options.matrices) fns.push_back(Fn::Determinant);
    if (type.IsVector()) fns.insert(fns.end(), {Fn::Normalize, Fn::Mul});
    if (type.IsVector() && type.columns == 3) fns.push_back(Fn::Cross);
    if (type.matrix) fns.push_back(Fn::Transpose);
    if (m_options.samplers && m_options.maxSamplers && type.IsVector() && type.columns == 4)
      fns.insert(fns.end(), {Fn::Tex2D, Fn::Tex2D, Fn::TexCube});
  } else if (type.base == Base::Int) {
    fns = {Fn::Abs, Fn::Min, Fn::Max, Fn::Clamp, Fn::Sign};
    if (type.IsScalar()) fns.push_back(Fn::Dot);
  } else if (type.IsScalar()) {
    fns = {Fn::All, Fn::Any};
  }
  if (fns.empty()) return false;
  n.fn = fns[Pick(static_cast<std::uint32_t>(fns.size()))];
  // Cross products have only float3 to come from: give them a fair share.
  if (type.base == Base::Float && type.IsVector() && type.columns == 3 && Chance(0.25)) n.fn = Fn::Cross;
  const Base anyBase[] = {Base::Float, Base::Int, Base::Bool};
  const std::uint32_t size = 2 + Pick(3);
  const Type vector{type.base, 1, size, false};
  switch (n.fn) {
    case Fn::Min:
    case Fn::Max:
    case Fn::Pow:
    case Fn::Step:
    case Fn::Fmod:
    case Fn::Ldexp:
      n.children = {Make(type, depth + 1), Make(type, depth + 1)};
      break;
    case Fn::Clamp:
    case Fn::Lerp:
    case Fn::Smoothstep:
      n.children = {Make(type, depth + 1), Make(type, depth + 1), Make(type, depth + 1)};
      break;
    case Fn::Sign:
      n.children = {Make(Type{Base::Float, type.rows, type.columns, type.matrix}, depth + 1)};
      break;
    case Fn::Dot:
    case Fn::Distance:
      n.children = {Make(vector, depth + 1), Make(vector, depth + 1)};
      break;
    case Fn::Length:
      n.children = {Make(vector, depth + 1)};
      break;
    case Fn::Determinant:
      n.children = {Make(Type{Base::Float, size, size, true}, depth + 1)};
      break;
    case Fn::Mul: {
      // A vector times a matrix, or a matrix times a vector.
      const Type other{Base::Float, 1, size, false};
      const bool left = Chance(0.5);
      const Type matrix{Base::Float, left ? size : type.columns, left ? type.columns : size, true};
      n.children = left ? std::vector<std::uint32_t>{Make(other, depth + 1), Make(matrix, depth + 1)}
                        : std::vector<std::uint32_t>{Make(matrix, depth + 1), Make(other, depth + 1)};
      break;
    }
    case Fn::Cross:
      n.children = {Make(type, depth + 1), Make(type, depth + 1)};
      break;
    case Fn::Transpose:
      n.children = {Make(Type{Base::Float, type.columns, type.rows, true}, depth + 1)};
      break;
    case Fn::Tex2D:
    case Fn::TexCube: {
      // Even samplers are two-dimensional, odd ones cubes.
      const bool cube = n.fn == Fn::TexCube;
      const std::uint32_t kinds = (m_options.maxSamplers + (cube ? 0 : 1)) / 2;
      if (kinds == 0) return false;
      n.picks = {2 * Pick(kinds) + (cube ? 1 : 0)};
      n.children = {Make(Type{Base::Float, 1, cube ? 3u : 2u, false}, depth + 1)};
      break;
    }
    case Fn::All:
    case Fn::Any:
      n.children = {Make(Type{anyBase[Pick(3)], 1, 1 + Pick(4), false}, depth + 1)};
      break;
    case Fn::Sqrt:
    case Fn::Rsqrt:
    case Fn::Log:
    case Fn::Log2:
    case Fn::Log10:
      n.children = {Positive(type, depth + 1)};
      break;
    default:
      n.children = {Make(type, depth + 1)};
      break;
  }
  if (n.fn == Fn::Pow) n.children[0] = Positive(type, depth + 1);
  return true;
}

std::uint32_t Generator::Positive(const Type& type, std::uint32_t depth) {
  // abs(x) + 0.25
  Node magnitude{Kind::Call, Op::None, type, {Make(type, depth + 1)}, {}, 0, {}, true, Fn::Abs};
  Evaluate(magnitude);
  const std::uint32_t m = Add(std::move(magnitude));
  const std::uint32_t quarter = Add({Kind::Literal, Op::None, Type{Base::Float, 1, 1, false}, {}, {}, 0, {0.25}, true});
  Node sum{Kind::Binary, Op::Add, type, {m, quarter}, {}, 0, {}, true};
  Evaluate(sum);
  return Add(std::move(sum));
}

bool Generator::EvaluateCall(Node& n, bool& exact) const {
  auto child = [&](std::size_t k) -> const Node& { return m_nodes[n.children[k]]; };
  auto at = [](const Node& c, std::uint32_t i) { return c.value[c.value.size() == 1 ? 0 : i]; };
  std::vector<double>& v = n.value;
  const std::uint32_t count = n.type.Count();
  bool ok = true;
  // A value that rounding may have moved across an edge decides nothing.
  auto edge = [&](const Node& c, double distance) {
    if (!c.exact && std::fabs(distance) < m_tolerance * Scale(distance)) ok = false;
  };
  auto whole = [&](const Node& c, double x, double offset) {
    edge(c, x + offset - std::nearbyint(x + offset));
  };
  // Calls whose expansions round differently from the plain formula.
  static constexpr Fn kRounded[] = {Fn::Sqrt,  Fn::Rsqrt,    Fn::Exp,      Fn::Exp2,      Fn::Log,   Fn::Log2,
                                    Fn::Log10, Fn::Degrees,  Fn::Radians,  Fn::Sinh,      Fn::Cosh,  Fn::Tanh,
                                    Fn::Pow,   Fn::Fmod,     Fn::Ldexp,    Fn::Lerp,      Fn::Smoothstep,
                                    Fn::Dot,   Fn::Length,   Fn::Distance, Fn::Normalize, Fn::Cross, Fn::Mul,
                                    Fn::Determinant};
  if (std::find(std::begin(kRounded), std::end(kRounded), n.fn) != std::end(kRounded)) exact = false;
  const Node& a = child(0);
  switch (n.fn) {
    case Fn::Tex2D:
    case Fn::TexCube:
      // Read at a coordinate the target rounds to float.
      exact = false;
      ProceduralTexel(n.picks[0], a.value.data(), a.type.Count(), v.data());
      return ok;
    case Fn::Dot:
    case Fn::Length:
    case Fn::Distance: {
      const std::uint32_t k = a.type.Count();
      double s = 0;
      for (std::uint32_t i = 0; i < k; ++i) {
        const double d = n.fn == Fn::Distance ? a.value[i] - child(1).value[i] : a.value[i];
        s += n.fn == Fn::Dot ? a.value[i] * child(1).value[i] : d * d;
      }
      v = {n.fn == Fn::Dot ? s : std::sqrt(s)};
      return ok;
    }
    case Fn::Normalize: {
      double s = 0;
      for (double x : a.value) s += x * x;
      if (s < 0.01) return false;
      for (std::uint32_t i = 0; i < count; ++i) v[i] = a.value[i] / std::sqrt(s);
      return ok;
    }
    case Fn::Cross:
      v = {a.value[1] * child(1).value[2] - a.value[2] * child(1).value[1],
           a.value[2] * child(1).value[0] - a.value[0] * child(1).value[2],
           a.value[0] * child(1).value[1] - a.value[1] * child(1).value[0]};
      return ok;
    case Fn::All:
    case Fn::Any: {
      bool all = true, any = false;
      for (double x : a.value) {
        edge(a, x);
        all = all && x != 0;
        any = any || x != 0;
      }
      v = {double(n.fn == Fn::All ? all : any)};
      return ok;
    }
    case Fn::Mul: {
      const Node& b = child(1);
      const std::uint32_t inner = a.type.matrix ? a.type.columns : a.type.Count();
      for (std::uint32_t j = 0; j < count; ++j) {
        double s = 0;
        for (std::uint32_t k = 0; k < inner; ++k)
          s += a.type.matrix ? a.value[j * inner + k] * b.value[k] : a.value[k] * b.value[k * count + j];
        v[j] = s;
      }
      return ok;
    }
    case Fn::Determinant: {
      // By elimination with partial pivoting.
      const std::uint32_t m = a.type.rows;
      std::vector<double> e = a.value;
      double det = 1;
      for (std::uint32_t c = 0; c < m; ++c) {
        std::uint32_t p = c;
        for (std::uint32_t r = c + 1; r < m; ++r)
          if (std::fabs(e[r * m + c]) > std::fabs(e[p * m + c])) p = r;
        if (e[p * m + c] == 0) {
          det = 0;
          break;
        }
        if (p != c) {
          for (std::uint32_t j = 0; j < m; ++j) std::swap(e[c * m + j], e[p * m + j]);
          det = -det;
        }
        det *= e[c * m + c];
        for (std::uint32_t r = c + 1; r < m; ++r) {
          const double f = e[r * m + c] / e[c * m + c];
          for (std::uint32_t j = c; j < m; ++j) e[r * m + j] -= f * e[c * m + j];
        }
      }
      v = {det};
      return ok;
    }
    case Fn::Transpose:
      for (std::uint32_t i = 0; i < n.type.rows; ++i)
        for (std::uint32_t j = 0; j < n.type.columns; ++j) v[i * n.type.columns + j] = a.value[j * a.type.columns + i];
      return ok;
    default:
      break;
  }
  for (std::uint32_t i = 0; i < count && ok; ++i) {
    const double x = at(a, i), y = n.children.size() > 1 ? at(child(1), i) : 0.0;
    const double z = n.children.size() > 2 ? at(child(2), i) : 0.0;
    double& r = v[i];
    switch (n.fn) {
      case Fn::Abs: r = std::fabs(x); break;
      case Fn::Floor: whole(a, x, 0), r = std::floor(x); break;
      case Fn::Ceil: whole(a, x, 0), r = std::ceil(x); break;
      case Fn::Frac: whole(a, x, 0), r = x - std::floor(x); break;
      case Fn::Round: whole(a, x, 0.5), r = std::floor(x + 0.5); break;
      case Fn::Saturate: r = std::clamp(x, 0.0, 1.0); break;
      case Fn::Sqrt: ok = x >= 0, r = std::sqrt(x); break;
      case Fn::Rsqrt: ok = x >= 0.05, r = 1 / std::sqrt(x); break;
      case Fn::Exp: r = std::exp(x); break;
      case Fn::Exp2: r = std::exp2(x); break;
      case Fn::Log: ok = x >= 0.05, r = std::log(x); break;
      case Fn::Log2: ok = x >= 0.05, r = std::log2(x); break;
      case Fn::Log10: ok = x >= 0.05, r = std::log10(x); break;
      case Fn::Degrees: r = x * 57.29577791868205; break;
      case Fn::Radians: r = x * 0.017453293005625408; break;
      case Fn::Sinh: r = std::sinh(x); break;
      case Fn::Cosh: r = std::cosh(x); break;
      case Fn::Tanh:
        // Expanded as a quotient of exponentials, which overflow in float
        // far out; flow-control programs keep clear of that.
        ok = !m_options.flowControl || std::fabs(x) <= 40, r = std::tanh(x);
        break;
      case Fn::Sign: edge(a, x), r = x > 0 ? 1 : x < 0 ? -1 : 0; break;
      case Fn::Min: r = std::min(x, y); break;
      case Fn::Max: r = std::max(x, y); break;
      case Fn::Pow: ok = x >= 0.05, r = std::pow(x, y); break;
      case Fn::Step:
        if (!(a.exact && child(1).exact) && std::fabs(y - x) < m_tolerance * Scale(x, y)) ok = false;
        r = y >= x ? 1 : 0;
        break;
      case Fn::Fmod: {
        const double q = std::fabs(x / y), f = q - std::floor(q);
        ok = std::fabs(y) >= 0.05 && f > m_tolerance * Scale(q) && f < 1 - m_tolerance * Scale(q);
        r = std::fmod(x, y);
        break;
      }
      case Fn::Ldexp: ok = std::fabs(y) <= 8, r = x * std::exp2(y); break;
      case Fn::Clamp: ok = y <= z, r = std::min(std::max(x, y), z); break;  // bounds in order
      case Fn::Lerp: r = x + z * (y - x); break;
      case Fn::Smoothstep: {
        // Folded literals and lowered code differ when the edges are in
        // reverse order; flow-control programs keep them in order.
        ok = (m_options.flowControl ? y - x : std::fabs(y - x)) >= 0.05;
        const double t = std::clamp((z - x) / (y - x), 0.0, 1.0);
        r = t * t * (3 - 2 * t);
        break;
      }
      default: return false;
    }
  }
  return ok;
}

void ProceduralTexel(std::uint32_t sampler, const double* c, std::uint32_t n, double texel[4]) {
  // x / (1 + |x|) changes by at most a quarter of a relative change of x.
  auto soft = [](double x) { return x / (1 + std::fabs(x)); };
  const double k = static_cast<double>(sampler);
  const double z = n > 2 ? c[2] : 0.0;
  texel[0] = soft(c[0] + 0.5 * k);
  texel[1] = soft(c[1] - 0.25 * k);
  texel[2] = soft(0.125 * c[0] * c[1] + z);
  texel[3] = 0.5 + 0.125 * k + 0.25 * soft(z - c[0]);
}

std::string Generator::UniformProgram(bool pixel) const {
  const Type& t = ResultType();
  std::string source = SamplerDeclarations();
  for (const Variable& v : m_variables) source += "uniform " + v.type.Name() + " " + v.name + ";\n";
  source += FunctionText();
  source += std::string("float4 main() : ") + (pixel ? "COLOR" : "POSITION") + " {\n" + Body() + "  return float4(";
  for (std::uint32_t k = 0; k < 4; ++k) {
    const std::uint32_t i = k / t.columns, j = k % t.columns;
    const std::string element = k >= t.Count()  ? "0.0"
                                : t.matrix      ? "r._m" + std::to_string(i) + std::to_string(j)
                                : t.columns > 1 ? std::string("r.") + "xyzw"[j]
                                                : std::string("r");
    source += (k ? ", (float)" : "(float)") + element;
  }
  return source + ");\n}\n";
}

std::string Generator::SamplerDeclarations() const {
  std::vector<bool> used;
  std::vector<std::uint32_t> pending = {m_root};
  for (const Statement& s : m_statements) {
    pending.push_back(s.value);
    if (s.kind == Statement::Kind::Assign) pending.push_back(s.stored);
    pending.insert(pending.end(), s.inits.begin(), s.inits.end());
  }
  for (const Function& f : m_functions) {
    pending.push_back(f.value);
    if (f.update != kNone) pending.push_back(f.update);
  }
  while (!pending.empty()) {
    const Node& n = m_nodes[pending.back()];
    pending.pop_back();
    pending.insert(pending.end(), n.children.begin(), n.children.end());
    if (n.fn != Fn::Tex2D && n.fn != Fn::TexCube) continue;
    if (used.size() <= n.picks[0]) used.resize(n.picks[0] + 1);
    used[n.picks[0]] = true;
  }
  std::string s;
  for (std::uint32_t k = 0; k < used.size(); ++k)
    if (used[k]) s += std::string(k % 2 ? "samplerCUBE s" : "sampler2D s") + std::to_string(k) + ";\n";
  return s;
}

std::string Generator::Parameters() const {
  std::string s;
  for (const Variable& v : m_variables) {
    s += (s.empty() ? "" : ", ") + v.type.Name() + " " + v.name;
    if (v.elements) s += "[" + std::to_string(v.elements) + "]";
  }
  return s;
}

Options DigestShapes(std::uint64_t seed, bool pixel) {
  Options o;
  o.flowControl = true;
  o.statements = static_cast<std::uint32_t>(4 + seed % 8);
  o.arrays = seed % 2 == 0;
  o.carried = seed % 3 != 2;
  o.doWhile = seed % 3 == 1;
  o.jumps = seed % 4 == 2;
  switch (seed % 3) {
    case 1: o.uniformBounds = true, o.maxLoopCount = 64, o.maxInstructions = 1000; break;
    case 2: o.steps = true; break;
    default: break;
  }
  o.samplers = pixel && seed % 4 == 1;
  return o;
}

}  // namespace hlslgen
