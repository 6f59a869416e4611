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
//
// With Options::flowControl the expression becomes the first value of a
// local `r` that statements then change: assignments that accumulate, if/else
// on comparisons, and counted for loops whose condition may also end them
// early. The generator runs them itself, once in double and once rounding
// every value to float, and keeps only statements whose decisions agree and
// whose values stay close, so a correct compiler gives Result() within 1e-5.
// Root() is then r's first value; a node inside statements keeps the value of
// its last evaluation. The loop-shape options add do-while loops, bounds and
// conditions on uniforms, flags and elses in place of break and continue,
// arrays indexed by counters and locals carried through loops.
#pragma once

#include <cstdint>
#include <functional>
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
  Local,        // one of the flow-control locals: `r`, a loop counter, ...
  Element,      // an element of a uniform array: variable[children[0]]
  LocalElement, // an element of a local array: local[children[0]]
  Parameter,    // parameter picks[0] of user function `variable`, inside its body
  UserCall,     // user function `variable` called with children as its arguments
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
  // Per component, a first-order bound of how far a correct compiler's value
  // may lie from `value` beyond rounding (float remainders); empty for 0.
  std::vector<double> error{};
  // Read past an array in a loop test that a literal bound beside it decides.
  bool undefined = false;
};

struct Variable {
  std::string name;
  Type type;                   // an array's element type
  std::vector<double> value;   // an array's elements one after another
  std::uint32_t elements = 0;  // an array's length; 0 for a single value
  bool uniform = false;        // a loop bound or an array: only a uniform will do
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
  // Statements after the declaration of `r`. Expressions inside them are at
  // most statementDepth deep; if statements nest up to maxIfDepth, loops up
  // to maxLoopDepth (2: nested once), each runs at most maxLoopCount times
  // (capped at 255) and a loop nest at most 1,024 times in all. Statements
  // are added while EstimatedInstructions() stays within maxInstructions
  // (0: no bound).
  bool flowControl = false;
  std::uint32_t statements = 4;
  std::uint32_t statementDepth = 3;
  std::uint32_t maxIfDepth = 2;
  std::uint32_t maxLoopDepth = 2;
  std::uint32_t maxLoopCount = 8;
  std::uint32_t maxInstructions = 256;
  // Loop shapes, each off by default so that earlier seeds keep their text.
  // Loops bounded by a uniform, alone or beside a literal bound, or ended by
  // a uniform's comparison; the uniforms' values may be negative.
  bool uniformBounds = false;
  // do { ... } while (...) loops, counted by an int or float local that is
  // still read after them.
  bool doWhile = false;
  // The language has no break or continue: a loop's body skips its rest
  // with an if whose else holds it, and ends the loop through a bool its
  // condition tests.
  bool jumps = false;
  // Local arrays and uniform arrays, read and written at indexes made from
  // loop counters.
  bool arrays = false;
  // Locals carried through loops; statements write them and r in part
  // (.yzw, .zw) and read them after the loops.
  bool carried = false;
  // for loops counted from starts other than 0 and by steps other than 1,
  // mostly ended by their literal bound alone, more of them side by side and
  // often of one count, their bodies adding reads of uniform arrays at their
  // own counters (arrays long enough to be indexed by the counter itself).
  bool steps = false;
  // The shapes below are off by default for the same reason.
  // for loops counted down (i--, i -= 2) to a literal bound, and arrays read
  // at reversed indexes (n - i) in loops of constant length.
  bool reversed = false;
  // Loop tests that read an array at the counter beside the literal bound,
  // `i < 4 && a[3 - i].z > x`: the last test may index past the array, and
  // the bound decides it alone.
  bool exitReads = false;
  // Inner loops bounded by an expression of the outer counter: 2 * i, i + 1,
  // n - i, i * i.
  bool outerBounds = false;
  // float w = 0; while (w < n && ...) { ...; w += 1; }
  bool whileLoops = false;
  // User functions of uniforms and their parameters, some with an inout
  // parameter, called in expressions and as statements.
  bool calls = false;
  // Loop nests whose results nothing reads, holding while loops, calls and
  // locals of their own.
  bool deadNests = false;
  // A loop bounded by a uniform around loops with early exits that write a
  // local array at their counters, their exit tests reading it.
  bool exitNests = false;
  // Loops with data-dependent exits around a loop of constant length whose
  // work keeps it a loop: a copy of it for each pass unrolled around it.
  bool keptLoops = false;
  // Nest shapes, off by default for the same reason. They share one float
  // uniform `n0` (2 to 3.5) as the bound of their uniform loops.
  // Nests three to five deep mixing literal bounds, `n0` and bounds of an
  // outer counter (2 * i, i + 1, n - i with n literal or n0, i * i), inner
  // loops counted from an outer counter, r written at their levels.
  bool deepNests = false;
  // while and do loops of length n0 inside counted loops.
  bool uniformWhiles = false;
  // User functions holding loops bounded by n0 (nested at times, or with
  // results nothing reads), called inside loops.
  bool loopCalls = false;
  // Nests two to five deep, bounded by n0 at some level, whose results
  // nothing reads.
  bool deadUniformNests = false;
  // A loop of two or three passes, of constant length or with a
  // data-dependent exit, around nests bounded by n0.
  bool fewPassLoops = false;
};

