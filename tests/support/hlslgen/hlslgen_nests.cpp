// Loop nests of the generator's flow-control programs, each made whole: dead
// nests (loops whose results nothing reads, holding while loops and calls),
// exit nests (a uniform loop around loops with early exits that write a local
// array at their counters and test it), kept nests (loops with
// data-dependent exits around a loop of constant length that stays a loop)
// and outer-bound nests (an inner bound made of the outer counter).
#include <algorithm>
#include <functional>

#include "tests/support/hlslgen/hlslgen.h"

namespace hlslgen {

std::uint32_t Generator::PushStatement(Statement s) {
  m_statements.push_back(std::move(s));
  return static_cast<std::uint32_t>(m_statements.size() - 1);
}

std::uint32_t Generator::OuterCount(std::uint32_t outer, std::uint32_t form, std::uint32_t most, std::int32_t* n) {
  const Local& o = m_locals[outer];
  if (o.type != kInt || o.last < o.first || o.first < 0) return 0;
  std::int64_t count = 0;
  switch (form) {
    case 0:  // 2 * i
      count = 2 * std::int64_t{o.last};
      break;
    case 1:  // i + 1
      count = std::int64_t{o.last} + 1;
      break;
    case 2:  // n - i, most passes at the least i
      *n = o.first + 1 + static_cast<std::int32_t>(Pick(std::max(most, 1u)));
      count = *n - o.first;
      break;
    default:  // i * i
      count = std::int64_t{o.last} * o.last;
      break;
  }
  return count >= 1 && count <= most ? static_cast<std::uint32_t>(count) : 0;
}

std::uint32_t Generator::PlannedLoop(LoopPlan plan, std::uint32_t iterations, const BodyMaker& body) {
  Statement s;
  s.kind = plan.kind;
  s.start = plan.start;
  s.step = plan.step;
  const bool forLoop = plan.kind == Statement::Kind::For;
  std::int32_t n = 0;
  if (plan.bound == LoopPlan::Bound::Outer) {
    const std::uint32_t most = plan.count;
    if (plan.shared && plan.form == 2) {
      // n0 - i: most passes at the least i.
      const Local& o = m_locals[plan.outer];
      plan.count = o.type == kInt && o.last >= o.first ? SharedPasses(o.first) : 0;
      if (plan.count > most) plan.count = 0;
    } else {
      plan.count = OuterCount(plan.outer, plan.form, most, &n);
    }
    if (plan.count == 0) {
      plan.bound = LoopPlan::Bound::Literal;
      plan.shared = false;
      plan.count = std::min(2 + Pick(3), std::max(most, 1u));
    }
  }
  if (plan.bound == LoopPlan::Bound::Shared) plan.count = SharedPasses(forLoop ? plan.start : 0);
  if (plan.from != kNone) {
    // Counted from the enclosing counter: `count` passes at its least value.
    s.from = plan.from;
    s.start = m_locals[plan.from].first;
    if (plan.bound == LoopPlan::Bound::Shared) plan.count = SharedPasses(s.start);
  }
  s.count = plan.count;
  if (plan.flag) {
    s.flag = AddLocal({"k" + std::to_string(m_locals.size()), kBool, {1.0}, true});
    m_live.push_back(s.flag);
  }
  const std::int32_t last = s.start + (static_cast<std::int32_t>(s.count) - 1) * s.step;
  Local c{"i" + std::to_string(m_locals.size() - 1), kInt, {static_cast<double>(s.start)}, true};
  if (forLoop) {
    c.low = c.first = std::min(s.start, last);
    c.high = c.last = std::max(s.start, last);
    // The compiler cannot bound it: it indexes nothing.
    if (plan.bound == LoopPlan::Bound::Uniform || plan.bound == LoopPlan::Bound::Shared) c.high = -1;
  } else if (plan.kind == Statement::Kind::DoWhile) {
    c.name[0] = 'd';
    c.value = {1.0};
    c.low = 1;
    c.high = plan.bound == LoopPlan::Bound::Shared ? -1 : static_cast<std::int32_t>(s.count);
  } else {
    c.name[0] = 'j';
    c.type = kFloat;
    c.value = {0.0};
  }
  s.counter = AddLocal(std::move(c));
  m_live.push_back(s.counter);
  const std::uint32_t counter = LocalNode(s.counter);
  if (plan.bound == LoopPlan::Bound::Shared) {
    const std::uint32_t bound = SharedBound();
    s.dynamic = true;
    s.value = Chance(0.75) ? Binary(Op::Less, kBool, counter, bound) : Binary(Op::Greater, kBool, bound, counter);
  } else if (!forLoop) {
    s.value = Binary(Op::Less, kBool, counter, Literal(m_locals[s.counter].type, s.count));
  } else if (plan.from != kNone) {
    s.value = Binary(Op::Less, kBool, counter, Literal(kInt, s.start + static_cast<std::int32_t>(s.count)));
  } else if (plan.bound == LoopPlan::Bound::Uniform) {
    // i < n runs n - start times for a whole n, as often for n less a half.
    const bool integer = Chance(0.5);
    const double bound = s.start + static_cast<double>(s.count) - (integer ? 0.0 : 0.5);
    const std::uint32_t u = NewUniform(integer ? kInt : kFloat, {bound}, 0);
    s.dynamic = true;
    s.value = Chance(0.5) ? Binary(Op::Less, kBool, counter, u) : Binary(Op::Greater, kBool, u, counter);
  } else if (plan.bound == LoopPlan::Bound::Outer) {
    const std::uint32_t i = LocalNode(plan.outer);
    std::uint32_t e;
    switch (plan.form) {
      case 0:
        e = Binary(Op::Multiply, kInt, Literal(kInt, 2), i);
        break;
      case 1:
        e = Binary(Op::Add, kInt, i, Literal(kInt, 1));
        break;
      case 2:
        if (plan.shared)
          e = Binary(Op::Subtract, kFloat, SharedBound(), i);
        else
          e = Binary(Op::Subtract, kInt, Chance(0.5) ? Literal(kInt, n) : NewUniform(kInt, {double(n)}, 0), i);
        break;
      default:
        e = Binary(Op::Multiply, kInt, i, LocalNode(plan.outer));
        break;
    }
    s.value = Binary(Op::Less, kBool, counter, e);
  } else if (s.step < 0) {
    s.value = Chance(0.5) ? Binary(Op::GreaterEqual, kBool, counter, Literal(kInt, last))
                          : Binary(Op::Greater, kBool, counter, Literal(kInt, last - 1));
  } else {
    s.value = s.step == 1 && Chance(0.3) ? Binary(Op::LessEqual, kBool, counter, Literal(kInt, last))
                                         : Binary(Op::Less, kBool, counter, Literal(kInt, LiteralBound(s)));
  }
  std::uint32_t exit = kNone;
  if (plan.exit == LoopPlan::Exit::ArrayTest && forLoop) exit = ExitTest(s.counter);
  if (plan.exit == LoopPlan::Exit::Condition || (plan.exit == LoopPlan::Exit::ArrayTest && exit == kNone))
    exit = MakeCondition();
  if (exit != kNone) s.value = Binary(Op::And, kBool, s.value, exit);
  if (s.flag != kNone) s.value = Binary(Op::And, kBool, s.value, LocalNode(s.flag));
  m_flags.push_back(s.flag);
  m_counters.push_back(s.counter);
  m_carried.push_back(kNone);
  m_body = false;
  const std::size_t live = m_live.size();
  s.body = body(s.counter, iterations * std::max(s.count, 1u));
  m_live.resize(live);
  m_body = false;
  m_carried.pop_back();
  m_counters.pop_back();
  m_flags.pop_back();
  if (forLoop) m_live.pop_back();
  return PushStatement(std::move(s));
}

std::uint32_t Generator::ExitTest(std::uint32_t counter) {
  const Local& c = m_locals[counter];
  if (c.type != kInt || c.elements || c.high < c.low || c.low < 0) return kNone;
  std::vector<std::uint32_t> arrays;
  for (std::uint32_t k : m_live) {
    const Local& l = m_locals[k];
    if (l.elements && l.type.base == Base::Float && static_cast<std::uint32_t>(c.high - c.low) < l.elements)
      arrays.push_back(k);
  }
  std::uint32_t read = kNone;
  if (!arrays.empty() && Chance(0.6)) {
    const std::uint32_t k = arrays[Pick(static_cast<std::uint32_t>(arrays.size()))];
    const Local& l = m_locals[k];
    Node n{Kind::LocalElement, Op::None, l.type, {IndexBelow(l.elements, counter)}, {}, k, {}, true};
    if (Evaluate(n)) {
      read = Add(std::move(n));
      if (!m_nodes[read].type.IsScalar()) read = ComponentOf(read, Pick(m_nodes[read].type.columns));
    }
  } else {
    read = ArrayRead(kFloat, counter);
  }
  if (read == kNone) return kNone;
  const auto op = static_cast<Op>(static_cast<std::uint32_t>(Op::Less) + Pick(4));
  const std::uint32_t other = Chance(0.5) ? Literal(kFloat, (static_cast<double>(Pick(97)) - 48.0) / 16.0 + 1.0 / 32)
                                          : Make(kFloat, ExpressionDepth());
  return Binary(op, kBool, read, other);
}

std::uint32_t Generator::MakeNest(std::uint32_t ifDepth) {
  std::vector<std::uint32_t> kinds;
  if (m_options.deadNests) kinds.push_back(0);
  if (m_options.exitNests) kinds.push_back(1);
  if (m_options.keptLoops) kinds.push_back(2);
  if (m_options.outerBounds) kinds.push_back(3);
  if (UniformNests()) kinds.insert(kinds.end(), 2, 4);  // the later nests lead where they are on
  switch (kinds[Pick(static_cast<std::uint32_t>(kinds.size()))]) {
    case 4:
      return MakeUniformNest();
    case 0:
      return MakeDeadNest();
    case 1:
      return MakeExitNest(ifDepth);
    case 2:
      return MakeKeptNest(ifDepth);
    default:
      return MakeOuterNest(ifDepth);
  }
}

std::uint32_t Generator::MakeDeadNest() {
  const std::uint32_t outer = m_deadFrom;
  m_deadFrom = static_cast<std::uint32_t>(m_locals.size());
  LoopPlan plan;
  plan.count = 1 + Pick(3);
  plan.bound = Chance(0.6) ? LoopPlan::Bound::Uniform : LoopPlan::Bound::Literal;
  const std::uint32_t nest = PlannedLoop(plan, 1, [&](std::uint32_t, std::uint32_t iterations) {
    // A while loop and a call at least, in either order, and at times a
    // loop of constant length.
    std::vector<std::uint32_t> body;
    LoopPlan inner;
    inner.kind = Statement::Kind::While;
    inner.count = 2 + Pick(3);
    inner.exit = Chance(0.7) ? LoopPlan::Exit::Condition : LoopPlan::Exit::None;
    auto dead = [&](std::uint32_t, std::uint32_t passes) {
      std::vector<std::uint32_t> statements;
      for (std::uint32_t n = 1 + Pick(2), k = 0; k < n; ++k) statements.push_back(DeadStatement(passes));
      return statements;
    };
    // Each statement is made where it stands: what it reads is live there.
    const bool callFirst = Chance(0.5);
    if (!callFirst) body.push_back(PlannedLoop(inner, iterations, dead));
    Statement call;
    std::vector<std::uint32_t> own;
    for (std::uint32_t k : m_live)
      if (k >= m_deadFrom && !m_locals[k].elements && m_locals[k].type.base == Base::Float && m_locals[k].written)
        own.push_back(k);
    if (!own.empty() && Chance(0.5)) {
      MakeCallStatement(call, own[Pick(static_cast<std::uint32_t>(own.size()))], false);
      body.push_back(PushStatement(std::move(call)));
    } else {
      // A call that leaves a live local alone, or a local of the nest's own
      // that holds a call's value.
      if (!MakeCallStatement(call, kNone, true)) {
        call.kind = Statement::Kind::Declare;
        const Type t{Base::Float, 1, 1 + Pick(4), false};
        call.value = UserCallOf(t);
        if (call.value == kNone) call.value = Make(t, ExpressionDepth());
        call.target = DeadLocal(t, call.value);
      }
      body.push_back(PushStatement(std::move(call)));
    }
    if (callFirst) body.push_back(PlannedLoop(inner, iterations, dead));
    if (Chance(0.5)) {
      LoopPlan constant;
      constant.count = 2 + Pick(4);
      body.push_back(PlannedLoop(constant, iterations, dead));
    }
    return body;
  });
  m_deadFrom = outer;
  return nest;
}

std::uint32_t Generator::DeadStatement(std::uint32_t iterations) {
  std::vector<std::uint32_t> own;
  for (std::uint32_t k : m_live)
    if (k >= m_deadFrom && !m_locals[k].elements && m_locals[k].type.base == Base::Float && m_locals[k].written)
      own.push_back(k);
  const std::uint32_t choice = Pick(5);
  if (choice == 0 && iterations <= 64) {
    LoopPlan inner;
    inner.kind = Chance(0.5) ? Statement::Kind::While : Statement::Kind::For;
    inner.count = 2 + Pick(3);
    inner.exit = Chance(0.5) ? LoopPlan::Exit::Condition : LoopPlan::Exit::None;
    return PlannedLoop(inner, iterations, [&](std::uint32_t, std::uint32_t passes) {
      return std::vector<std::uint32_t>{DeadStatement(passes)};
    });
  }
  Statement s;
  if (choice == 1 && MakeCallStatement(s, own.empty() ? kNone : own[Pick(static_cast<std::uint32_t>(own.size()))],
                                       own.empty()))
    return PushStatement(std::move(s));
  if (choice == 2 && !own.empty()) {
    m_forceTarget = own[Pick(static_cast<std::uint32_t>(own.size()))];
    MakeAssign(s, false);
    m_forceTarget = kNone;
    return PushStatement(std::move(s));
  }
  s = Statement{};
  s.kind = Statement::Kind::Declare;
  const Type t{Base::Float, 1, 1 + Pick(4), false};
  s.value = Chance(0.5) ? UserCallOf(t) : kNone;
  if (s.value == kNone) s.value = Make(t, ExpressionDepth());
  s.target = DeadLocal(t, s.value);
  return PushStatement(std::move(s));
}

std::uint32_t Generator::DeadLocal(const Type& type, std::uint32_t value) {
  const Node& n = m_nodes[value];
  Local l{"e" + std::to_string(m_locals.size()), type, n.value, n.exact};
  l.written = true;
  const std::uint32_t local = AddLocal(std::move(l));
  m_live.push_back(local);
  return local;
}

std::uint32_t Generator::MakeExitNest(std::uint32_t ifDepth) {
  // The array, declared before the outer loop.
  Statement d;
  d.kind = Statement::Kind::Declare;
  Local a{"a" + std::to_string(m_locals.size()), Type{Base::Float, 1, 1 + Pick(4), false}, {}, true};
  a.written = true;
  a.elements = 3 + Pick(3);
  for (std::uint32_t e = 0; e < a.elements; ++e) {
    d.inits.push_back(Make(a.type, ExpressionDepth()));
    const Node& n = m_nodes[d.inits.back()];
    a.value.insert(a.value.end(), n.value.begin(), n.value.end());
    a.exact = a.exact && n.exact;
  }
  const std::size_t live = m_live.size();
  d.target = AddLocal(std::move(a));
  const std::uint32_t array = d.target;
  m_live.push_back(array);
  const std::uint32_t declaration = PushStatement(std::move(d));
  LoopPlan outer;
  outer.count = 1 + Pick(3);
  outer.bound = LoopPlan::Bound::Uniform;
  const std::uint32_t nest = PlannedLoop(outer, 1, [&](std::uint32_t, std::uint32_t iterations) {
    std::vector<std::uint32_t> body;
    for (std::uint32_t n = 1 + Pick(2), k = 0; k < n; ++k) {
      LoopPlan middle;
      middle.count = 2 + Pick(3);
      if (Chance(0.5)) {  // down to 1: i > 0
        middle.step = -1;
        middle.start = static_cast<std::int32_t>(middle.count);
      }
      middle.exit = LoopPlan::Exit::Condition;
      middle.flag = m_options.jumps && Chance(0.3);
      body.push_back(PlannedLoop(middle, iterations, [&](std::uint32_t, std::uint32_t passes) {
        // With a flag: if (...) { flag = false; } else { the inner loop }.
        Statement jump;
        jump.kind = Statement::Kind::If;
        if (m_flags.back() != kNone) {
          jump.value = MakeCondition();
          Statement clear;
          clear.target = m_flags.back();
          clear.value = clear.stored = Literal(kBool, 0);
          jump.body.push_back(PushStatement(std::move(clear)));
        }
        LoopPlan inner;
        inner.count = 2 + Pick(std::min(m_locals[array].elements - 1, 3u));
        inner.exit = LoopPlan::Exit::ArrayTest;
        const std::uint32_t loop = PlannedLoop(inner, passes, [&](std::uint32_t, std::uint32_t) {
          // The array written at the counter, and what it holds read.
          std::vector<std::uint32_t> statements;
          Statement write;
          m_forceTarget = array;
          MakeAssign(write, false);
          m_forceTarget = kNone;
          statements.push_back(PushStatement(std::move(write)));
          if (m_locals[0].type.base != Base::Bool) {
            Statement read;
            MakeAssign(read, true);
            statements.push_back(PushStatement(std::move(read)));
          }
          if (Chance(0.5)) std::swap(statements[0], statements.back());
          return statements;
        });
        if (jump.body.empty()) return std::vector<std::uint32_t>{loop};
        jump.otherwise.push_back(loop);
        return std::vector<std::uint32_t>{PushStatement(std::move(jump))};
      }));
    }
    return body;
  });
  (void)ifDepth;
  m_statements[nest].before = declaration;
  // What the array holds reaches r.
  m_statements[nest].after = MakeReadAfter(live);
  return nest;
}

std::uint32_t Generator::MakeKeptNest(std::uint32_t ifDepth) {
  (void)ifDepth;
  // One or two loops that may end early, 4 to 16 passes in all, around the
  // loop of constant length.
  const std::uint32_t outer = 2 + Pick(3), middle = Chance(0.5) ? 2 + Pick(3) : 1;
  auto exitLoop = [&](std::uint32_t count) {
    LoopPlan plan;
    plan.kind = Chance(0.5) ? Statement::Kind::DoWhile : Statement::Kind::For;
    plan.count = count;
    plan.exit = LoopPlan::Exit::Condition;
    return plan;
  };
  auto kept = [&](std::uint32_t, std::uint32_t iterations) {
    LoopPlan plan;
    plan.count = 2 + Pick(2);
    plan.step = Chance(0.3) ? 2 : 1;
    std::vector<std::uint32_t> body{PlannedLoop(plan, iterations, [&](std::uint32_t, std::uint32_t) {
      Statement s;
      m_work = true;
      MakeAssign(s, m_locals[0].type.base != Base::Bool);
      m_work = false;
      return std::vector<std::uint32_t>{PushStatement(std::move(s))};
    })};
    if (Chance(0.5)) {
      Statement s;
      MakeAssign(s, false);
      body.push_back(PushStatement(std::move(s)));
    }
    return body;
  };
  if (middle == 1) return PlannedLoop(exitLoop(outer), 1, kept);
  return PlannedLoop(exitLoop(outer), 1, [&](std::uint32_t, std::uint32_t iterations) {
    return std::vector<std::uint32_t>{PlannedLoop(exitLoop(middle), iterations, kept)};
  });
}

std::uint32_t Generator::MakeOuterNest(std::uint32_t ifDepth) {
  LoopPlan outer;
  outer.count = 2 + Pick(4);
  outer.start = static_cast<std::int32_t>(Pick(2));
  if (Chance(0.3)) outer.bound = LoopPlan::Bound::Uniform;
  return PlannedLoop(outer, 1, [&](std::uint32_t counter, std::uint32_t iterations) {
    LoopPlan inner;
    inner.bound = LoopPlan::Bound::Outer;
    inner.outer = counter;
    inner.form = Pick(4);
    inner.count = std::min({16u, kMostIterations / iterations});
    if (Chance(0.3)) inner.exit = LoopPlan::Exit::Condition;
    std::vector<std::uint32_t> body{PlannedLoop(inner, iterations, [&](std::uint32_t, std::uint32_t passes) {
      m_body = true;
      return MakeBlock(ifDepth, 2, passes, m_locals[0].type.base != Base::Bool);
    })};
    if (Chance(0.5)) {
      Statement s;
      MakeAssign(s, m_locals[0].type.base != Base::Bool);
      body.push_back(PushStatement(std::move(s)));
    }
    return body;
  });
}

std::uint32_t Generator::StatementCount() const {
  std::function<std::uint32_t(std::uint32_t)> count = [&](std::uint32_t k) {
    const Statement& s = m_statements[k];
    std::uint32_t n = 1 + (s.flag != kNone) + (s.kind == Statement::Kind::DoWhile || s.kind == Statement::Kind::While);
    if (s.before != kNone) n += count(s.before);
    if (s.after != kNone) n += count(s.after);
    for (std::uint32_t b : s.body) n += count(b);
    for (std::uint32_t b : s.otherwise) n += count(b);
    return n;
  };
  std::uint32_t n = 0;
  for (std::uint32_t k : m_top) n += count(k);
  for (const Function& f : m_functions) {
    n += 1 + (f.update != kNone);
    for (std::uint32_t k : f.body) n += count(k);
  }
  return n;
}

}  // namespace hlslgen
