// The loop shapes of the generator's flow-control programs: loops bounded or
// ended by uniforms, do-while loops, the language's stand-ins for break and
// continue, local and uniform arrays indexed by loop counters, and locals
// carried through loops, written in part and read after them. Also the text
// of every statement but if/else.
#include <algorithm>
#include <bit>
#include <cmath>

#include "tests/support/hlslgen/hlslgen.h"

namespace hlslgen {

namespace {

const char* const kLetters = "xyzw";

// Sixteenths in [low, high].
double Sixteenths(std::uint32_t pick, double low) { return low + pick / 16.0; }

}  // namespace

std::uint32_t Generator::AddLocal(Local local) {
  m_locals.push_back(std::move(local));
  return static_cast<std::uint32_t>(m_locals.size() - 1);
}

std::uint32_t Generator::Literal(const Type& type, double value) {
  return Add({Kind::Literal, Op::None, type, {}, {}, 0, {value}, true});
}

std::uint32_t Generator::Binary(Op op, const Type& type, std::uint32_t a, std::uint32_t b) {
  Node n{Kind::Binary, op, type, {a, b}, {}, 0, {}, true};
  Evaluate(n);  // a value at creation only: Simulate() judges the runs
  return Add(std::move(n));
}

std::uint32_t Generator::NewUniform(const Type& type, std::vector<double> value, std::uint32_t elements) {
  const auto index = static_cast<std::uint32_t>(m_variables.size());
  m_variables.push_back({"v" + std::to_string(index), type, value, elements, true});
  if (elements) return index;
  return Add({Kind::Variable, Op::None, type, {}, {}, index, std::move(value), true});
}

std::uint32_t Generator::MakeShaped(Statement s, std::uint32_t ifDepth, std::uint32_t loopDepth,
                                    std::uint32_t iterations, bool accumulate) {
  switch (s.kind) {
    case Statement::Kind::Assign:
      MakeAssign(s, accumulate);
      break;
    case Statement::Kind::Declare:
      MakeDeclare(s);
      break;
    case Statement::Kind::Call:
      if (MakeCallStatement(s, kNone, false)) break;
      s.kind = Statement::Kind::Assign;
      MakeAssign(s, accumulate);
      break;
    default:
      MakeLoop(s, ifDepth, loopDepth, iterations);
      break;
  }
  m_statements.push_back(std::move(s));
  return static_cast<std::uint32_t>(m_statements.size() - 1);
}

std::vector<std::uint32_t> Generator::MakeShapedBlock(std::uint32_t ifDepth, std::uint32_t loopDepth,
                                                      std::uint32_t iterations, bool accumulate) {
  const bool body = m_body;
  m_body = false;
  const std::size_t live = m_live.size();
  std::vector<std::uint32_t> block;
  for (std::uint32_t n = 1 + Pick(accumulate ? 3 : 2), k = 0; k < n; ++k) {
    const bool flagged = body && m_flags.back() != kNone;
    if (body && m_options.jumps && (k > 0 || !accumulate) && ifDepth < m_options.maxIfDepth &&
        Chance(flagged ? 0.6 : 0.3)) {
      // "continue": the rest of the body in an else; "break": the loop's
      // flag cleared, so that its condition ends it.
      Statement jump;
      jump.kind = Statement::Kind::If;
      jump.value = MakeCondition();
      const std::size_t scope = m_live.size();
      if (Chance(0.5)) jump.body.push_back(MakeStatement(ifDepth + 1, loopDepth, iterations, false));
      m_live.resize(scope);  // what the statement declared ends with the if's body
      if (flagged && Chance(0.8)) {
        Statement clear;
        clear.target = m_flags.back();
        clear.value = clear.stored = Literal(kBool, 0);
        m_statements.push_back(clear);
        jump.body.push_back(static_cast<std::uint32_t>(m_statements.size() - 1));
      }
      jump.otherwise = MakeShapedBlock(ifDepth + 1, loopDepth, iterations, false);
      m_statements.push_back(std::move(jump));
      block.push_back(static_cast<std::uint32_t>(m_statements.size() - 1));
      break;
    }
    block.push_back(MakeStatement(ifDepth, loopDepth, iterations, accumulate && k == 0));
    const Statement::Kind kind = m_statements[block.back()].kind;
    const bool loop =
        kind == Statement::Kind::For || kind == Statement::Kind::DoWhile || kind == Statement::Kind::While;
    if (loop && (m_options.carried || m_options.doWhile) && Chance(0.5)) {
      const std::uint32_t read = MakeReadAfter(1);
      if (read != kNone) block.push_back(read);
    }
  }
  // What the block declared reaches r before it goes out of scope, mostly.
  if (m_live.size() > live && Chance(0.7)) {
    const std::uint32_t read = MakeReadAfter(live);
    if (read != kNone) block.push_back(read);
  }
  m_live.resize(live);
  return block;
}

std::uint32_t Generator::MakeReadAfter(std::size_t from) {
  Statement s;
  m_readFrom = from;
  MakeAssign(s, false, true);
  if (s.value == kNone) return kNone;
  m_statements.push_back(std::move(s));
  return static_cast<std::uint32_t>(m_statements.size() - 1);
}

void Generator::MakeAssign(Statement& s, bool accumulate, bool readAfter) {
  std::vector<std::uint32_t> writable;
  for (std::uint32_t k : m_live)
    if (m_locals[k].written) writable.push_back(k);
  if (m_forceTarget != kNone) {
    s.target = m_forceTarget;
  } else if (accumulate && !m_carried.empty() && m_carried.back() != kNone && Chance(0.5)) {
    s.target = m_carried.back();  // the loop's own carried local
  } else if (!accumulate && !readAfter && !writable.empty() && Chance(0.5)) {
    // In loops, arrays first: their elements are written at counter indexes there.
    std::vector<std::uint32_t> arrays;
    for (std::uint32_t k : writable)
      if (m_locals[k].elements) arrays.push_back(k);
    if (!m_counters.empty() && !arrays.empty() && Chance(0.6)) writable = arrays;
    s.target = writable[Pick(static_cast<std::uint32_t>(writable.size()))];
  }
  const Local target = m_locals[s.target];  // Make() below may add nodes, never locals; a copy all the same
  Type t = target.type;
  if (target.elements) s.element = IndexBelow(target.elements);
  if (!t.IsScalar()) {
    const std::uint32_t shape = Pick(10);
    if (shape >= 7 && t.IsVector() && t.columns > 2) {
      // Two or three components in order: .yzw, .zw, .xz, ...
      std::uint32_t mask = 0;
      while (std::popcount(mask) < 2 || std::popcount(mask) >= static_cast<int>(t.columns))
        mask = 1 + Pick((1u << t.columns) - 1);
      for (std::uint32_t c = 0; c < t.columns; ++c)
        if (mask >> c & 1) s.components.push_back(c);
      t = Type{t.base, 1, static_cast<std::uint32_t>(s.components.size()), false};
    } else if (shape >= 4) {
      s.component = static_cast<std::int32_t>(Pick(t.Count()));
      t = Type{t.base, 1, 1, false};
    }
  }
  if (t.base != Base::Bool && (accumulate || Chance(0.75)))
    s.op = t.base == Base::Float && Chance(0.15) ? Op::Multiply : Chance(0.5) ? Op::Add : Op::Subtract;
  if (readAfter) {
    const std::uint32_t read = ReadOfLocal(t, m_readFrom);
    if (read == kNone) {
      s.value = kNone;
      return;
    }
    s.value = t.base == Base::Bool || Chance(0.5) ? read : Binary(Op::Add, t, Make(t, ExpressionDepth()), read);
  } else {
    s.value = Make(t, ExpressionDepth());
    if (accumulate && (m_options.steps || m_options.reversed) && !m_counters.empty() && t.base != Base::Bool &&
        !t.matrix && Chance(0.6)) {
      // Each loop's body reads an array at its own counter (converted to an
      // int value's type).
      const Type f{Base::Float, 1, t.columns, false};
      std::uint32_t read = ArrayRead(f, m_counters.back());
      if (read != kNone && Chance(0.75)) {
        // Work the compiler does not unroll for nothing keeps the loop a loop.
        Node call{Kind::Call, Op::None, f, {read}, {}, 0, {}, true, Fn::Exp2};
        read = Evaluate(call) ? Add(std::move(call)) : kNone;
      }
      if (read != kNone && t.base == Base::Int) {
        Node cast{Kind::Cast, Op::None, t, {read}, {}, 0, {}, true};
        read = Evaluate(cast) ? Add(std::move(cast)) : kNone;
      }
      if (read != kNone) s.value = Binary(Op::Add, t, s.value, read);
    }
    if (accumulate && Chance(0.5)) {
      // A term that changes with the innermost counter a value of the type can take.
      for (auto c = m_counters.rbegin(); c != m_counters.rend(); ++c)
        if (t.base == Base::Float || m_locals[*c].type.base == t.base) {
          s.value = WithCounter(s.value, t, *c);
          break;
        }
    }
    if (m_work && t.base == Base::Float && !t.matrix) {
      // Work that keeps a loop of constant length a loop: exp2 of an array
      // read at the counter, or of a value.
      std::uint32_t x = m_counters.empty() ? kNone : ArrayRead(t, m_counters.back());
      if (x == kNone) x = Make(t, ExpressionDepth());
      Node call{Kind::Call, Op::None, t, {x}, {}, 0, {}, true, Fn::Exp2};
      if (Evaluate(call)) s.value = Binary(Op::Add, t, s.value, Add(std::move(call)));
    }
    if (m_options.calls && t.base == Base::Float && Chance(0.3)) {
      const std::uint32_t call = UserCallOf(t);
      if (call != kNone) s.value = Binary(Op::Add, t, s.value, call);
    }
    if (m_loopCall && t.base == Base::Float) {
      const std::uint32_t call = LoopCallOf(t);
      if (call != kNone) s.value = Binary(Op::Add, t, s.value, call);
    }
  }
  s.stored = s.value;
  if (s.op == Op::None) return;
  std::uint32_t read = target.elements ? Add({Kind::LocalElement, Op::None, target.type, {s.element}, {}, s.target,
                                              {}, true})
                                       : LocalNode(s.target);
  if (target.elements) Evaluate(m_nodes[read]);
  if (s.component >= 0) {
    read = ComponentOf(read, static_cast<std::uint32_t>(s.component));
  } else if (!s.components.empty()) {
    Node n{Kind::Swizzle, Op::None, t, {read}, s.components, 0, {}, true};
    Evaluate(n);
    read = Add(std::move(n));
  }
  s.stored = Binary(s.op, t, read, s.value);
}

void Generator::MakeDeclare(Statement& s) {
  const Type r = m_locals[0].type;
  const bool array = m_options.arrays && (!m_options.carried || Chance(0.5));
  Type t{Base::Float, 1, 1 + Pick(4), false};
  if (!array && r.base == Base::Float && r.IsVector() && Chance(0.3)) t = r;
  Local l{std::string(array ? "a" : "w") + std::to_string(m_locals.size()), t, {}, true};
  l.written = true;
  if (array) {
    l.elements = 2 + Pick(3);
    for (std::uint32_t e = 0; e < l.elements; ++e) {
      s.inits.push_back(Make(t, ExpressionDepth()));
      const Node& n = m_nodes[s.inits.back()];
      l.value.insert(l.value.end(), n.value.begin(), n.value.end());
      l.exact = l.exact && n.exact;
    }
  } else {
    s.value = Make(t, ExpressionDepth());
    l.value = m_nodes[s.value].value;
    l.exact = m_nodes[s.value].exact;
  }
  s.target = AddLocal(std::move(l));
  m_live.push_back(s.target);
}

void Generator::MakeLoop(Statement& s, std::uint32_t ifDepth, std::uint32_t loopDepth, std::uint32_t iterations) {
  const bool doWhile = s.kind == Statement::Kind::DoWhile, whileLoop = s.kind == Statement::Kind::While;
  const std::uint32_t most = std::min({m_options.maxLoopCount, kMostCount, kMostIterations / iterations});
  s.count = 1 + Pick(std::max(most, 1u));
  // A stepped loop is mostly a plain counted one: its literal bound alone
  // ends it, as loops a loop register can count.
  bool plain = false;
  if (m_options.steps && s.kind == Statement::Kind::For) {
    if (Chance(0.7)) {
      // Another start or step; a longer step runs fewer passes, so that an
      // array can still hold what the counter reaches.
      s.start = static_cast<std::int32_t>(Pick(4));
      s.step = 1 + static_cast<std::int32_t>(Pick(3));
      if (s.step > 1) s.count = 1 + Pick(std::min(std::max(most, 1u), 4u));
    }
    // Loops side by side often agree on the count alone.
    if (m_lastCount && m_lastCount <= most && Chance(0.4)) s.count = m_lastCount;
    m_lastCount = s.count;
    plain = Chance(0.75);
  }
  const bool down = m_options.reversed && s.kind == Statement::Kind::For && Chance(0.35);
  if (down) {
    // Down by 1 or 2 to a last value of 0 to 2.
    s.step = Chance(0.75) ? -1 : -2;
    if (s.step < -1) s.count = 1 + Pick(std::min(std::max(most, 1u), 4u));
    s.start = static_cast<std::int32_t>(Pick(3)) - (static_cast<std::int32_t>(s.count) - 1) * s.step;
    if (!m_options.steps) plain = Chance(0.75);
  }
  if ((m_options.carried || m_options.arrays) && Chance(0.5)) {
    // A local the loop carries, declared right before it.
    Statement d;
    d.kind = Statement::Kind::Declare;
    MakeDeclare(d);
    m_statements.push_back(std::move(d));
    s.before = static_cast<std::uint32_t>(m_statements.size() - 1);
  }
  if (m_options.jumps && !plain && Chance(0.4)) {
    s.flag = AddLocal({"k" + std::to_string(m_locals.size()), kBool, {1.0}, true});
    m_live.push_back(s.flag);
  }
  const Type counterType = whileLoop ? kFloat : doWhile && Chance(0.4) ? kFloat : kInt;
  // A do-while counter is 1 in the first iteration: the body adds 1 first;
  // a while loop's is 0 and the body adds 1 last.
  Local counter{(doWhile ? "d" : whileLoop ? "j" : "i") + std::to_string(m_locals.size() - 1), counterType,
                {doWhile ? 1.0 : static_cast<double>(s.start)}, true};
  const std::int32_t last = s.start + (static_cast<std::int32_t>(s.count) - 1) * s.step;
  counter.low = doWhile ? 1 : std::min(s.start, last);
  counter.high = counterType == kInt ? (doWhile ? static_cast<std::int32_t>(s.count) : std::max(s.start, last)) : -1;
  s.counter = AddLocal(std::move(counter));
  m_live.push_back(s.counter);
  const std::uint32_t counterNode = LocalNode(s.counter);
  if (whileLoop) {
    s.value = Binary(Op::Less, kBool, counterNode, Literal(kFloat, s.count));
    if (Chance(0.6)) s.value = Binary(Op::And, kBool, s.value, MakeCondition());
  } else if (down) {
    s.value = Chance(0.5) ? Binary(Op::GreaterEqual, kBool, counterNode, Literal(kInt, last))
                          : Binary(Op::Greater, kBool, counterNode, Literal(kInt, last - 1));
    if (!plain && Chance(0.35)) s.value = Binary(Op::And, kBool, s.value, MakeCondition());
  } else if (m_options.uniformBounds && !plain && Chance(0.7)) {
    s.value = UniformCondition(s, most, counterNode);
    if (s.dynamic) m_locals[s.counter].high = -1;  // no literal bound: it indexes nothing
  } else {
    s.value = Binary(Op::Less, kBool, counterNode, Literal(kInt, LiteralBound(s)));
    if (!plain && Chance(0.35)) s.value = Binary(Op::And, kBool, s.value, MakeCondition());  // may end the loop early
  }
  if (m_options.exitReads && s.kind == Statement::Kind::For && !s.dynamic && Chance(0.4)) {
    const std::uint32_t test = ExitTest(s.counter);
    if (test != kNone) s.value = Binary(Op::And, kBool, s.value, test);
  }
  if (s.kind == Statement::Kind::For) {
    // A uniform bound may have changed the count.
    Local& c = m_locals[s.counter];
    const std::int32_t final = s.start + (static_cast<std::int32_t>(s.count) - 1) * s.step;
    c.first = std::min(s.start, final);
    c.last = s.count ? std::max(s.start, final) : c.first - 1;
  }
  if (s.flag != kNone) s.value = Binary(Op::And, kBool, s.value, LocalNode(s.flag));
  m_flags.push_back(s.flag);
  m_counters.push_back(s.counter);
  m_carried.push_back(s.before != kNone ? m_statements[s.before].target : kNone);
  m_body = true;
  s.body = MakeBlock(ifDepth, loopDepth + 1, iterations * std::max(s.count, 1u), m_locals[0].type.base != Base::Bool);
  m_carried.pop_back();
  m_counters.pop_back();
  m_flags.pop_back();
  // A for loop's counter ends with it; a do-while's or while's was declared before it.
  if (s.kind == Statement::Kind::For) m_live.pop_back();
}

std::uint32_t Generator::UniformCondition(Statement& s, std::uint32_t most, std::uint32_t counterNode) {
  const std::uint32_t form = Pick(3);
  const bool integer = Chance(0.5);
  const Type type = integer ? kInt : kFloat;
  // A value in [low, high]: whole, or in sixteenths.
  auto value = [&](int low, int high) {
    return integer ? static_cast<double>(low + static_cast<int>(Pick(static_cast<std::uint32_t>(high - low + 1))))
                   : Sixteenths(Pick(static_cast<std::uint32_t>(16 * (high - low)) + 1), low);
  };
  if (form == 0 && s.kind == Statement::Kind::For) {
    // The uniform alone: from start by step, `i < n` runs ceil((n - start) / step) times, `i <= n`
    // floor((n - start) / step) + 1; none for n below the start.
    const bool inclusive = Chance(0.5);
    const int widest = static_cast<int>(std::max(most, 1u)) * s.step - (inclusive ? 1 : 0);
    const double n = s.start + value(-3, widest);
    const double passes = (n - s.start) / s.step;
    s.count = static_cast<std::uint32_t>(std::max(0.0, inclusive ? std::floor(passes) + 1 : std::ceil(passes)));
    s.dynamic = true;
    const std::uint32_t bound = NewUniform(type, {n}, 0);
    if (inclusive) return Binary(Op::LessEqual, kBool, counterNode, bound);
    return Chance(0.5) ? Binary(Op::Less, kBool, counterNode, bound) : Binary(Op::Greater, kBool, bound, counterNode);
  }
  const std::uint32_t literal = Binary(Op::Less, kBool, counterNode, Literal(kInt, LiteralBound(s)));
  std::uint32_t other;
  if (form <= 1) {
    // A uniform bound beside the literal one.
    const int last = s.start + (static_cast<int>(s.count) - 1) * s.step;
    const std::uint32_t bound = NewUniform(type, {s.start + value(-2, last - s.start + 2)}, 0);
    other = Chance(0.5) ? Binary(Op::Less, kBool, counterNode, bound) : Binary(Op::Greater, kBool, bound, counterNode);
  } else {
    // A uniform's comparison, decided before the first iteration.
    const std::uint32_t u = NewUniform(kFloat, {Sixteenths(Pick(129), -4)}, 0);
    const auto op = static_cast<Op>(static_cast<std::uint32_t>(Op::Less) + Pick(6));
    other = Binary(op, kBool, u, Literal(kFloat, Sixteenths(Pick(65), -2)));
  }
  return Chance(0.5) ? Binary(Op::And, kBool, literal, other) : Binary(Op::And, kBool, other, literal);
}

std::uint32_t Generator::IndexBelow(std::uint32_t length, std::uint32_t counter) {
  std::vector<std::uint32_t> fit;
  for (std::uint32_t k : m_live) {
    const Local& l = m_locals[k];
    if (l.type == kInt && l.elements == 0 && l.high >= l.low && static_cast<std::uint32_t>(l.high - l.low) < length &&
        (counter == kNone || k == counter))
      fit.push_back(k);
  }
  if (fit.empty() || (counter == kNone && Chance(0.2))) return Literal(kInt, Pick(length));
  const std::uint32_t k = fit[Pick(static_cast<std::uint32_t>(fit.size()))];
  const std::int32_t low = m_locals[k].low, span = m_locals[k].high - low;
  if (m_options.reversed && Chance(0.4)) {
    // Down from past the counter: n - i.
    const auto offset = static_cast<std::int32_t>(Pick(length - static_cast<std::uint32_t>(span)));
    return Binary(Op::Subtract, kInt, Literal(kInt, offset + span + low), LocalNode(k));
  }
  if (counter != kNone && low >= 0 && static_cast<std::uint32_t>(low + span) < length && Chance(0.85)) {
    // Up from the counter itself: the form a loop register can stand for.
    const std::uint32_t shift = Pick(length - static_cast<std::uint32_t>(low + span));
    return shift == 0 ? LocalNode(k) : Binary(Op::Add, kInt, LocalNode(k), Literal(kInt, shift));
  }
  // The index runs over [offset, offset + span], up or down.
  const auto offset = static_cast<std::int32_t>(Pick(length - static_cast<std::uint32_t>(span)));
  const std::uint32_t read = LocalNode(k);
  if (Chance(0.5)) return Binary(Op::Subtract, kInt, Literal(kInt, offset + span + low), read);
  const std::int32_t shift = offset - low;
  if (shift == 0) return read;
  return Binary(shift > 0 ? Op::Add : Op::Subtract, kInt, read, Literal(kInt, std::abs(shift)));
}

std::uint32_t Generator::ArrayRead(const Type& type, std::uint32_t counter) {
  if (type.matrix || type.base != Base::Float) return kNone;
  // An element of the type, or a component of a vector element.
  Type element = type;
  if (type.IsScalar() && Chance(0.5)) element = Type{Base::Float, 1, 2 + Pick(3), false};
  std::vector<std::uint32_t> locals, uniforms;
  for (std::uint32_t k : m_live)
    if (m_locals[k].elements && m_locals[k].type == element) locals.push_back(k);
  for (std::uint32_t k = 0; k < m_variables.size(); ++k)
    if (m_variables[k].elements && m_variables[k].type == element) uniforms.push_back(k);
  Node n{Kind::Element, Op::None, element, {}, {}, 0, {}, true};
  std::uint32_t length;
  if (counter != kNone) {
    // A uniform array the counter can index, made when none fits: mostly
    // one it can index directly (elements 0 to its last value and on).
    const Local& c = m_locals[counter];
    if (c.type != kInt || c.elements || c.high < c.low || c.high - c.low >= 8 || c.low < 0) return kNone;
    const auto span = static_cast<std::uint32_t>(c.high - c.low) + 1;
    const auto reach = static_cast<std::uint32_t>(c.high) + 1;
    const std::uint32_t needed = reach <= 12 && Chance(0.8) ? reach : span;
    std::vector<std::uint32_t> fit;
    for (std::uint32_t k : uniforms)
      if (m_variables[k].elements >= needed) fit.push_back(k);
    if (fit.empty() || Chance(0.3)) {
      length = needed + Pick(std::max(9u, needed + 2) - needed);
      std::vector<double> values;
      for (std::uint32_t i = 0; i < length * element.Count(); ++i) values.push_back(RandomValue(Base::Float));
      n.variable = NewUniform(element, std::move(values), length);
    } else {
      n.variable = fit[Pick(static_cast<std::uint32_t>(fit.size()))];
      length = m_variables[n.variable].elements;
    }
  } else if (!locals.empty() && Chance(0.7)) {
    n.kind = Kind::LocalElement;
    n.variable = locals[Pick(static_cast<std::uint32_t>(locals.size()))];
    length = m_locals[n.variable].elements;
  } else if (!uniforms.empty() && Chance(0.7)) {
    n.variable = uniforms[Pick(static_cast<std::uint32_t>(uniforms.size()))];
    length = m_variables[n.variable].elements;
  } else {
    length = 2 + Pick(3);
    std::vector<double> values;
    for (std::uint32_t i = 0; i < length * element.Count(); ++i) values.push_back(RandomValue(Base::Float));
    n.variable = NewUniform(element, std::move(values), length);
  }
  n.children = {IndexBelow(length, counter)};
  if (!Evaluate(n)) return kNone;
  const std::uint32_t read = Add(std::move(n));
  return element == type ? read : ComponentOf(read, Pick(element.columns));
}

std::uint32_t Generator::ReadOfLocal(const Type& type, std::size_t first) {
  std::vector<std::uint32_t> fit;  // r aside: it is read everywhere already
  for (std::size_t i = std::max<std::size_t>(first, 1); i < m_live.size(); ++i) {
    const std::uint32_t k = m_live[i];
    if (!type.matrix || (m_locals[k].type == type && !m_locals[k].elements)) fit.push_back(k);
  }
  if (fit.empty()) return kNone;
  if (type.matrix) return LocalNode(fit[Pick(static_cast<std::uint32_t>(fit.size()))]);
  const std::uint32_t k = fit[Pick(static_cast<std::uint32_t>(fit.size()))];
  const Local& l = m_locals[k];
  std::uint32_t read;
  if (l.elements) {
    Node n{Kind::LocalElement, Op::None, l.type, {IndexBelow(l.elements)}, {}, k, {}, true};
    if (!Evaluate(n)) return kNone;
    read = Add(std::move(n));
  } else {
    read = LocalNode(k);
  }
  Type from = l.type;
  if (from.matrix) return kNone;
  if (from.IsVector() && type.IsScalar()) {
    read = ComponentOf(read, Pick(from.columns));
    from = Type{from.base, 1, 1, false};
  } else if (from.IsVector() && type.IsVector()) {
    const Type picked{from.base, 1, type.columns, false};
    Node n{Kind::Swizzle, Op::None, picked, {read}, {}, 0, {}, true};
    for (std::uint32_t i = 0; i < type.columns; ++i) n.picks.push_back(Pick(from.columns));
    Evaluate(n);
    read = Add(std::move(n));
    from = picked;
  }
  if (from == type) return read;
  Node cast{Kind::Cast, Op::None, type, {read}, {}, 0, {}, true};
  if (!Evaluate(cast)) return kNone;
  return Add(std::move(cast));
}

bool Generator::Store(const Statement& s, const Node& n) {
  Local& l = m_locals[s.target];
  const std::uint32_t size = l.type.Count();
  std::size_t base = 0;
  if (s.element != kNone) {
    const double k = m_nodes[s.element].value[0];
    if (!(k >= 0 && k < l.elements)) return false;
    base = static_cast<std::size_t>(k) * size;
  }
  l.error.resize(l.value.size(), 0.0);
  auto put = [&](std::size_t at, std::size_t from) {
    l.value[at] = n.value[from];
    l.error[at] = from < n.error.size() ? n.error[from] : 0.0;
  };
  if (!s.components.empty()) {
    for (std::size_t i = 0; i < s.components.size(); ++i) put(base + s.components[i], i);
  } else if (s.component >= 0) {
    put(base + static_cast<std::uint32_t>(s.component), 0);
  } else if (!l.elements) {
    l.value = n.value;
    l.error = n.error;
    l.exact = n.exact;
    return true;
  } else {
    for (std::size_t i = 0; i < n.value.size(); ++i) put(base + i, i);
  }
  l.exact = l.exact && n.exact;
  return true;
}

bool Generator::RunShaped(std::uint32_t index, std::vector<bool>* trace) {
  const Statement& s = m_statements[index];
  if (s.kind == Statement::Kind::Declare) {
    Local& l = m_locals[s.target];
    if (s.inits.empty()) {
      if (!Reevaluate(s.value)) return false;
      l.value = m_nodes[s.value].value;
      l.error = m_nodes[s.value].error;
      l.exact = m_nodes[s.value].exact;
      return true;
    }
    l.value.clear();
    l.error.clear();
    l.exact = true;
    for (std::uint32_t k : s.inits) {
      if (!Reevaluate(k)) return false;
      const Node& n = m_nodes[k];
      l.value.insert(l.value.end(), n.value.begin(), n.value.end());
      l.error.resize(l.value.size() - n.value.size(), 0.0);
      l.error.insert(l.error.end(), n.error.begin(), n.error.end());
      l.exact = l.exact && n.exact;
    }
    return true;
  }
  if (s.kind == Statement::Kind::Call) {
    Function& f = m_functions[m_nodes[s.value].variable];
    Local& inout = f.parameters.back();
    const Local& target = m_locals[s.target];
    inout.value = target.value;
    inout.exact = target.exact;
    inout.error = target.error;
    if (!Reevaluate(s.value)) return false;
    if (f.update == kNone) return true;
    if (!Reevaluate(f.update)) return false;
    const Node& n = m_nodes[f.update];
    Local& l = m_locals[s.target];
    l.value = n.value;
    l.exact = n.exact;
    l.error = n.error;
    return true;
  }
  // do-while: the body runs, then the condition decides.
  if (s.before != kNone && !Run(s.before, trace)) return false;
  if (s.flag != kNone) m_locals[s.flag].value = {1.0}, m_locals[s.flag].error.clear();
  m_locals[s.counter].value = {0.0};
  const std::vector<Local> entry = m_locals;
  std::uint32_t k = 0;
  for (;;) {
    if (++k > s.count) return false;  // the condition holds only while the counter is below its bound
    m_locals[s.counter].value = {static_cast<double>(k)};
    for (std::uint32_t b : s.body)
      if (!Run(b, trace)) return false;
    if (!Test(s.value)) return false;
    const bool more = trace ? m_nodes[s.value].value[0] != 0 : k < s.count;
    if (trace) trace->push_back(more);
    if (!more) break;
  }
  if (!trace || k == s.count) return true;
  return SpeculateRest(index, entry, k + 1, s.count);
}

std::string Generator::TargetText(const Statement& s) const {
  const Local& l = m_locals[s.target];
  std::string text = l.name;
  if (s.element != kNone) text += "[" + Text(s.element) + "]";
  if (!s.components.empty()) {
    text += ".";
    for (std::uint32_t c : s.components) text += kLetters[c];
  } else if (s.component >= 0) {
    const auto c = static_cast<std::uint32_t>(s.component);
    text += l.type.matrix ? "._m" + std::to_string(c / l.type.columns) + std::to_string(c % l.type.columns)
                          : std::string(".") + kLetters[c];
  }
  return text;
}

std::string Generator::ShapedText(std::uint32_t index, std::uint32_t indent) const {
  const Statement& s = m_statements[index];
  const std::string pad(2 * indent, ' ');
  const std::string flag = (s.before != kNone ? ShapedText(s.before, indent) : "") +
                           (s.flag != kNone ? pad + "bool " + m_locals[s.flag].name + " = true;\n" : "");
  const std::string after = s.after != kNone ? ShapedText(s.after, indent) : "";
  switch (s.kind) {
    case Statement::Kind::Assign: {
      if (s.declares) return pad + ResultType().Name() + " r = " + Text(s.value) + ";\n";
      const std::string op = s.op == Op::None ? "=" : std::string(OpText(s.op)) + "=";
      return pad + TargetText(s) + " " + op + " " + Text(s.value) + ";\n";
    }
    case Statement::Kind::Declare: {
      const Local& l = m_locals[s.target];
      if (s.inits.empty()) return pad + l.type.Name() + " " + l.name + " = " + Text(s.value) + ";\n";
      std::string text = pad + l.type.Name() + " " + l.name + "[" + std::to_string(l.elements) + "] = {";
      for (std::size_t k = 0; k < s.inits.size(); ++k) text += (k ? ", " : "") + Text(s.inits[k]);
      return text + "};\n";
    }
    case Statement::Kind::For: {
      const std::string& i = m_locals[s.counter].name;
      const std::string step = s.step == 1    ? i + "++"
                               : s.step == -1 ? i + "--"
                               : s.step < 0   ? i + " -= " + std::to_string(-s.step)
                                              : i + " += " + std::to_string(s.step);
      const std::string start = s.from != kNone ? m_locals[s.from].name : std::to_string(s.start);
      return flag + pad + "for (int " + i + " = " + start + "; " + Text(s.value) + "; " + step +
             ") " + BlockText(s.body, indent) + "\n" + after;
    }
    case Statement::Kind::DoWhile: {
      const Local& d = m_locals[s.counter];
      const std::string step = pad + "  " + d.name + " += 1;\n";
      return flag + pad + d.type.Name() + " " + d.name + " = 0;\n" + pad + "do " + BlockText(s.body, indent, step) +
             " while (" + Text(s.value) + ");\n" + after;
    }
    case Statement::Kind::While: {
      const std::string& w = m_locals[s.counter].name;
      std::string text = flag + pad + "float " + w + " = 0;\n" + pad + "while (" + Text(s.value) + ") {\n";
      for (std::uint32_t k : s.body) text += StatementText(k, indent + 1);
      return text + pad + "  " + w + " += 1;\n" + pad + "}\n" + after;
    }
    case Statement::Kind::Call: {
      const Node& call = m_nodes[s.value];
      std::string text = pad + m_functions[call.variable].name + "(";
      for (std::uint32_t a : call.children) text += Text(a) + ", ";
      return text + m_locals[s.target].name + ");\n";
    }
    case Statement::Kind::If:
      break;
  }
  return StatementText(index, indent);  // if/else
}

}  // namespace hlslgen
