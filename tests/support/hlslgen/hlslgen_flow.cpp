// Flow control for the generator: statements over the local r, made at random,
// run by the generator itself, and kept only when they run alike in double
// and in float.
#include <algorithm>
#include <cmath>

#include "tests/support/hlslgen/hlslgen.h"

namespace hlslgen {

namespace {

constexpr std::uint32_t kTries = 8;
// Values in statements carry the rounding of many operations: they keep
// further from every edge than a lone expression's.
constexpr double kFlowTolerance = 1e-5;
// How far the float run may drift from the double one, relative to max(1, |x|).
constexpr double kDrift = 1e-6;

// Instructions per call: a cost, and whether the instruction is scalar (one
// per component) rather than one per row.
struct CallCost {
  std::uint8_t cost;
  bool scalar;
};
constexpr CallCost kCallCosts[] = {{0, false}, {1, false}, {2, false},  {3, false}, {1, false}, {3, false}, {1, false},
                                   {2, true},  {1, true},  {2, true},   {1, true},  {2, true},  {1, true},  {2, true},
                                   {1, false}, {1, false}, {6, true},   {6, true},  {8, true},  {3, false}, {1, false},
                                   {1, false}, {3, true},  {2, false},  {6, false}, {2, false}, {2, false}, {2, false},
                                   {6, false}, {1, false}, {2, false},  {3, false}, {3, false}, {2, false}, {3, false},
                                   {3, false}, {4, false}, {12, false}, {0, false}, {1, false}, {1, false}};
static_assert(std::size(kCallCosts) == static_cast<std::size_t>(Fn::Count));

}  // namespace

std::uint32_t Generator::ExpressionDepth() const {
  return m_options.maxDepth > m_options.statementDepth ? m_options.maxDepth - m_options.statementDepth : 0;
}

std::uint32_t Generator::LocalNode(std::uint32_t local) {
  const Local& l = m_locals[local];
  return Add({Kind::Local, Op::None, l.type, {}, {}, local, l.value, l.exact});
}

std::uint32_t Generator::ComponentOf(std::uint32_t node, std::uint32_t component) {
  Node n{Kind::Swizzle, Op::None, Type{m_nodes[node].type.base, 1, 1, false}, {node}, {component}, 0, {}, true};
  Evaluate(n);
  return Add(std::move(n));
}

void Generator::MakeProgram() {
  m_flow = true;
  m_tolerance = kFlowTolerance;
  const Node& root = m_nodes[m_root];
  m_locals.push_back({"r", root.type, root.value, root.exact});
  m_live = {0};
  Statement declaration;
  declaration.declares = true;
  declaration.value = declaration.stored = m_root;
  m_statements.push_back(declaration);
  m_top.push_back(0);
  m_discrepancy = 1;  // whatever the expression alone drifts is allowed
  const bool runs = Simulate();
  for (std::uint32_t k = 0; runs && k < m_options.statements; ++k) {
    for (std::uint32_t attempt = 0; attempt < kTries; ++attempt) {
      const std::size_t nodes = m_nodes.size(), variables = m_variables.size(), statements = m_statements.size(),
                        functions = m_functions.size();
      const std::vector<Local> locals = m_locals;
      const std::vector<std::uint32_t> live = m_live;
      m_top.push_back(MakeStatement(0, 0, 1, false));
      const bool fits = m_options.maxInstructions == 0 || EstimatedInstructions() <= m_options.maxInstructions;
      if (fits && Simulate()) break;
      m_top.pop_back();
      m_nodes.resize(nodes);
      m_variables.resize(variables);
      m_statements.resize(statements);
      m_functions.resize(functions);
      m_locals = locals;
      m_live = live;
    }
  }
  // Leave every node with its value from the double run, and measure it.
  for (const Node& n : m_nodes)
    if (n.kind == Kind::Literal && n.type.base == Base::Float) m_range = std::max(m_range, std::fabs(n.value[0]));
  std::vector<bool> trace;
  m_ranging = true;
  RunProgram(false, m_result, trace);
  m_ranging = false;
  m_resultError = m_locals[0].error;
  m_live.clear();
}

std::vector<std::uint32_t> Generator::MakeBlock(std::uint32_t ifDepth, std::uint32_t loopDepth,
                                                std::uint32_t iterations, bool accumulate) {
  if (Shaped()) return MakeShapedBlock(ifDepth, loopDepth, iterations, accumulate);
  std::vector<std::uint32_t> block;
  for (std::uint32_t n = 1 + Pick(accumulate ? 3 : 2), k = 0; k < n; ++k)
    block.push_back(MakeStatement(ifDepth, loopDepth, iterations, accumulate && k == 0));
  return block;
}

std::uint32_t Generator::MakeStatement(std::uint32_t ifDepth, std::uint32_t loopDepth, std::uint32_t iterations,
                                       bool accumulate) {
  if (Nests() && !accumulate && loopDepth == 0 && Chance(UniformNests() ? 0.5 : 0.3)) return MakeNest(ifDepth);
  const Type r = m_locals[0].type;
  Statement s;
  std::vector<Statement::Kind> kinds = {Statement::Kind::Assign, Statement::Kind::Assign};
  if (!accumulate && ifDepth < m_options.maxIfDepth) kinds.push_back(Statement::Kind::If);
  if (!accumulate && loopDepth < m_options.maxLoopDepth && iterations < kMostIterations) {
    kinds.insert(kinds.end(), loopDepth + 1, Statement::Kind::For);  // nests are rarer: they cost more
    if (m_options.doWhile) kinds.insert(kinds.end(), loopDepth + 1, Statement::Kind::DoWhile);
    if (m_options.steps && loopDepth == 0) kinds.insert(kinds.end(), 3, Statement::Kind::For);  // side by side
    if (m_options.whileLoops) kinds.insert(kinds.end(), loopDepth + 1, Statement::Kind::While);
  }
  if (!accumulate && (m_options.carried || m_options.arrays)) kinds.push_back(Statement::Kind::Declare);
  if (!accumulate && m_options.calls) kinds.push_back(Statement::Kind::Call);
  s.kind = kinds[Pick(static_cast<std::uint32_t>(kinds.size()))];
  if (Shaped() && s.kind != Statement::Kind::If)
    return MakeShaped(std::move(s), ifDepth, loopDepth, iterations, accumulate);
  switch (s.kind) {
    case Statement::Kind::Assign: {
      Type t = r;
      if (!r.IsScalar() && Chance(0.3)) {
        s.component = static_cast<std::int32_t>(Pick(r.Count()));
        t = Type{r.base, 1, 1, false};
      }
      if (r.base != Base::Bool && (accumulate || Chance(0.75)))
        s.op = r.base == Base::Float && Chance(0.15) ? Op::Multiply : Chance(0.5) ? Op::Add : Op::Subtract;
      s.value = s.stored = Make(t, ExpressionDepth());
      if (accumulate && m_live.size() > 1 && Chance(0.5)) s.value = s.stored = WithCounter(s.value, t, m_live.back());
      if (s.op != Op::None) {
        std::uint32_t target = LocalNode(0);
        if (s.component >= 0) target = ComponentOf(target, static_cast<std::uint32_t>(s.component));
        Node n{Kind::Binary, s.op, t, {target, s.value}, {}, 0, {}, true};
        Evaluate(n);  // a value at creation only: Simulate() judges the runs
        s.stored = Add(std::move(n));
      }
      break;
    }
    case Statement::Kind::If:
      s.value = MakeCondition();
      s.body = MakeBlock(ifDepth + 1, loopDepth, iterations, false);
      if (Chance(0.5)) s.otherwise = MakeBlock(ifDepth + 1, loopDepth, iterations, false);
      break;
    default: {
      const std::uint32_t most = std::min({m_options.maxLoopCount, kMostCount, kMostIterations / iterations});
      s.count = 1 + Pick(std::max(most, 1u));
      s.counter = static_cast<std::uint32_t>(m_locals.size());
      m_locals.push_back({"i" + std::to_string(s.counter - 1), kInt, {0.0}, true});
      m_live.push_back(s.counter);
      const std::uint32_t bound = Add({Kind::Literal, Op::None, kInt, {}, {}, 0, {double(s.count)}, true});
      Node less{Kind::Binary, Op::Less, kBool, {LocalNode(s.counter), bound}, {}, 0, {}, true};
      Evaluate(less);
      s.value = Add(std::move(less));
      if (Chance(0.35)) {  // a condition that may end the loop early
        Node both{Kind::Binary, Op::And, kBool, {s.value, MakeCondition()}, {}, 0, {}, true};
        Evaluate(both);
        s.value = Add(std::move(both));
      }
      s.body = MakeBlock(ifDepth, loopDepth + 1, iterations * s.count, r.base != Base::Bool);
      m_live.pop_back();
      break;
    }
  }
  m_statements.push_back(std::move(s));
  return static_cast<std::uint32_t>(m_statements.size() - 1);
}

std::uint32_t Generator::WithCounter(std::uint32_t value, const Type& t, std::uint32_t local) {
  // A term that changes with a counter: e * (float)i, or e + i.
  std::uint32_t counter = LocalNode(local);
  if (t.base == Base::Float) {
    Node cast{Kind::Cast, Op::None, Type{Base::Float, 1, 1, false}, {counter}, {}, 0, {}, true};
    Evaluate(cast);
    counter = Add(std::move(cast));
  }
  Node n{Kind::Binary, t.base == Base::Float ? Op::Multiply : Op::Add, t, {value, counter}, {}, 0, {}, true};
  Evaluate(n);
  return Add(std::move(n));
}

std::uint32_t Generator::MakeCondition() {
  const Type r = m_locals[0].type;
  const std::uint32_t depth = ExpressionDepth() + 1;
  std::uint32_t left = 0;
  Base base = Base::Float;
  const std::uint32_t choice = Pick(3);
  std::vector<std::uint32_t> counters;  // int locals: loop counters, mostly
  for (std::size_t k = 1; k < m_live.size(); ++k)
    if (m_locals[m_live[k]].type == kInt && m_locals[m_live[k]].elements == 0) counters.push_back(m_live[k]);
  if (choice == 0 && !counters.empty()) {
    left = LocalNode(counters[Pick(static_cast<std::uint32_t>(counters.size()))]);
    base = Base::Int;
  } else if (choice <= 1 && r.base != Base::Bool) {  // r, or a component of it
    left = r.IsScalar() ? LocalNode(0) : ComponentOf(LocalNode(0), Pick(r.Count()));
    base = r.base;
  } else {
    base = Chance(0.7) ? Base::Float : Base::Int;
    left = Make(Type{base, 1, 1, false}, depth);
  }
  const auto op = static_cast<Op>(static_cast<std::uint32_t>(Op::Less) + Pick(6));
  Node n{Kind::Binary, op, kBool, {left, Make(Type{base, 1, 1, false}, depth)}, {}, 0, {}, true};
  Evaluate(n);
  std::uint32_t condition = Add(std::move(n));
  if (Chance(0.25)) {
    Node both{Kind::Binary, Chance(0.5) ? Op::And : Op::Or, kBool, {condition, Make(kBool, depth)}, {}, 0, {}, true};
    Evaluate(both);
    condition = Add(std::move(both));
  }
  return condition;
}

bool Generator::Reevaluate(std::uint32_t index) {
  Node& n = m_nodes[index];
  if (n.kind == Kind::Literal || n.kind == Kind::Variable) return true;
  if (n.kind == Kind::Local || n.kind == Kind::Parameter) {
    const Local& l = n.kind == Kind::Local ? m_locals[n.variable] : m_functions[n.variable].parameters[n.picks[0]];
    n.value = l.value;
    n.exact = l.exact;
    if (m_ranging) n.error = l.error;
    return true;
  }
  if (n.kind == Kind::UserCall) return RunCall(index);
  for (std::uint32_t c : n.children)
    if (!Reevaluate(c)) return false;
  if (!Evaluate(n)) return false;
  if (!m_ranging) return true;
  if (n.type.base == Base::Float)
    for (double x : n.value) m_range = std::max(m_range, std::fabs(x));
  Bound(n);
  return true;
}

bool Generator::Test(std::uint32_t node) {
  m_lenient = m_options.exitReads;
  const bool ok = Reevaluate(node);
  m_lenient = false;
  return ok && !m_nodes[node].undefined;
}

bool Generator::Run(std::uint32_t index, std::vector<bool>* trace) {
  if (!RunStatement(index, trace)) return false;
  const std::uint32_t after = m_statements[index].after;
  return after == kNone || Run(after, trace);
}

bool Generator::RunStatement(std::uint32_t index, std::vector<bool>* trace) {
  const Statement& s = m_statements[index];
  switch (s.kind) {
    case Statement::Kind::Assign:
      if (!Reevaluate(s.stored) || (s.element != kNone && !Reevaluate(s.element))) return false;
      return Store(s, m_nodes[s.stored]);
    case Statement::Kind::Declare:
    case Statement::Kind::DoWhile:
    case Statement::Kind::Call:
      return RunShaped(index, trace);
    case Statement::Kind::If: {
      if (!Reevaluate(s.value)) return false;
      const bool taken = m_nodes[s.value].value[0] != 0;
      if (trace) trace->push_back(taken);
      if (!Speculate(taken ? s.otherwise : s.body)) return false;
      for (std::uint32_t k : taken ? s.body : s.otherwise)
        if (!Run(k, trace)) return false;
      return true;
    }
    case Statement::Kind::For:
    case Statement::Kind::While: {  // a while loop's counter counts its passes from 0
      if (s.before != kNone && !Run(s.before, trace)) return false;
      if (s.flag != kNone) m_locals[s.flag].value = {1.0}, m_locals[s.flag].error.clear();  // declared true right before the loop
      const std::vector<Local> entry = m_locals;
      std::uint32_t k = 0;
      for (;; ++k) {
        if (k > s.count) return false;  // the condition holds only while the counter is below its bound
        m_locals[s.counter].value = {CounterValue(s, k)};
        if (!Test(s.value)) return false;
        // Run speculatively, every iteration runs, whatever the condition says.
        const bool more = trace ? m_nodes[s.value].value[0] != 0 : k < s.count;
        if (trace) trace->push_back(more);
        if (!more) break;
        for (std::uint32_t b : s.body)
          if (!Run(b, trace)) return false;
      }
      if (!trace || k == s.count) return true;
      return SpeculateRest(index, entry, k, s.count - 1);
    }
  }
  return false;
}

bool Generator::SpeculateRest(std::uint32_t index, const std::vector<Local>& entry, std::uint32_t first,
                              std::uint32_t last) {
  // Ended early. Unrolled code goes on with the remaining iterations under a
  // false guard from the values at the exit, and takes its guards from a
  // copy that runs every iteration from the start.
  const Statement& s = m_statements[index];
  const std::vector<Local> exit = m_locals;
  bool ok = true;
  for (std::uint32_t j = first; ok && j <= last; ++j) {
    m_locals[s.counter].value = {CounterValue(s, j)};
    ok = Speculate(s.body);
  }
  m_locals = entry;
  ok = ok && Speculate({index}, true);
  m_locals = exit;
  return ok;
}

bool Generator::Speculate(const std::vector<std::uint32_t>& block, bool alone) {
  const std::vector<Local> locals = m_locals;
  const double tolerance = m_tolerance;
  m_tolerance = 0;  // decisions there decide nothing
  bool ok = true;
  for (std::uint32_t k = 0; ok && k < block.size(); ++k)
    ok = alone ? RunStatement(block[k], nullptr) : Run(block[k], nullptr);
  m_tolerance = tolerance;
  m_locals = locals;
  return ok;
}

bool Generator::RunProgram(bool single, std::vector<double>& result, std::vector<bool>& trace) {
  m_single = single;
  trace.clear();
  bool ok = true;
  for (std::uint32_t k = 0; ok && k < m_top.size(); ++k) ok = Run(m_top[k], &trace);
  m_single = false;
  result = m_locals[0].value;
  return ok;
}

bool Generator::Simulate() {
  std::vector<double> single, twice;
  std::vector<bool> singleTrace, twiceTrace;
  if (!RunProgram(true, single, singleTrace) || !RunProgram(false, twice, twiceTrace) || singleTrace != twiceTrace)
    return false;
  double drift = 0;
  for (std::size_t i = 0; i < twice.size(); ++i)
    drift = std::max(drift, std::fabs(single[i] - twice[i]) / std::max(1.0, std::fabs(twice[i])));
  if (drift > std::max(kDrift, m_discrepancy)) return false;
  m_discrepancy = drift;
  return true;
}

bool Generator::Varies(std::uint32_t index) const {
  const Node& n = m_nodes[index];
  if (n.kind == Kind::Variable || n.kind == Kind::Local || n.kind == Kind::Element || n.kind == Kind::LocalElement ||
      n.kind == Kind::Parameter || n.kind == Kind::UserCall || n.fn == Fn::Tex2D || n.fn == Fn::TexCube)
    return true;
  return std::any_of(n.children.begin(), n.children.end(), [&](std::uint32_t c) { return Varies(c); });
}

std::uint32_t Generator::Cost(std::uint32_t index) const {
  if (!Varies(index)) return 0;  // literals alone fold
  const Node& n = m_nodes[index];
  std::uint32_t sum = 0;
  for (std::uint32_t c : n.children) sum += Cost(c);
  const std::uint32_t rows = n.type.matrix ? n.type.rows : 1;
  switch (n.kind) {
    case Kind::Literal:
    case Kind::Variable:
    case Kind::Local:
    case Kind::Parameter:
    case Kind::Swizzle:
      return sum;
    case Kind::UserCall: {  // inlined at each call
      const Function& f = m_functions[n.variable];
      for (std::uint32_t k : f.body) sum += StatementCost(k);
      return sum + Cost(f.value);
    }
    case Kind::Element:
    case Kind::LocalElement:
      return sum + 2 * rows;
    case Kind::Index:
      return sum + (n.picks.empty() ? 2 * rows : 0);
    case Kind::Construct:
    case Kind::Unary:
      return sum + rows;
    case Kind::Cast:
      return sum + (n.type.base == Base::Float ? 0 : 3 * rows);
    case Kind::Conditional:
      return sum + 2 * rows;
    case Kind::Binary:
      return sum + rows * (n.op == Op::Modulo ? 6 : n.op >= Op::Divide ? 2 : 1);
    case Kind::Call: {
      const CallCost c = kCallCosts[static_cast<std::uint32_t>(n.fn)];
      return sum + c.cost * (c.scalar ? n.type.Count() : rows);
    }
  }
  return sum;
}

std::uint32_t Generator::StatementCost(std::uint32_t index) const {
  const Statement& s = m_statements[index];
  std::uint32_t body = 0, otherwise = 0;
  for (std::uint32_t k : s.body) body += StatementCost(k);
  for (std::uint32_t k : s.otherwise) otherwise += StatementCost(k);
  switch (s.kind) {
    case Statement::Kind::Assign:
      return Cost(s.stored) + (s.element != kNone ? Cost(s.element) + 2 : 1);
    case Statement::Kind::If:
      return Cost(s.value) + 2 + body + otherwise;
    case Statement::Kind::For:
    case Statement::Kind::DoWhile:
    case Statement::Kind::While: {
      const std::uint32_t n = std::max(s.count, 1u);
      return (n + 1) * Cost(s.value) + n * (body + (s.kind != Statement::Kind::For)) + 2 +
             (s.before != kNone ? StatementCost(s.before) : 0) + (s.after != kNone ? StatementCost(s.after) : 0);
    }
    case Statement::Kind::Call: {
      const std::uint32_t update = m_functions[m_nodes[s.value].variable].update;
      return Cost(s.value) + (update != kNone ? Cost(update) : 0) + 1;
    }
    case Statement::Kind::Declare: {
      std::uint32_t sum = s.inits.empty() ? Cost(s.value) + 1 : 0;
      for (std::uint32_t k : s.inits) sum += Cost(k) + 1;
      return sum;
    }
  }
  return 0;
}

std::uint32_t Generator::EstimatedInstructions() const {
  if (!m_options.flowControl) return Cost(m_root) + 1;
  std::uint32_t sum = 0;
  for (std::uint32_t k : m_top) sum += StatementCost(k);
  return sum;
}

std::string Generator::StatementText(std::uint32_t index, std::uint32_t indent) const {
  const Statement& s = m_statements[index];
  if (s.kind != Statement::Kind::If) return ShapedText(index, indent);
  return std::string(2 * indent, ' ') + "if (" + Text(s.value) + ") " + BlockText(s.body, indent) +
         (s.otherwise.empty() ? "" : " else " + BlockText(s.otherwise, indent)) + "\n";
}

std::string Generator::BlockText(const std::vector<std::uint32_t>& statements, std::uint32_t indent,
                                 const std::string& first) const {
  std::string text = "{\n" + first;
  for (std::uint32_t k : statements) text += StatementText(k, indent + 1);
  return text + std::string(2 * indent, ' ') + "}";
}

std::string Generator::Body() const {
  if (!m_options.flowControl) return "  " + ResultType().Name() + " r = " + Text(m_root) + ";\n";
  std::string text;
  for (std::uint32_t k : m_top) text += StatementText(k, 1);
  return text;
}

}  // namespace hlslgen
