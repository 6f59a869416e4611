// A seeded generator of typed HLSL expressions over scalars, vectors and
// matrices, for tests of the lowering and the code generators. It keeps its
// own tree, prints it as HLSL and evaluates it itself in double, sharing
// nothing with the parser or the lowering, so that it can judge both.
//
// Every expression stays clear of the places where two correct compilers may
// differ: no division by values near 0, no remainder or integer conversion
// right at a jump, no comparison or truth test of values that rounding could
// move across the edge, no magnitude above 1e4. Whether a value is computed
// bit for bit alike everywhere ("exact") decides how close to an edge it may
// come.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace hlslgen {

enum class Base : std::uint8_t { Bool, Int, Float };

struct Type {
  Base base = Base::Float;
  std::uint32_t rows = 1;     // above 1 only for matrices
  std::uint32_t columns = 1;  // a vector's size
  bool matrix = false;

  std::uint32_t Count() const { return rows * columns; }
  bool IsScalar() const { return !matrix && columns == 1; }
  bool IsVector() const { return !matrix && columns > 1; }
  std::string Name() const;  // "float3", "int2x4", "bool"
  bool operator==(const Type&) const = default;
};

enum class Kind : std::uint8_t {
  Literal,      // a scalar literal
  Variable,     // one of Variables()
  Unary,        // op: Negate, Plus, Not
  Binary,       // op: arithmetic, comparison or logical
  Conditional,  // children: condition, then, else
  Cast,         // (type)child
  Construct,    // type(children...)
  Swizzle,      // child.picks (component letters, or _mRC for matrices)
  Index,        // child[picks[0]] with a literal index, child[children[1]] otherwise
  Call,         // fn(children...): an intrinsic function
};

// The intrinsics the generator calls: those whose expansions are exact up to
// rounding on every target (the polynomial trigonometry is not).
enum class Fn : std::uint8_t {
  None,
  Abs,
  Floor,
  Ceil,
  Frac,
  Round,
  Saturate,
  Sqrt,
  Rsqrt,
  Exp,
  Exp2,
  Log,
  Log2,
  Log10,
  Degrees,
  Radians,
  Sinh,
  Cosh,
  Tanh,
  Sign,
  Min,
  Max,
  Pow,
  Step,
  Fmod,
  Ldexp,
  Clamp,
  Lerp,
  Smoothstep,
  Dot,
  Length,
  Distance,
  Normalize,
  Cross,
  All,
  Any,
  Mul,
  Determinant,
  Transpose,
  Tex2D,    // tex2D(s<2k>, float2): a procedural two-dimensional sampler
  TexCube,  // texCUBE(s<2k+1>, float3): a procedural cube sampler
  Count
};

const char* FnName(Fn fn);

enum class Op : std::uint8_t {
  None,
  Negate,
  Plus,
  Not,
  Add,
  Subtract,
  Multiply,
  Divide,
  Modulo,
  Less,
  Greater,
  LessEqual,
  GreaterEqual,
  Equal,
  NotEqual,
  And,
  Or,
};

const char* OpText(Op op);

struct Node {
  Kind kind = Kind::Literal;
  Op op = Op::None;
  Type type;
  std::vector<std::uint32_t> children;  // indexes into Nodes()
  std::vector<std::uint32_t> picks;     // swizzle components, or a literal index
  std::uint32_t variable = 0;
  std::vector<double> value;  // one per component, row by row
  bool exact = true;          // every correct evaluation gives these very doubles
  Fn fn = Fn::None;
};

struct Variable {
  std::string name;
  Type type;
  std::vector<double> value;
};

struct Options {
  std::uint32_t maxDepth = 5;
  std::uint32_t maxVariables = 6;
  bool matrices = true;
  bool intrinsics = true;
  // Reads of procedural samplers: even-numbered samplers are two-dimensional,
  // odd-numbered ones cube samplers.
  bool samplers = false;
  std::uint32_t maxSamplers = 4;
  // Float variables and literals in [-1, 1] rather than [-4, 4] (the range of
  // pixel shader 1.x constants).
  bool unitFloats = false;
};

// The texel a procedural sampler returns at a coordinate (n components):
// smooth, bounded, and close to the same at a coordinate rounded to float.
void ProceduralTexel(std::uint32_t sampler, const double* coordinate, std::uint32_t n, double texel[4]);

class Generator {
 public:
  explicit Generator(std::uint64_t seed, const Options& options = {});

  const std::vector<Node>& Nodes() const { return m_nodes; }
  const Node& At(std::uint32_t i) const { return m_nodes[i]; }
  const std::vector<Variable>& Variables() const { return m_variables; }
  std::uint32_t Root() const { return m_root; }

  // The HLSL text of a node, fully parenthesised.
  std::string Text(std::uint32_t node) const;
  // The variables as a parameter list: "float3 v0, int v1".
  std::string Parameters() const;
  // Declarations of the samplers the expression reads ("sampler2D s0;\n...").
  std::string SamplerDeclarations() const;

 private:
  std::uint32_t Make(const Type& type, std::uint32_t depth);
  bool TryMake(const Type& type, std::uint32_t depth, std::uint32_t* out);
  // An intrinsic call giving `type`, into n; false when none fits.
  bool MakeCall(const Type& type, std::uint32_t depth, Node& n);
  bool EvaluateCall(Node& node, bool& exact) const;
  // abs(x) + 0.25 for an x of the type: an argument a logarithm can take.
  std::uint32_t Positive(const Type& type, std::uint32_t depth);
  std::uint32_t Leaf(const Type& type);
  std::uint32_t Add(Node node);
  // A new variable; with indexBelow, its values are whole numbers below it.
  std::uint32_t NewVariable(const Type& type, std::uint32_t indexBelow = 0);
  bool Evaluate(Node& node) const;

  double Uniform(double low, double high) { return std::uniform_real_distribution<double>(low, high)(m_random); }
  std::uint32_t Pick(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(m_random); }
  bool Chance(double p) { return Uniform(0, 1) < p; }
  double RandomValue(Base base);
  Type RandomType(Base base);

  Options m_options;
  std::mt19937_64 m_random;
  std::vector<Node> m_nodes;
  std::vector<Variable> m_variables;
  std::uint32_t m_root = 0;
};

}  // namespace hlslgen
