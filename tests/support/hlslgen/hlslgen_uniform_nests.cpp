// Nests bounded by the uniform n0 for the generator's flow-control programs:
// nests three to five deep whose levels mix literal bounds, n0 and bounds
// made of an outer counter; while and do loops of length n0 inside counted
// loops; functions holding loops bounded by n0, called inside loops; nests
// whose results nothing reads; and loops of a few passes around such nests.
// The trip counts follow from n0's value, so the generator runs them as it
// runs any loop; a compiler sees loops it cannot count.
#include <algorithm>
#include <cmath>

#include "tests/support/hlslgen/hlslgen.h"

namespace hlslgen {

namespace {

constexpr const char* kShared = "n0";

bool IsLoop(const Statement& s) {
  return s.kind == Statement::Kind::For || s.kind == Statement::Kind::DoWhile || s.kind == Statement::Kind::While;
}

}  // namespace

std::uint32_t Generator::SharedVariable() {
  for (std::uint32_t k = 0; k < m_variables.size(); ++k)
    if (m_variables[k].name == kShared) return k;
  const std::uint32_t node = NewUniform(kFloat, {2.0 + 0.5 * Pick(4)}, 0);
  const std::uint32_t k = m_nodes[node].variable;
  m_variables[k].name = kShared;
  return k;
}

std::uint32_t Generator::SharedBound() {
  const std::uint32_t k = SharedVariable();
  return Add({Kind::Variable, Op::None, kFloat, {}, {}, k, m_variables[k].value, true});
}

std::uint32_t Generator::SharedPasses(double start) {
  const double n = m_variables[SharedVariable()].value[0];
  return static_cast<std::uint32_t>(std::max(0.0, std::ceil(n - start)));
}

Generator::LoopPlan Generator::LevelPlan(std::uint32_t iterations, bool shared) {
  LoopPlan plan;
  const std::uint32_t budget = std::max(kMostIterations / iterations, 1u);
  // Enclosing int counters whose values the generator knows.
  std::vector<std::uint32_t> outer;
  for (std::uint32_t c : m_counters) {
    const Local& l = m_locals[c];
    if (l.type == kInt && !l.elements && l.last >= l.first && l.first >= 0) outer.push_back(c);
  }
  auto any = [&] { return outer[Pick(static_cast<std::uint32_t>(outer.size()))]; };
  switch (shared ? 1 : Pick(outer.empty() ? 2 : 4)) {
    case 0:
      plan.count = std::min(2 + Pick(3), budget);
      plan.start = static_cast<std::int32_t>(Pick(2));
      break;
    case 1:
      plan.bound = LoopPlan::Bound::Shared;
      if (m_options.uniformWhiles && !m_counters.empty() && Chance(0.3))
        plan.kind = Chance(0.5) ? Statement::Kind::While : Statement::Kind::DoWhile;
      break;
    case 2:  // 2 * i, i + 1, n - i (n literal or n0), i * i
      plan.bound = LoopPlan::Bound::Outer;
      plan.outer = any();
      plan.form = Pick(4);
      plan.shared = plan.form == 2 && Chance(0.5);
      plan.count = std::min(budget, 16u);
      break;
    default:  // for (int j = i; ...)
      plan.from = any();
      if (Chance(0.5)) plan.bound = LoopPlan::Bound::Shared;
      else plan.count = std::min(1 + Pick(3), budget);
      break;
  }
  if (plan.bound == LoopPlan::Bound::Shared) {
    const double start = plan.from != kNone ? m_locals[plan.from].first : plan.start;
    if (SharedPasses(plan.kind == Statement::Kind::For ? start : 0) > budget) {
      plan = LoopPlan{};
      plan.count = std::min(2u, budget);
    }
  }
  return plan;
}

std::uint32_t Generator::NestLevel(std::uint32_t levels, std::uint32_t iterations, bool dead, std::uint32_t sharedAt) {
  LoopPlan plan = LevelPlan(iterations, levels == sharedAt);
  if (!dead && levels != sharedAt && Chance(0.15)) plan.exit = LoopPlan::Exit::Condition;
  return PlannedLoop(plan, iterations, [&](std::uint32_t, std::uint32_t passes) {
    std::vector<std::uint32_t> body;
    const bool deeper = levels > 1 && passes * 2 <= kMostIterations;
    if (deeper && Chance(0.3)) NestStatements(body, passes, dead);
    if (deeper) body.push_back(NestLevel(levels - 1, passes, dead, sharedAt));
    if (m_options.uniformWhiles && passes * 4 <= kMostIterations && Chance(0.3))
      body.push_back(UniformWhile(passes, dead));
    if (!deeper || Chance(0.5)) NestStatements(body, passes, dead);
    return body;
  });
}

std::uint32_t Generator::UniformWhile(std::uint32_t iterations, bool dead) {
  LoopPlan plan;
  plan.kind = Chance(0.5) ? Statement::Kind::While : Statement::Kind::DoWhile;
  plan.bound = LoopPlan::Bound::Shared;
  return PlannedLoop(plan, iterations, [&](std::uint32_t, std::uint32_t passes) {
    std::vector<std::uint32_t> body;
    NestStatements(body, passes, dead);
    if (Chance(0.4)) NestStatements(body, passes, dead);
    return body;
  });
}

void Generator::NestStatements(std::vector<std::uint32_t>& body, std::uint32_t iterations, bool dead, bool call) {
  if (m_options.loopCalls && (call || Chance(0.35))) {
    // The call's value in a local of its own: r reads it, or, in a dead
    // nest, nothing does.
    const Type t{Base::Float, 1, 1 + Pick(4), false};
    const std::uint32_t value = LoopCallOf(t);
    if (value != kNone) {
      Statement d;
      d.kind = Statement::Kind::Declare;
      d.value = value;
      const std::size_t from = m_live.size();
      d.target = DeadLocal(t, value);
      body.push_back(PushStatement(std::move(d)));
      const std::uint32_t read = dead ? kNone : MakeReadAfter(from);
      if (read != kNone) body.push_back(read);
      return;
    }
  }
  if (dead) {
    body.push_back(DeadStatement(iterations));
    return;
  }
  Statement s;
  m_loopCall = m_options.loopCalls && Chance(0.2);
  MakeAssign(s, m_locals[0].type.base != Base::Bool);
  m_loopCall = false;
  body.push_back(PushStatement(std::move(s)));
}

std::uint32_t Generator::DeadUniformNest(std::uint32_t iterations, std::uint32_t levels) {
  const std::uint32_t outer = m_deadFrom;
  m_deadFrom = static_cast<std::uint32_t>(m_locals.size());
  const std::uint32_t nest = NestLevel(levels, iterations, true, 1 + Pick(levels));
  m_deadFrom = outer;
  return nest;
}

std::uint32_t Generator::MakeFewPassLoop() {
  LoopPlan plan;
  plan.count = 2 + Pick(2);
  const std::uint32_t form = Pick(3);  // constant, or ended by a test of r: a for, a while or do loop
  if (form == 2) plan.kind = Chance(0.5) ? Statement::Kind::While : Statement::Kind::DoWhile;
  if (form > 0) plan.exit = LoopPlan::Exit::Condition;
  return PlannedLoop(plan, 1, [&](std::uint32_t, std::uint32_t passes) {
    std::vector<std::uint32_t> body;
    for (std::uint32_t n = 1 + Pick(2), k = 0; k < n; ++k) {
      const std::uint32_t levels = 1 + Pick(3);
      if (Chance(0.3)) body.push_back(DeadUniformNest(passes, levels));
      else body.push_back(NestLevel(levels, passes, false, levels));
    }
    if (Chance(0.4)) NestStatements(body, passes, false);
    return body;
  });
}

std::uint32_t Generator::MakeUniformNest() {
  std::vector<std::uint32_t> kinds;
  if (m_options.deepNests) kinds.push_back(0);
  if (m_options.uniformWhiles) kinds.push_back(1);
  if (m_options.loopCalls) kinds.push_back(2);
  if (m_options.deadUniformNests) kinds.push_back(3);
  if (m_options.fewPassLoops) kinds.push_back(4);
  switch (kinds[Pick(static_cast<std::uint32_t>(kinds.size()))]) {
    case 0: {
      const std::uint32_t levels = 3 + Pick(3);
      return NestLevel(levels, 1, false, Chance(0.8) ? 1 + Pick(levels) : 0);
    }
    case 1: {  // a counted loop around a while or do loop of length n0
      LoopPlan plan;
      plan.count = 2 + Pick(3);
      return PlannedLoop(plan, 1, [&](std::uint32_t, std::uint32_t passes) {
        std::vector<std::uint32_t> body;
        if (Chance(0.3)) NestStatements(body, passes, false);
        body.push_back(UniformWhile(passes, false));
        if (Chance(0.5)) NestStatements(body, passes, false);
        return body;
      });
    }
    case 2: {  // a loop calling a function that holds loops
      LoopPlan plan;
      if (Chance(0.5)) plan.bound = LoopPlan::Bound::Shared;
      else plan.count = 2 + Pick(3);
      return PlannedLoop(plan, 1, [&](std::uint32_t, std::uint32_t passes) {
        std::vector<std::uint32_t> body;
        NestStatements(body, passes, false, true);
        if (Chance(0.5)) NestStatements(body, passes, false);
        return body;
      });
    }
    case 3:
      return DeadUniformNest(1, 2 + Pick(4));
    default:
      return MakeFewPassLoop();
  }
}

std::uint32_t Generator::LoopCallOf(const Type& type) {
  if (type.base != Base::Float || type.matrix) return kNone;
  std::vector<std::uint32_t> fit;
  for (std::uint32_t k = 0; k < m_functions.size(); ++k)
    if (!m_functions[k].body.empty() && m_functions[k].result == type) fit.push_back(k);
  Node call{Kind::UserCall, Op::None, type, {}, {}, 0, {}, true};
  if (!fit.empty() && Chance(0.4)) {
    call.variable = fit[Pick(static_cast<std::uint32_t>(fit.size()))];
    const std::vector<Local> parameters = m_functions[call.variable].parameters;
    for (const Local& p : parameters) call.children.push_back(Make(p.type, ExpressionDepth()));
  } else {
    for (std::uint32_t n = 1 + Pick(2), k = 0; k < n; ++k)
      call.children.push_back(Make(Type{Base::Float, 1, 1 + Pick(4), false}, ExpressionDepth()));
    call.variable = MakeLoopFunction(type, call.children);
  }
  const std::uint32_t index = Add(std::move(call));
  return Reevaluate(index) ? index : kNone;
}

std::uint32_t Generator::MakeLoopFunction(const Type& result, const std::vector<std::uint32_t>& arguments) {
  const std::uint32_t index = AddFunction(result, arguments);
  // The body sees its parameters, uniforms and locals of its own only.
  const std::uint32_t function = m_function;
  const std::vector<std::uint32_t> live = m_live, counters = m_counters, flags = m_flags, carried = m_carried;
  m_function = index;
  m_live.clear();
  m_counters.clear();
  m_flags.clear();
  m_carried.clear();
  const std::uint32_t depth = std::max(ExpressionDepth(), 1u) - 1;
  std::vector<std::uint32_t> body;
  auto declare = [&] {
    Statement d;
    d.kind = Statement::Kind::Declare;
    d.value = Make(result, depth);
    d.target = DeadLocal(result, d.value);
    body.push_back(PushStatement(std::move(d)));
    return m_statements[body.back()].target;
  };
  const std::uint32_t sum = declare();
  // At times the loops write a local the return never reads.
  const bool dead = Chance(0.3);
  const std::uint32_t target = dead ? declare() : sum;
  auto add = [&](std::uint32_t counter) {
    Statement s;
    s.target = target;
    s.op = Chance(0.5) ? Op::Add : Op::Subtract;
    s.value = Make(result, depth);
    if (Chance(0.7)) s.value = WithCounter(s.value, result, counter);
    s.stored = Binary(s.op, result, LocalNode(target), s.value);
    return PushStatement(std::move(s));
  };
  LoopPlan plan;
  plan.bound = LoopPlan::Bound::Shared;
  if (m_options.uniformWhiles && Chance(0.3))
    plan.kind = Chance(0.5) ? Statement::Kind::While : Statement::Kind::DoWhile;
  body.push_back(PlannedLoop(plan, 1, [&](std::uint32_t counter, std::uint32_t passes) {
    std::vector<std::uint32_t> statements{add(counter)};
    if (Chance(0.5)) {
      // An inner loop: of the counter (i + 1, n0 - i, ...) where it is an
      // int, else of constant length.
      LoopPlan inner;
      const Local c = m_locals[counter];
      if (c.type == kInt && c.last >= c.first && c.first >= 0 && Chance(0.7)) {
        inner.bound = LoopPlan::Bound::Outer;
        inner.outer = counter;
        inner.form = Pick(4);
        inner.shared = inner.form == 2;
        inner.count = 8;
      } else {
        inner.count = 2 + Pick(2);
      }
      statements.push_back(PlannedLoop(inner, passes, [&](std::uint32_t j, std::uint32_t) {
        return std::vector<std::uint32_t>{add(j)};
      }));
    }
    return statements;
  }));
  std::uint32_t value = Make(result, depth);
  if (!dead) value = Binary(Op::Add, result, value, LocalNode(sum));
  m_functions[index].value = value;
  m_functions[index].body = std::move(body);
  m_function = function;
  m_live = live;
  m_counters = counters;
  m_flags = flags;
  m_carried = carried;
  return index;
}

bool Generator::RunBody(const Function& f) {
  // Its loops end by n0 and their counters alone: every run decides alike.
  std::vector<bool> trace;
  for (std::uint32_t k : f.body)
    if (!Run(k, &trace)) return false;
  return true;
}

std::uint32_t Generator::CallDepth(std::uint32_t node) const {
  const Node& n = m_nodes[node];
  std::uint32_t depth = 0;
  if (n.kind == Kind::UserCall)
    for (std::uint32_t k : m_functions[n.variable].body) depth = std::max(depth, DepthOf(k));
  for (std::uint32_t c : n.children) depth = std::max(depth, CallDepth(c));
  return depth;
}

std::uint32_t Generator::DepthOf(std::uint32_t statement) const {
  const Statement& s = m_statements[statement];
  std::uint32_t inner = 0;
  for (std::uint32_t k : s.body) inner = std::max(inner, DepthOf(k));
  for (std::uint32_t k : s.otherwise) inner = std::max(inner, DepthOf(k));
  // A loop's condition runs inside it; a call's function at the call.
  std::vector<std::uint32_t> trees = s.inits;
  trees.push_back(s.value);
  trees.push_back(s.stored);
  if (s.element != kNone) trees.push_back(s.element);
  for (std::uint32_t t : trees) inner = std::max(inner, CallDepth(t));
  std::uint32_t depth = (IsLoop(s) ? 1 : 0) + inner;
  if (s.before != kNone) depth = std::max(depth, DepthOf(s.before));
  if (s.after != kNone) depth = std::max(depth, DepthOf(s.after));
  return depth;
}

std::uint32_t Generator::NestDepth() const {
  std::uint32_t depth = 0;
  for (std::uint32_t k : m_top) depth = std::max(depth, DepthOf(k));
  return depth;
}

}  // namespace hlslgen