// The programs the digest tool draws by seed (and the meter bench and the
// upkeep check with it): flow control with arrays, carried values, do loops,
// jumps, uniform bounds or steps; samplers in some pixel programs.
Options DigestShapes(std::uint64_t seed, bool pixel);

constexpr std::uint32_t kNone = ~0u;

// One statement of a flow-control program.
struct Statement {
  enum class Kind : std::uint8_t {
    Assign,   // target[.components] op= value; the first statement declares r
    If,       // if (condition) { body } else { otherwise }; no else when it is empty
    For,      // for (int counter = start; condition; counter += step) { body }
    Declare,  // T target = value; or T target[n] = {inits...};
    DoWhile,  // T counter = 0; do { counter += 1; body } while (condition);
    While,    // float counter = 0; while (condition) { body counter += 1; }
    Call,     // f(arguments..., target): a user function's inout parameter is `target`
  };
  Kind kind = Kind::Assign;
  bool declares = false;
  Op op = Op::None;                            // Assign: None for =, else Add, Subtract or Multiply
  std::int32_t component = -1;                 // Assign: the component written, -1 for all of it
  std::uint32_t value = 0;                     // Assign and Declare: the expression; loops and If: the condition
  std::uint32_t stored = 0;                    // Assign: the node whose value is stored (target op value)
  std::uint32_t counter = 0;                   // For, DoWhile: index into Locals()
  std::uint32_t count = 0;                     // For, DoWhile: the most iterations (the literal bound)
  std::vector<std::uint32_t> body, otherwise;  // indexes into Statements()
  std::uint32_t target = 0;                    // Assign, Declare: the local (0 is r)
  std::vector<std::uint32_t> components;       // Assign: the components written when more than one
  std::uint32_t element = kNone;               // Assign: the index node of an array element written
  std::vector<std::uint32_t> inits;            // Declare of an array: a node per element
  std::uint32_t flag = kNone;                  // loops: a bool local declared true before them, in their condition
  std::uint32_t before = kNone;                // loops: a Declare right before them, of a local they carry
  bool dynamic = false;                        // For: bounded by a uniform alone; count is what its value gives
  std::int32_t start = 0, step = 1;            // For: the counter's first value and its step
  std::uint32_t from = kNone;                  // For: a counter whose value is the first value, in place of start
  std::uint32_t after = kNone;                 // loops: a statement right after them (reads what they wrote)
};

struct Local {
  std::string name;
  Type type;  // an array's element type
  std::vector<double> value;
  bool exact = true;
  std::uint32_t elements = 0;  // an array's length
  // A loop counter's values while it is in scope; high < low when it may
  // not index.
  std::int32_t low = 0, high = -1;
  bool written = false;  // a carried local or an array: statements may write it
  std::vector<double> error{};  // as Node::error, per element of `value`
  // A for counter's least and greatest values, bound by a uniform or not
  // (last < first: not known).
  std::int32_t first = 0, last = -1;
};

