// Random preprocessor programs from the subset on which this preprocessor
// and a C preprocessor agree by design: object-like and function-like macros
// (parameters, non-empty arguments, calls on one line, nested calls), one #
// or ## per body, #define, #undef, #ifdef, #ifndef, #if, #elif, #else and
// #endif over non-negative values with + - * / < > <= >= == != && || ! ?:
// and defined(X), #include "..." beside the including file, and __LINE__.
// Macros only name macros of lower rank, so no expansion reaches a cycle.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace shadertest {

struct GeneratedProgram {
  std::vector<std::pair<std::string, std::string>> files;  // (relative name, text); the main file first
};

class ProgramGenerator {
 public:
  static constexpr int kSlots = 12;  // macros M0..M11: value, text and function-like in turn

  explicit ProgramGenerator(std::uint32_t seed) : m_random(seed) {}
  // A program whose files are named after stem ("p7" gives p7.fx, p7a.h, sub/p7b.h, sub/p7c.h).
  GeneratedProgram Next(const std::string& stem);

 private:
  struct Node {  // an #if expression
    char kind;  // n number, v value macro, i identifier, d defined, L __LINE__, ! not, b binary, ? conditional, p parens
    std::int64_t number;
    std::string text;  // number spelling, identifier, defined's operand, binary operator
    int a, b, c;       // operands (node indices), or the macro slot of v
  };
  struct Macro {
    bool defined = false;
    int root = -1;  // value macros: the body expression
    // Function-like macros keep their shape for the whole program: the
    // operator (0 none, '#', '#'+'#' as 'p'), its operands, and what each
    // argument may hold: 'a' anything, 'i' one name, 'n' a name or a number.
    char op = 0;
    std::string opText;
    std::vector<char> paramClass;
  };
  struct File {
    std::string name, text;
    int lines = 0;
  };

  int Random(int n) { return static_cast<int>(m_random() % static_cast<std::uint32_t>(n)); }
  bool Chance(int percent) { return Random(100) < percent; }
  static int Kind(int slot) { return slot % 3; }  // 0 value, 1 text, 2 function-like
  static int Arity(int slot) { return 1 + (slot / 3) % 3; }

  void Line(File& f, const std::string& text);
  void Shape(int slot);
  // Joins two pieces of text, with a blank unless the second starts with a
  // punctuator that cannot merge with the first into a comment or a number.
  static std::string Join(const std::string& a, const std::string& b, bool blank);
  void Items(File& f, int count, int includeDepth, const std::string& stem);
  void Define(File& f);
  void Conditional(File& f, int depth);
  std::string TextLine(int rank);
  std::string Token(int rank, int depth);
  std::string Call(int slot, int rank, int depth);
  std::string Argument(char paramClass, int rank, int depth);
  std::string Identifier() { return std::string(1, static_cast<char>('a' + Random(5))); }
  std::string Number();

  // #if expressions: a tree whose every part is valid where it is used.
  int Expression(int depth, int rank, bool inBody);
  int Add(Node n);
  std::optional<std::int64_t> Eval(int node, int line) const;
  std::string Print(int node, int minPrecedence) const;
  static int Precedence(const Node& n);
  // An expression valid at the line; falls back to a literal.
  std::string Condition(int line);

  std::mt19937 m_random;
  std::vector<Node> m_nodes;
  Macro m_macros[kSlots];
  std::deque<File> m_files;  // stays in place while included files are added
};

}  // namespace shadertest
