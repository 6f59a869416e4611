// User functions for the generator's flow-control programs: functions of
// uniforms and their parameters, inlined by the compiler at every call, called
// in expressions and as statements with an inout argument. The generator runs
// them itself: a call binds its arguments' values to the parameters and
// evaluates the body's trees.
#include <algorithm>

#include "tests/support/hlslgen/hlslgen.h"

namespace hlslgen {

std::uint32_t Generator::FunctionLeaf(const Type& type) {
  const Function& f = m_functions[m_function];
  auto parameter = [&](std::uint32_t p) {
    const Local& l = f.parameters[p];
    return Add({Kind::Parameter, Op::None, l.type, {}, {p}, m_function, l.value, l.exact});
  };
  if (Chance(0.6)) {
    std::vector<std::uint32_t> same, wider;
    for (std::uint32_t p = 0; p < f.parameters.size(); ++p) {
      const Type& t = f.parameters[p].type;
      if (t == type) same.push_back(p);
      else if (type.IsScalar() && !t.matrix && t.base == type.base) wider.push_back(p);
    }
    if (!same.empty()) return parameter(same[Pick(static_cast<std::uint32_t>(same.size()))]);
    if (!wider.empty()) {
      const std::uint32_t p = wider[Pick(static_cast<std::uint32_t>(wider.size()))];
      return ComponentOf(parameter(p), Pick(f.parameters[p].type.Count()));
    }
  }
  if (type.base == Base::Float && Chance(0.5)) {
    // A uniform: only those stay uniforms in every program the text makes.
    std::vector<std::uint32_t> same;
    for (std::uint32_t k = 0; k < m_variables.size(); ++k)
      if (m_variables[k].uniform && !m_variables[k].elements && m_variables[k].type == type) same.push_back(k);
    if (!same.empty() && Chance(0.5)) {
      const std::uint32_t k = same[Pick(static_cast<std::uint32_t>(same.size()))];
      return Add({Kind::Variable, Op::None, type, {}, {}, k, m_variables[k].value, true});
    }
    std::vector<double> values;
    for (std::uint32_t i = 0; i < type.Count(); ++i) values.push_back(RandomValue(Base::Float));
    return NewUniform(type, std::move(values), 0);
  }
  const Type scalar{type.base, 1, 1, false};
  std::vector<std::uint32_t> parts;
  for (std::uint32_t i = 0; i < type.Count(); ++i) parts.push_back(Literal(scalar, RandomValue(type.base)));
  if (type.IsScalar()) return parts[0];
  Node n{Kind::Construct, Op::None, type, parts, {}, 0, {}, true};
  Evaluate(n);
  return Add(std::move(n));
}

std::uint32_t Generator::AddFunction(const Type& result, const std::vector<std::uint32_t>& arguments) {
  Function f;
  f.name = "f" + std::to_string(m_functions.size());
  f.result = result;
  for (std::uint32_t k = 0; k < arguments.size(); ++k) {
    const Node& a = m_nodes[arguments[k]];
    f.parameters.push_back({"p" + std::to_string(k), a.type, a.value, a.exact});
  }
  const auto index = static_cast<std::uint32_t>(m_functions.size());
  m_functions.push_back(std::move(f));
  return index;
}

std::uint32_t Generator::MakeFunction(const Type& result, const std::vector<std::uint32_t>& arguments,
                                      const Local* inout, bool alone) {
  const std::uint32_t index = AddFunction(result, arguments);
  const std::uint32_t outer = m_function;
  m_function = index;
  // The return value reads no inout parameter: it comes after the update.
  const std::uint32_t depth = std::max(ExpressionDepth(), 1u) - 1;
  const std::uint32_t value = Make(result, depth);
  m_functions[index].value = value;
  if (inout) {
    m_functions[index].inout = true;
    m_functions[index].parameters.push_back({"q0", inout->type, inout->value, inout->exact});
    if (!alone && Chance(0.75)) {
      std::uint32_t update = Make(inout->type, depth);
      if (Chance(0.6)) {
        const auto q = static_cast<std::uint32_t>(m_functions[index].parameters.size() - 1);
        const std::uint32_t read =
            Add({Kind::Parameter, Op::None, inout->type, {}, {q}, index, inout->value, inout->exact});
        update = Binary(Chance(0.5) ? Op::Add : Op::Subtract, inout->type, read, update);
      }
      m_functions[index].update = update;
    }
  }
  m_function = outer;
  return index;
}

bool Generator::RunCall(std::uint32_t index) {
  const Node& n = m_nodes[index];  // no nodes are added below
  Function& f = m_functions[n.variable];
  for (std::size_t k = 0; k < n.children.size(); ++k) {
    if (!Reevaluate(n.children[k])) return false;
    const Node& a = m_nodes[n.children[k]];
    Local& p = f.parameters[k];
    p.value = a.value;
    p.exact = a.exact;
    p.error = a.error;
  }
  if (!RunBody(f) || !Reevaluate(f.value)) return false;
  const Node& body = m_nodes[f.value];
  Node& call = m_nodes[index];
  call.value = body.value;
  call.exact = body.exact;
  call.error = body.error;
  return true;
}

std::uint32_t Generator::UserCallOf(const Type& type) {
  if (type.base != Base::Float) return kNone;
  std::vector<std::uint32_t> fit;
  for (std::uint32_t k = 0; k < m_functions.size(); ++k)
    if (!m_functions[k].inout && m_functions[k].result == type) fit.push_back(k);
  Node call{Kind::UserCall, Op::None, type, {}, {}, 0, {}, true};
  if (!fit.empty() && Chance(0.4)) {
    call.variable = fit[Pick(static_cast<std::uint32_t>(fit.size()))];
    const std::vector<Local> parameters = m_functions[call.variable].parameters;
    for (const Local& p : parameters) call.children.push_back(Make(p.type, ExpressionDepth()));
  } else {
    for (std::uint32_t n = 1 + Pick(3), k = 0; k < n; ++k)
      call.children.push_back(Make(Type{Base::Float, 1, 1 + Pick(4), false}, ExpressionDepth()));
    call.variable = MakeFunction(type, call.children, nullptr, false);
  }
  const std::uint32_t index = Add(std::move(call));
  return Reevaluate(index) ? index : kNone;
}

bool Generator::MakeCallStatement(Statement& s, std::uint32_t target, bool alone) {
  if (target == kNone) {
    // r or a local statements write, but no counter of a loop being made.
    std::vector<std::uint32_t> fit;
    for (std::uint32_t k : m_live) {
      const Local& l = m_locals[k];
      if (!l.elements && l.type.base == Base::Float && (k == 0 || l.written) &&
          std::find(m_counters.begin(), m_counters.end(), k) == m_counters.end())
        fit.push_back(k);
    }
    if (fit.empty()) return false;
    target = fit[Pick(static_cast<std::uint32_t>(fit.size()))];
  }
  const Local l = m_locals[target];
  std::vector<std::uint32_t> fit;
  for (std::uint32_t k = 0; k < m_functions.size(); ++k) {
    const Function& f = m_functions[k];
    if (f.inout && f.parameters.back().type == l.type && (!alone || f.update == kNone)) fit.push_back(k);
  }
  Node call{Kind::UserCall, Op::None, l.type, {}, {}, 0, {}, true};
  if (!fit.empty() && Chance(0.4)) {
    call.variable = fit[Pick(static_cast<std::uint32_t>(fit.size()))];
    const std::vector<Local> parameters = m_functions[call.variable].parameters;
    for (std::size_t p = 0; p + 1 < parameters.size(); ++p)
      call.children.push_back(Make(parameters[p].type, ExpressionDepth()));
    call.type = m_functions[call.variable].result;
  } else {
    for (std::uint32_t n = 1 + Pick(2), k = 0; k < n; ++k)
      call.children.push_back(Make(Type{Base::Float, 1, 1 + Pick(4), false}, ExpressionDepth()));
    call.type = Type{Base::Float, 1, 1 + Pick(4), false};
    call.variable = MakeFunction(call.type, call.children, &l, alone);
  }
  s.kind = Statement::Kind::Call;
  s.target = target;
  s.value = s.stored = Add(std::move(call));
  return true;
}

std::string Generator::FunctionText() const {
  std::string text;
  for (const Function& f : m_functions) {
    text += f.result.Name() + " " + f.name + "(";
    for (std::size_t p = 0; p < f.parameters.size(); ++p) {
      const bool inout = f.inout && p + 1 == f.parameters.size();
      text += (p ? ", " : "") + std::string(inout ? "inout " : "") + f.parameters[p].type.Name() + " " +
              f.parameters[p].name;
    }
    text += ") {\n";
    if (f.update != kNone) text += "  " + f.parameters.back().name + " = " + Text(f.update) + ";\n";
    for (std::uint32_t k : f.body) text += StatementText(k, 1);
    text += "  return " + Text(f.value) + ";\n}\n";
  }
  return text;
}

}  // namespace hlslgen
