#include "pp_generator.h"

#include <cstdio>

namespace shadertest {

namespace {

// Square brackets and braces nest arguments here but not in C: they come only
// in pairs, around no comma.
constexpr const char* kPunctuators[] = {"+", "-", "*", "/", ";", ".", "=", "<", ">", ":", "?", "!"};
constexpr const char* kBinary[] = {"+", "-", "*", "/", "<", ">", "<=", ">=", "==", "!=", "&&", "||"};
constexpr const char* kDefinedNames[] = {"DIRECT3D", "GXL", "DIRECT3D_VERSION", "GXL_VERSION", "NOPE"};
constexpr std::int64_t kLimit = std::int64_t{1} << 30;

std::string Name(int slot) { return "M" + std::to_string(slot); }

}  // namespace

GeneratedProgram ProgramGenerator::Next(const std::string& stem) {
  m_nodes.clear();
  for (int slot = 0; slot < kSlots; ++slot) {
    m_macros[slot] = Macro{};
    if (Kind(slot) == 2) Shape(slot);
  }
  m_files.clear();
  m_files.push_back(File{stem + ".fx", "", 0});
  Items(m_files[0], 5 + Random(10), 0, stem);
  GeneratedProgram program;
  for (const File& f : m_files) program.files.emplace_back(f.name, f.text);
  return program;
}

std::string ProgramGenerator::Join(const std::string& a, const std::string& b, bool blank) {
  const bool punctuator = std::string("+-*;[]{}=<>:?!,()").find(b[0]) != std::string::npos;
  const bool comment = !a.empty() && a.back() == '/' && (b[0] == '*' || b[0] == '/');
  return a + (blank || !punctuator || comment || a.empty() ? " " : "") + b;
}

void ProgramGenerator::Line(File& f, const std::string& text) {
  f.text += text + "\n";
  ++f.lines;
}

// The operator of a function-like macro: "#x", or "x ## y" with names and
// numbers as the operands' arguments.
void ProgramGenerator::Shape(int slot) {
  Macro& m = m_macros[slot];
  const int arity = Arity(slot);
  m.paramClass.assign(static_cast<std::size_t>(arity), 'a');
  const int left = Random(arity), right = Random(arity);
  const std::string l(1, static_cast<char>('x' + left)), r(1, static_cast<char>('x' + right));
  switch (Random(3)) {
    case 1:
      m.op = '#';
      m.opText = "#" + l;
      break;
    case 2: {
      m.op = 'p';
      const bool leftParam = Chance(70), rightParam = Chance(70);
      if (rightParam) m.paramClass[static_cast<std::size_t>(right)] = 'n';
      if (leftParam) m.paramClass[static_cast<std::size_t>(left)] = 'i';
      m.opText = (leftParam ? l : Identifier()) + (Chance(50) ? " ## " : "##") + (rightParam ? r : Identifier());
      break;
    }
    default: break;
  }
}

// Top-level items: definitions, text, conditional blocks and includes. Files
// are written depth first, so the macro table is known at every line.
void ProgramGenerator::Items(File& f, int count, int includeDepth, const std::string& stem) {
  // stem + "a.h" beside the main file includes "sub/" + stem + "b.h", which
  // includes stem + "c.h" beside itself.
  static const char* const kWritten[] = {"a.h", "b.h", "c.h"};
  for (int i = 0; i < count; ++i) {
    const int pick = Random(100);
    if (pick < 35) {
      Define(f);
    } else if (pick < 42) {
      const int slot = Random(kSlots);
      Line(f, "#undef " + Name(slot));
      m_macros[slot].defined = false;
    } else if (pick < 72) {
      Line(f, TextLine(kSlots));
    } else if (pick < 92) {
      Conditional(f, 0);
    } else if (includeDepth < 3) {
      const std::string written = (includeDepth == 1 ? "sub/" : "") + stem + kWritten[includeDepth];
      const std::string path = (includeDepth == 0 ? "" : "sub/") + stem + kWritten[includeDepth];
      bool exists = false;
      for (const File& other : m_files) exists |= other.name == path;
      if (exists) continue;
      Line(f, "#include \"" + written + "\"");
      m_files.push_back(File{path, "", 0});
      Items(m_files.back(), 2 + Random(4), includeDepth + 1, stem);
    }
  }
}

void ProgramGenerator::Define(File& f) {
  const int slot = Random(kSlots);
  Macro& m = m_macros[slot];
  if (m.defined) Line(f, "#undef " + Name(slot));  // no redefinition warnings to tell apart
  std::string line = "#define " + Name(slot);
  if (Kind(slot) == 0) {
    // A number, or an expression in parentheses, so that it reads the same
    // wherever it is put.
    const std::int64_t v = Random(50);
    m.root = Chance(30) ? Add(Node{'n', v, std::to_string(v), 0, 0, 0})
                        : Add(Node{'p', 0, "", Expression(2, slot, true), 0, 0});
    line += " " + Print(m.root, 0);
  } else if (Kind(slot) == 1) {
    // A blank after the name keeps a body that starts with "(" object-like.
    for (int n = Random(5), first = 1; n > 0; --n, first = 0) line = Join(line, Token(slot, 1), first || Chance(50));
  } else {
    const int arity = Arity(slot);
    line += "(";
    for (int p = 0; p < arity; ++p) line += std::string(p ? "," : "") + static_cast<char>('x' + p);
    line += ")";
    const int count = 1 + Random(4), at = Random(count + 1);
    for (int n = 0; n <= count; ++n) {
      if (n == at) {
        if (m.op) line += " " + m.opText;
        continue;
      }
      // A parameter of "##" holds only names or numbers: keep it out of the rest.
      const int p = Random(arity);
      if (Chance(50) && m.paramClass[static_cast<std::size_t>(p)] == 'a') line += " " + std::string(1, 'x' + p);
      else line = Join(line, Token(slot, 1), true);
    }
  }
  Line(f, line);
  m.defined = true;
}

void ProgramGenerator::Conditional(File& f, int depth) {
  auto block = [&] {
    for (int n = 1 + Random(2); n > 0; --n) {
      if (depth < 1 && Chance(25)) Conditional(f, depth + 1);
      else Line(f, TextLine(kSlots));
    }
  };
  const int kind = Random(3);
  if (kind == 0) Line(f, "#if " + Condition(f.lines + 1));
  else Line(f, std::string(kind == 1 ? "#ifdef " : "#ifndef ") + Name(Random(kSlots)));
  block();
  for (int n = Random(3); n > 0; --n) {
    Line(f, "#elif " + Condition(f.lines + 1));
    block();
  }
  if (Chance(50)) {
    Line(f, "#else");
    block();
  }
  Line(f, "#endif");
}

// Text never starts with "(", so that a call cannot reach across lines.
std::string ProgramGenerator::TextLine(int rank) {
  std::string line = Identifier();
  for (int n = Random(8); n > 0; --n) line = Join(line, Token(rank, 0), Chance(70));
  return line;
}

// One item of text or of a body: macros below rank may appear (function-like
// ones called), and no "," stands outside parentheses.
std::string ProgramGenerator::Token(int rank, int depth) {
  const int pick = Random(100);
  if (pick < 30 && rank > 0) {
    const int slot = Random(rank);
    return Kind(slot) == 2 ? Call(slot, rank, depth) : Name(slot);
  }
  if (pick < 45) return Identifier();
  if (pick < 60) return Number();
  if (pick < 72) return kPunctuators[Random(12)];
  if (pick < 75 && depth < 2) return Chance(50) ? "[" + Token(rank, depth + 1) + "]" : "{ " + Token(rank, depth + 1) + " }";
  if (pick < 80) return "__LINE__";
  if (pick < 84) return "\"s" + std::to_string(Random(9)) + "\"";
  if (pick < 88) return Chance(50) ? "DIRECT3D_VERSION" : "GXL_VERSION";
  if (pick < 94 && depth < 2) return "(" + Token(rank, depth + 1) + ", " + Token(rank, depth + 1) + ")";
  return Identifier();
}

std::string ProgramGenerator::Call(int slot, int rank, int depth) {
  std::string call = Name(slot) + (Chance(20) ? " (" : "(");
  for (int p = 0; p < Arity(slot); ++p)
    call += (p ? (Chance(50) ? ", " : ",") : "") + Argument(m_macros[slot].paramClass[static_cast<std::size_t>(p)], rank, depth + 1);
  return call + ")";
}

// Never empty; "#" sees its spacing; "##" operands are single names or numbers.
std::string ProgramGenerator::Argument(char paramClass, int rank, int depth) {
  if (paramClass == 'i') return Identifier() + (Chance(50) ? std::to_string(Random(10)) : "");
  if (paramClass == 'n') return Chance(50) ? Identifier() : std::to_string(1 + Random(99));
  std::string arg;
  for (int n = 1 + Random(depth < 2 ? 3 : 1); n > 0; --n) arg = Join(arg, Token(rank, depth + 1), Chance(50));
  return (Chance(20) ? " " : "") + arg + (Chance(20) ? "  " : "");
}

std::string ProgramGenerator::Number() {
  const int pick = Random(10);
  if (pick < 6) return std::to_string(Random(100));
  if (pick < 8) return "0x" + std::string(1, "0123456789abcdefABCDEF"[Random(22)]) + "f";
  return std::to_string(Random(10)) + "." + std::to_string(Random(10));
}

int ProgramGenerator::Add(Node n) {
  m_nodes.push_back(std::move(n));
  return static_cast<int>(m_nodes.size()) - 1;
}

// Value macros below rank may appear; whether a use is valid is decided
// where the expression is used, by Eval.
int ProgramGenerator::Expression(int depth, int rank, bool inBody) {
  const int pick = Random(100);
  if (depth == 0 || pick < 25) {
    const int leaf = Random(100);
    if (leaf < 45) {
      const std::int64_t v = Random(4) == 0 ? 0x10 + Random(0x100) : Random(20);
      char text[16];
      std::snprintf(text, sizeof text, v >= 0x10 && Chance(50) ? "0x%llx" : "%lld", static_cast<long long>(v));
      return Add(Node{'n', v, text, 0, 0, 0});
    }
    if (leaf < 65 && rank > 0) return Add(Node{'v', 0, "", 3 * Random((rank + 2) / 3), 0, 0});
    if (leaf < 75 && !inBody)
      return Add(Node{'d', 0, Chance(50) ? Name(Random(kSlots)) : kDefinedNames[Random(5)], 0, 0, 0});
    if (leaf < 82) return Add(Node{'L', 0, "", 0, 0, 0});
    if (leaf < 90) return Chance(50) ? Add(Node{'n', 0x900, "DIRECT3D_VERSION", 0, 0, 0})
                                     : Add(Node{'n', 0x902, "GXL_VERSION", 0, 0, 0});
    return Add(Node{'i', 0, Identifier(), 0, 0, 0});
  }
  if (pick < 35) return Add(Node{'!', 0, "", Expression(depth - 1, rank, inBody), 0, 0});
  if (pick < 45) return Add(Node{'p', 0, "", Expression(depth - 1, rank, inBody), 0, 0});
  if (pick < 55) {
    const int c = Expression(depth - 1, rank, inBody), a = Expression(depth - 1, rank, inBody);
    return Add(Node{'?', 0, "", c, a, Expression(depth - 1, rank, inBody)});
  }
  const int a = Expression(depth - 1, rank, inBody);
  return Add(Node{'b', 0, kBinary[Random(12)], a, Expression(depth - 1, rank, inBody), 0});
}

// The value in a C preprocessor and here alike: every part, evaluated or
// not, non-negative, below 2^30 and no divisor zero; else nothing.
std::optional<std::int64_t> ProgramGenerator::Eval(int node, int line) const {
  const Node& n = m_nodes[static_cast<std::size_t>(node)];
  auto valid = [](std::int64_t v) { return v >= 0 && v < kLimit ? std::optional<std::int64_t>(v) : std::nullopt; };
  switch (n.kind) {
    case 'n': return n.number;
    case 'i': return 0;
    case 'L': return line;
    case 'd': {
      for (int s = 0; s < kSlots; ++s)
        if (n.text == Name(s)) return m_macros[s].defined ? 1 : 0;
      return n.text == "NOPE" ? 0 : 1;
    }
    case 'v': return m_macros[n.a].defined ? Eval(m_macros[n.a].root, line) : std::optional<std::int64_t>(0);
    case 'p': return Eval(n.a, line);
    case '!': {
      const auto a = Eval(n.a, line);
      return a ? std::optional<std::int64_t>(*a == 0) : std::nullopt;
    }
    case '?': {
      const auto c = Eval(n.a, line), a = Eval(n.b, line), b = Eval(n.c, line);
      if (!c || !a || !b) return std::nullopt;
      return *c ? a : b;
    }
    default: break;
  }
  const auto a = Eval(n.a, line), b = Eval(n.b, line);
  if (!a || !b) return std::nullopt;
  const std::string& op = n.text;
  if (op == "+") return valid(*a + *b);
  if (op == "-") return valid(*a - *b);
  if (op == "*") return valid(*a * *b);
  if (op == "/") return *b ? std::optional<std::int64_t>(*a / *b) : std::nullopt;
  if (op == "<") return *a < *b;
  if (op == ">") return *a > *b;
  if (op == "<=") return *a <= *b;
  if (op == ">=") return *a >= *b;
  if (op == "==") return *a == *b;
  if (op == "!=") return *a != *b;
  if (op == "&&") return *a && *b;
  return *a || *b;
}

int ProgramGenerator::Precedence(const Node& n) {
  switch (n.kind) {
    case '?': return 1;
    case '!': return 8;
    case 'b': {
      const std::string& op = n.text;
      if (op == "||") return 2;
      if (op == "&&") return 3;
      if (op == "==" || op == "!=") return 4;
      if (op == "+" || op == "-") return 6;
      if (op == "*" || op == "/") return 7;
      return 5;
    }
    default: return 9;
  }
}

// Parentheses only where C's precedence needs them (the 'p' nodes add more).
std::string ProgramGenerator::Print(int node, int minPrecedence) const {
  const Node& n = m_nodes[static_cast<std::size_t>(node)];
  const int precedence = Precedence(n);
  std::string s;
  switch (n.kind) {
    case 'n':
    case 'i': s = n.text; break;
    case 'L': s = "__LINE__"; break;
    case 'd': s = "defined(" + n.text + ")"; break;
    case 'v': s = Name(n.a); break;
    case 'p': s = "(" + Print(n.a, 0) + ")"; break;
    case '!': s = "!" + Print(n.a, 8); break;
    case '?': s = Print(n.a, 2) + " ? " + Print(n.b, 1) + " : " + Print(n.c, 1); break;
    default: s = Print(n.a, precedence) + " " + n.text + " " + Print(n.b, precedence + 1); break;
  }
  return precedence < minPrecedence ? "(" + s + ")" : s;
}

std::string ProgramGenerator::Condition(int line) {
  for (int tries = 0; tries < 20; ++tries) {
    const int root = Expression(1 + Random(4), kSlots, false);
    if (Eval(root, line)) return Print(root, 0);
  }
  return std::to_string(Random(2));
}

}  // namespace shadertest