// A user function: `value` is what it returns, a tree over its parameters
// (Kind::Parameter), literals and uniforms; with `inout`, the last parameter
// is inout and `update`, when not kNone, its new value. `body` holds
// statements that run before the return (declarations and loops over
// locals of the function's own, which `value` may read).
struct Function {
  std::string name;
  Type result;
  std::vector<Local> parameters;  // their values: the current call's arguments
  bool inout = false;
  std::uint32_t value = 0;
  std::uint32_t update = kNone;
  std::vector<std::uint32_t> body{};
};

// The texel a procedural sampler returns at a coordinate (n components):
// smooth, bounded, and close to the same at a coordinate rounded to float.
void ProceduralTexel(std::uint32_t sampler, const double* coordinate, std::uint32_t n, double texel[4]);

const Type kBool{Base::Bool, 1, 1, false};
const Type kInt{Base::Int, 1, 1, false};
const Type kFloat{Base::Float, 1, 1, false};

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

  // Statements that declare `r` and leave the generated value in it, each
  // line indented by two spaces; without flowControl "  T r = <Text(Root())>;\n".
  std::string Body() const;
  // A whole entry point `main` with every variable a uniform, returning the
  // first four components of r (0 past its end) to COLOR (pixel) or POSITION.
  std::string UniformProgram(bool pixel) const;
  // The value Body() leaves in r, and its type (the root's).
  const std::vector<double>& Result() const { return m_result; }
  const Type& ResultType() const { return m_nodes[m_root].type; }
  // The program's statements (empty without flowControl) and its top level.
  const std::vector<Statement>& Statements() const { return m_statements; }
  const std::vector<std::uint32_t>& TopLevel() const { return m_top; }
  const std::vector<Local>& Locals() const { return m_locals; }
  // The user functions the statements call, and their definitions, to stand
  // after the uniforms and before the entry point.
  const std::vector<Function>& Functions() const { return m_functions; }
  std::string FunctionText() const;
  // The statements of the program and of its functions, as printed: each
  // declaration a loop prints before itself counts as one.
  std::uint32_t StatementCount() const;
  // The deepest nest of loops, a call counting the loops of its function
  // at the depth of the call.
  std::uint32_t NestDepth() const;
  // A rough upper estimate of the instructions the body compiles to, loops
  // unrolled (a target that keeps its loops needs fewer).
  std::uint32_t EstimatedInstructions() const;
  // The largest magnitude a float value reached in the program's run and in
  // its literals (the range of pixel shader 1.x).
  double FloatRange() const { return m_range; }
  // Per component of Result(), how far right code may lie from it beyond a
  // few roundings: a float remainder x % y is y * frac(x / y) on the target,
  // off by about |x| * 2^-23 however small the result, and what the program
  // does with it afterwards carries that on (0 without remainders).
  const std::vector<double>& ResultError() const { return m_resultError; }

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
  // Sets node.error from its children's errors (each perturbed both ways in
  // turn, a first-order forward bound) and the remainder it takes itself.
  void Bound(Node& node);

  // Flow control (hlslgen_flow.cpp).
  void MakeProgram();
  std::uint32_t MakeStatement(std::uint32_t ifDepth, std::uint32_t loopDepth, std::uint32_t iterations,
                              bool accumulate);
  std::vector<std::uint32_t> MakeBlock(std::uint32_t ifDepth, std::uint32_t loopDepth, std::uint32_t iterations,
                                       bool accumulate);
  std::uint32_t MakeCondition();
  std::uint32_t LocalNode(std::uint32_t local);
  std::uint32_t ComponentOf(std::uint32_t node, std::uint32_t component);
  bool Reevaluate(std::uint32_t node);
  // Runs a statement, recording its decisions; without a trace speculatively,
  // as guarded code computes what does not run.
  bool Run(std::uint32_t statement, std::vector<bool>* trace);
  // With `alone`, a loop's statement after it does not run.
  bool Speculate(const std::vector<std::uint32_t>& block, bool alone = false);
  // A loop that ended early: its body speculatively with the counter at
  // first..last, then the whole loop speculatively from `entry`.
  bool SpeculateRest(std::uint32_t loop, const std::vector<Local>& entry, std::uint32_t first, std::uint32_t last);
  bool RunProgram(bool single, std::vector<double>& result, std::vector<bool>& trace);
  bool Simulate();
  bool Varies(std::uint32_t node) const;
  bool Shaped() const {
    return m_options.uniformBounds || m_options.doWhile || m_options.jumps || m_options.arrays || m_options.carried ||
           m_options.steps || m_options.reversed || m_options.exitReads || m_options.whileLoops || m_options.calls ||
           Nests();
  }
  bool Nests() const {
    return m_options.outerBounds || m_options.deadNests || m_options.exitNests || m_options.keptLoops ||
           UniformNests();
  }
  bool UniformNests() const {
    return m_options.deepNests || m_options.uniformWhiles || m_options.loopCalls || m_options.deadUniformNests ||
           m_options.fewPassLoops;
  }

  // Loop shapes (hlslgen_shapes.cpp).
  std::uint32_t MakeShaped(Statement s, std::uint32_t ifDepth, std::uint32_t loopDepth, std::uint32_t iterations,
                           bool accumulate);
  std::vector<std::uint32_t> MakeShapedBlock(std::uint32_t ifDepth, std::uint32_t loopDepth,
                                             std::uint32_t iterations, bool accumulate);
  // An assignment to r or a writable local; with readAfter, to r of a value
  // read from another local (value kNone when there is none).
  void MakeAssign(Statement& s, bool accumulate, bool readAfter = false);
  void MakeLoop(Statement& s, std::uint32_t ifDepth, std::uint32_t loopDepth, std::uint32_t iterations);
  void MakeDeclare(Statement& s);
  // A statement that reads a local live from m_live[from] on into r, or kNone.
  std::uint32_t MakeReadAfter(std::size_t from);
  // The term that changes with a loop counter: value * (float)i, or value + i.
  std::uint32_t WithCounter(std::uint32_t value, const Type& type, std::uint32_t counter);
  std::uint32_t AddLocal(Local local);
  // A read of a uniform or local array element of the type, or kNone.
  // With `counter`, an element of a uniform array long enough for it, at an
  // index made from that counter.
  std::uint32_t ArrayRead(const Type& type, std::uint32_t counter = kNone);
  // An int index below `length`: from a live counter when one fits (`counter`
  // when given), else a literal.
  std::uint32_t IndexBelow(std::uint32_t length, std::uint32_t counter = kNone);
  // The value of a loop's counter in its pass k (0 first).
  double CounterValue(const Statement& s, std::uint32_t k) const {
    if (s.kind != Statement::Kind::For) return k;
    return (s.from != kNone ? m_locals[s.from].value[0] : s.start) + static_cast<double>(k) * s.step;
  }
  // A node of `type` made from a read of a live local other than r (from
  // m_live[first] on), or kNone.
  std::uint32_t ReadOfLocal(const Type& type, std::size_t first = 1);
  std::uint32_t Literal(const Type& type, double value);
  std::uint32_t Binary(Op op, const Type& type, std::uint32_t a, std::uint32_t b);
  std::uint32_t NewUniform(const Type& type, std::vector<double> value, std::uint32_t elements);
  // The literal a for loop's counter stays below: past its last value by at
  // most a step.
  std::int32_t LiteralBound(const Statement& s) {
    const std::int32_t last = s.start + (static_cast<std::int32_t>(s.count) - 1) * s.step;
    return s.step == 1 ? last + 1 : last + 1 + static_cast<std::int32_t>(Pick(static_cast<std::uint32_t>(s.step)));
  }
  // The condition of a loop ended by a uniform: `bound` with the counter's
  // or a uniform's comparison; sets count and dynamic.
  std::uint32_t UniformCondition(Statement& s, std::uint32_t most, std::uint32_t counterNode);
  std::string TargetText(const Statement& s) const;
  // The text of a statement other than if/else.
  std::string ShapedText(std::uint32_t statement, std::uint32_t indent) const;
  bool RunShaped(std::uint32_t statement, std::vector<bool>* trace);
  // Stores an assignment's value into its target; false for an index out of range.
  bool Store(const Statement& s, const Node& n);
  std::uint32_t Cost(std::uint32_t node) const;
  std::uint32_t StatementCost(std::uint32_t statement) const;
  std::string StatementText(std::uint32_t statement, std::uint32_t indent) const;
  bool RunStatement(std::uint32_t statement, std::vector<bool>* trace);
  // A loop's condition; an array read past its end is undefined there and
  // fails unless the bound beside it decides.
  bool Test(std::uint32_t node);

  // Loop nests (hlslgen_nests.cpp).
  struct LoopPlan {
    Statement::Kind kind = Statement::Kind::For;
    std::uint32_t count = 1;  // the most passes
    std::int32_t start = 0, step = 1;
    // Shared: n0; Outer: a form of an enclosing counter.
    enum class Bound : std::uint8_t { Literal, Uniform, Outer, Shared } bound = Bound::Literal;
    enum class Exit : std::uint8_t { None, Condition, ArrayTest } exit = Exit::None;
    bool flag = false;
    std::uint32_t outer = kNone;  // Bound::Outer: the enclosing counter
    std::uint32_t form = 0;       // Bound::Outer: 2 * i, i + 1, n - i, i * i
    bool shared = false;          // Bound::Outer, n - i: n is n0
    std::uint32_t from = kNone;   // For: counted from this enclosing counter (then `count` is the bound)
  };
  // A loop as planned; `body` makes its statements given the counter and the
  // iterations of the nest so far (what it declares ends with the body).
  using BodyMaker = std::function<std::vector<std::uint32_t>(std::uint32_t counter, std::uint32_t iterations)>;
  std::uint32_t PlannedLoop(LoopPlan plan, std::uint32_t iterations, const BodyMaker& body);
  std::uint32_t MakeNest(std::uint32_t ifDepth);
  std::uint32_t MakeDeadNest();
  std::uint32_t MakeExitNest(std::uint32_t ifDepth);
  std::uint32_t MakeKeptNest(std::uint32_t ifDepth);
  std::uint32_t MakeOuterNest(std::uint32_t ifDepth);
  // A statement of a dead nest: it writes only locals declared in the nest.
  std::uint32_t DeadStatement(std::uint32_t iterations);
  // A local of the nest's own holding `value`, live from here.
  std::uint32_t DeadLocal(const Type& type, std::uint32_t value);
  // The most passes `form` of the outer counter gives; 0 when it may not.
  std::uint32_t OuterCount(std::uint32_t outer, std::uint32_t form, std::uint32_t most, std::int32_t* n);
  // A comparison of an array element at `counter` with a value.
  std::uint32_t ExitTest(std::uint32_t counter);
  std::uint32_t PushStatement(Statement s);

  // Nests bounded by n0 (hlslgen_uniform_nests.cpp).
  // The uniform n0, made on first use with a value from 2 to 3.5, and a
  // read of it.
  std::uint32_t SharedVariable();
  std::uint32_t SharedBound();
  // The passes of a loop counted by 1 from `start` while below n0.
  std::uint32_t SharedPasses(double start);
  std::uint32_t MakeUniformNest();
  // One level of a nest `levels` deep (this one included), n0 its bound
  // where `levels` is `sharedAt`; `dead`: it writes only locals of its own.
  std::uint32_t NestLevel(std::uint32_t levels, std::uint32_t iterations, bool dead, std::uint32_t sharedAt);
  LoopPlan LevelPlan(std::uint32_t iterations, bool shared);
  // A while or do loop of length n0.
  std::uint32_t UniformWhile(std::uint32_t iterations, bool dead);
  // Statements of a nest's body: r written (with a call of a loop function
  // at times, always with `call`), or, when `dead`, locals of the nest's own.
  void NestStatements(std::vector<std::uint32_t>& body, std::uint32_t iterations, bool dead, bool call = false);
  std::uint32_t DeadUniformNest(std::uint32_t iterations, std::uint32_t levels);
  std::uint32_t MakeFewPassLoop();
  // A call of a function that holds loops bounded by n0, or kNone.
  std::uint32_t LoopCallOf(const Type& type);
  std::uint32_t MakeLoopFunction(const Type& result, const std::vector<std::uint32_t>& arguments);
  // Runs a function's body before its value is evaluated.
  bool RunBody(const Function& f);
  std::uint32_t DepthOf(std::uint32_t statement) const;
  std::uint32_t CallDepth(std::uint32_t node) const;

  // User functions (hlslgen_calls.cpp).
  // A call of a new or existing function returning `type`, or kNone.
  std::uint32_t UserCallOf(const Type& type);
  // A call statement whose inout argument is `target` (kNone: a fitting
  // live local); `alone` makes a function that leaves it alone.
  bool MakeCallStatement(Statement& s, std::uint32_t target, bool alone);
  // A new function named by its index, its parameters typed and valued as
  // the arguments; its body is left to the caller.
  std::uint32_t AddFunction(const Type& result, const std::vector<std::uint32_t>& arguments);
  std::uint32_t MakeFunction(const Type& result, const std::vector<std::uint32_t>& arguments, const Local* inout,
                             bool alone);
  // Inside a function's body: a parameter, a uniform or a literal.
  std::uint32_t FunctionLeaf(const Type& type);
  // Binds the arguments' values to the function's parameters and runs it.
  bool RunCall(std::uint32_t call);

  // "{", `first`, the statements one level deeper, "}" at `indent`.
  std::string BlockText(const std::vector<std::uint32_t>& statements, std::uint32_t indent,
                        const std::string& first = {}) const;
  std::uint32_t ExpressionDepth() const;

  double Uniform(double low, double high) { return std::uniform_real_distribution<double>(low, high)(m_random); }
  std::uint32_t Pick(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(m_random); }
  bool Chance(double p) { return Uniform(0, 1) < p; }
  double RandomValue(Base base);
  Type RandomType(Base base);

  // A shader model 3 loop runs at most 255 times; unrolling stops at 1,024.
  static constexpr std::uint32_t kMostCount = 255, kMostIterations = 1024;

  Options m_options;
  std::mt19937_64 m_random;
  std::vector<Node> m_nodes;
  std::vector<Variable> m_variables;
  std::uint32_t m_root = 0;
  std::vector<double> m_result;
  std::vector<double> m_resultError;

  std::vector<Statement> m_statements;
  std::vector<std::uint32_t> m_top;
  std::vector<Local> m_locals;
  std::vector<std::uint32_t> m_live;  // locals in scope while statements are made
  bool m_flow = false;                // set once the root is made
  bool m_single = false;              // round every computed value to float
  std::uint32_t m_inIndex = 0;        // making an index expression
  double m_tolerance;                 // how near an edge an inexact value may come
  double m_discrepancy = 0;           // between the double and float runs so far
  double m_range = 0;                 // FloatRange()
  bool m_ranging = false;             // the double run measures m_range and bounds errors
  std::vector<std::uint32_t> m_flags;    // the flag of each loop being made (kNone without)
  std::vector<std::uint32_t> m_counters; // the counter of each loop being made
  std::vector<std::uint32_t> m_carried;  // the local declared before each loop being made (kNone without)
  bool m_body = false;                   // the next block made is a loop's body
  std::size_t m_readFrom = 1;            // MakeAssign's readAfter: the first m_live entry to read
  std::uint32_t m_lastCount = 0;         // the count of the last for loop made with other steps on
  std::vector<Function> m_functions;
  std::uint32_t m_function = kNone;      // the function whose body is being made
  bool m_lenient = false;                // evaluating a loop test: reads past an array are undefined
  std::uint32_t m_forceTarget = kNone;   // MakeAssign writes this local
  std::uint32_t m_deadFrom = kNone;      // in a dead nest: its locals are m_locals[m_deadFrom] on
  bool m_work = false;                   // MakeAssign adds work that keeps a loop a loop
  bool m_loopCall = false;               // MakeAssign adds a call of a function holding loops
};

// Whether the tree of `node` holds a node that `match` accepts.
inline bool Reads(const Generator& g, std::uint32_t node, const std::function<bool(const Node&)>& match) {
  const Node& n = g.At(node);
  if (match(n)) return true;
  for (std::uint32_t c : n.children)
    if (Reads(g, c, match)) return true;
  return false;
}

}  // namespace hlslgen
