// The compiler object: entry-function choice, reports at tree locations,
// placement in register banks, operand layouts and the scratch storage.
#include <cstring>

#include "compiler_fixture.h"
#include "gxl/shader/hlsl/hlsl_parser.h"

namespace compilertest {
namespace {

class GxlCompilerObject : public CompilerTest {
 protected:
  static const char* Text(const std::string& s) {
    auto* copy = static_cast<char*>(PoolAlloc(s.size() + 1));
    std::memcpy(copy, s.c_str(), s.size() + 1);
    return copy;
  }
  TokenNode* Name(const std::string& text) {
    SourceToken t;
    t.kind = kTokenIdentifier;
    t.value.text = Text(text);
    t.file = "unit.fx";
    t.line = ++line;
    return new TokenNode(t);
  }
  struct Fn {
    const char* name;
    const char* profile;  // target clause, or null
    bool body = true;
    std::uint32_t flags = 0;
  };
  DeclarationNode* Function(const Fn& f) {
    auto* d = new ParseNodeKind10(0, 0, f.flags, f.profile ? Name(f.profile) : nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr);
    d->hasBody = f.body;
    return new DeclarationNode(kDeclFunction, Name(f.name), d, nullptr);
  }
  std::vector<DeclarationNode*> SetProgram(const std::vector<Fn>& fns) {
    std::vector<DeclarationNode*> out;
    ParseNode* list = nullptr;
    for (const Fn& f : fns) {
      out.push_back(Function(f));
      list = AppendToList(list, new ListNode(out.back(), nullptr, "Stmts"));
    }
    compiler.tree = new ProgramNode(0, 0, 0, list);
    return out;
  }
  // Index of the chosen function among `decls`, or -1.
  static int Chosen(const std::vector<DeclarationNode*>& decls, const ParseNodeKind10* f) {
    for (std::size_t i = 0; i < decls.size(); ++i)
      if (decls[i]->description == f) return static_cast<int>(i);
    return -1;
  }

  std::uint32_t line = 0;
};

TEST_F(GxlCompilerObject, EntryPointFollowsTheTargetCompatibilityRules) {
  struct Row {
    std::uint32_t version;
    std::vector<Fn> functions;
    int expected;
  };
  const Row rows[] = {
      {0xFFFE0200, {{"main", "vs_2_0"}, {"main", "vs"}}, 0},  // exact beats bare
      {0xFFFE0300, {{"main", "vs_2_0"}, {"main", "vs"}}, 1},  // only the bare one fits
      {0xFFFE0200, {{"main", "vs"}, {"main", "vs_2_0"}}, 1},  // a later, larger token wins
      {0xFFFE0200, {{"main", nullptr}, {"main", "vs"}}, 1},
      {0xFFFE0200, {{"main", nullptr}, {"main", nullptr}}, 0},  // ties keep the first
      {0xFFFE0200, {{"main", "ps"}, {"main", "ps_2_0"}, {"main", "vs_3_0"}}, -1},
      {0xFFFE0200, {{"main", "no_such_profile"}}, -1},
      {0xFFFF0200, {{"main", "vs"}, {"main", "ps"}}, 1},
      {0xFFFE0200, {{"main", "vs_2_0", false}, {"main", nullptr}}, 1},  // no body, never chosen
      {0xFFFE0200, {{"main", nullptr, true, ParseNodeKind10::kNotEntryPoint}}, -1},
      {0xFFFE0200, {{"Main", nullptr}, {"other", nullptr}}, -1},  // names are case-sensitive
  };
  for (const Row& row : rows) {
    compiler.version = row.version;
    const auto decls = SetProgram(row.functions);
    EXPECT_EQ(Chosen(decls, compiler.FindEntryPoint("main")), row.expected) << "row " << (&row - rows);
  }
  compiler.tree = nullptr;
  EXPECT_EQ(compiler.FindEntryPoint("main"), nullptr);
}

TEST_F(GxlCompilerObject, EntryPointByDeclarationChoosesAmongTheListed) {
  compiler.version = 0xFFFE0200;
  const auto decls = SetProgram({{"f", "vs", true, ParseNodeKind10::kNotEntryPoint}, {"g", "vs_2_0"}, {"h", nullptr}});
  // Candidates as the parser lists them: values addressing declarations.
  auto candidates = [&](std::initializer_list<int> which) {
    ParseNode* list = nullptr;
    for (int i : which)
      list = AppendToList(
          list, new ListNode(new ExpressionNode(kValueFunction, static_cast<const void*>(decls[i]), 0, SourceToken{}),
                             nullptr, "Values"));
    return list;
  };
  const char* name = nullptr;
  EXPECT_EQ(Chosen(decls, compiler.FindEntryPointByDeclaration(candidates({0, 2}), &name)), 0);  // flag 2 allowed
  EXPECT_STREQ(name, "f");
  EXPECT_EQ(Chosen(decls, compiler.FindEntryPointByDeclaration(candidates({0, 1, 2}), &name)), 1);
  EXPECT_STREQ(name, "g");
  EXPECT_EQ(compiler.FindEntryPointByDeclaration(nullptr, &name), nullptr);
}

TEST_F(GxlCompilerObject, ReportsPointAtTheNodesLocation) {
  DeclarationNode* declaration = Function({"main", nullptr});  // name on line 1
  SourceToken at;
  at.file = "unit.fx";
  at.line = 12;
  auto* expression = new ParseNodeKind13(nullptr, kExprAdd, nullptr, nullptr, 1, at);
  auto* inner = new StatementNode(kStatementExpression, nullptr, expression, nullptr, nullptr);
  auto* outer = new StatementNode(kStatementIf, nullptr, new ListNode(inner, nullptr, "Stmts"), nullptr, nullptr);

  GXL_SHADER_REPORT(compiler, declaration, msg::kEntryPointNotFound, "main");
  EXPECT_EQ(compiler.errorFlag, 1u);
  compiler.errorFlag = 0;
  GXL_SHADER_REPORT(compiler, outer, msg::kTex1DDependent);
  EXPECT_EQ(compiler.errorFlag, 0u);  // a warning
  compiler.ReportError(nullptr, 0, "internal error: %s", std::string(400, 'x').c_str());
  EXPECT_EQ(compiler.errorFlag, 1u);
  const std::string log = Log();
  EXPECT_NE(log.find("unit.fx(1): error X3501: 'main': entrypoint not found"), std::string::npos) << log;
  EXPECT_NE(log.find("unit.fx(12): warning X3509: tex1D"), std::string::npos) << log;
  const std::size_t internal = log.find("internal error: xxx");
  ASSERT_NE(internal, std::string::npos) << log;
  EXPECT_EQ(log.find_first_of("\r\n", internal) - internal, 255u);  // cut to 255 characters, no location
}

TEST_F(GxlCompilerObject, PlacementGivesRegistersComponentsAndPackedPositions) {
  struct Row {
    std::uint32_t shape, rows, columns, typeFlags;
    std::vector<std::uint32_t> reg, component, packed;  // for the values in row order
    std::uint32_t registers;
  };
  const Row rows[] = {
      {kShapeMatrix,
       3,
       3,
       kTypeRowMajor,
       {0, 0, 0, 1, 1, 1, 2, 2, 2},
       {0, 1, 2, 0, 1, 2, 0, 1, 2},
       {0, 1, 2, 4, 5, 6, 8, 9, 10},
       3},
      {kShapeMatrix, 2, 3, 0, {0, 1, 2, 0, 1, 2}, {0, 0, 0, 1, 1, 1}, {0, 4, 8, 1, 5, 9}, 3},  // by columns
      {kShapeVector, 1, 6, 0, {0, 0, 0, 0, 1, 1}, {0, 1, 2, 3, 0, 1}, {0, 1, 2, 3, 4, 5}, 2},
      {kShapeMatrix,
       2,
       5,
       kTypeRowMajor,
       {0, 0, 0, 0, 1, 2, 2, 2, 2, 3},
       {0, 1, 2, 3, 0, 0, 1, 2, 3, 0},
       {0, 1, 2, 3, 4, 8, 9, 10, 11, 12},
       4},
  };
  for (const Row& row : rows) {
    const std::uint32_t bank = program->AddRegisterBank("c", kBankBound | kBankReadable, 5, 4);
    program->Bank(bank)->registersUsed = 5;
    std::vector<std::uint32_t> values;
    for (std::size_t i = 0; i < row.reg.size(); ++i) values.push_back(Literal(0));
    std::uint32_t offset = 100, count = 0;
    ASSERT_EQ(compiler.PlaceValuesInBank(row.shape, row.rows, row.columns, row.typeFlags, values.data(), bank, &offset,
                                         7, &count),
              S_OK);
    EXPECT_EQ(count, row.reg.size());
    EXPECT_EQ(offset, 100 + 4 * row.registers);
    EXPECT_EQ(program->Bank(bank)->registerCount, 5 + row.registers);
    EXPECT_EQ(program->Bank(bank)->registersUsed, 5 + row.registers);  // a bound file's second count
    for (std::size_t i = 0; i < values.size(); ++i) {
      const IrValue& v = *program->Value(values[i]);
      EXPECT_EQ(v.bank, bank);
      EXPECT_EQ(v.tag, 7u);
      EXPECT_EQ(v.reg, 5 + row.reg[i]) << "row " << (&row - rows) << " value " << i;
      EXPECT_EQ(v.component, row.component[i]) << "row " << (&row - rows) << " value " << i;
      EXPECT_EQ(v.variableOffset, 100 + row.packed[i]) << "row " << (&row - rows) << " value " << i;
    }
    EXPECT_TRUE(compiler.AllValuesTagged(values.data(), static_cast<std::uint32_t>(values.size())));
  }
  std::uint32_t v = Literal(0), offset = 0, count = 9;
  EXPECT_EQ(compiler.PlaceValuesInBank(kShapeScalar, 0, 1, 0, &v, 999, &offset, 1, &count), S_OK);  // nothing to place
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(compiler.PlaceValuesInBank(kShapeScalar, 1, 1, 0, &v, 999, &offset, 1, &count), E_FAIL);
  EXPECT_EQ(compiler.PlaceValuesInBank(kShapeScalar, 1, 1, 0, &v, Bank(StandardBank::Temporaries), &offset, 1, &count),
            E_FAIL);  // a bank without a fixed count
  EXPECT_FALSE(compiler.AllValuesTagged(&v, 1));
  EXPECT_TRUE(compiler.AllValuesTagged(nullptr, 0));
}

TEST_F(GxlCompilerObject, LayoutChecksTellRowsFromColumns) {
  const std::uint32_t bound = program->AddRegisterBank("c", kBankBound | kBankReadable, 8, 4);
  auto laid = [&](bool byRows) {  // a 2 x 3 matrix in a bound file, rows or columns in registers
    std::vector<std::uint32_t> v;
    for (std::uint32_t r = 0; r < 2; ++r)
      for (std::uint32_t c = 0; c < 3; ++c) v.push_back(program->AddValue(bound, byRows ? r : c, byRows ? c : r, 0));
    return v;
  };
  const auto rowsLaid = laid(true), columnsLaid = laid(false);
  std::vector<std::uint32_t> scattered = rowsLaid;
  std::swap(scattered[1], scattered[3]);
  // Temporaries: each row made by one instruction.
  const Values r0 = B().Add(B().Input(0, 3), B().Input(1, 3)), r1 = B().Mul(B().Input(0, 3), B().Input(1, 3));
  for (std::uint32_t i = 0; i < program->instructions.Count(); ++i)
    for (std::uint32_t k = 0; k < program->Instruction(i)->resultCount; ++k)
      program->Value(program->Instruction(i)->results[k])->definingPosition = i;
  const std::vector<std::uint32_t> temporaries = irkit::Concat(r0, r1);
  struct Row {
    const std::vector<std::uint32_t>* values;
    std::uint32_t shape, rows, columns, row, column;
  };
  const Row rows[] = {
      {&rowsLaid, kShapeMatrix, 2, 3, 1, 0},    {&columnsLaid, kShapeMatrix, 2, 3, 0, 1},
      {&scattered, kShapeMatrix, 2, 3, 1, 1},   {&temporaries, kShapeMatrix, 2, 3, 1, 0},
      {&rowsLaid, kShapeVector, 1, 3, 1, 0},    {&rowsLaid, kShapeMatrix, 0, 3, 0, 0},
      {&columnsLaid, kShapeScalar, 2, 1, 0, 1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(compiler.CheckRowLayout(row.values->data(), row.shape, row.rows, row.columns), row.row)
        << "row " << (&row - rows);
    EXPECT_EQ(compiler.CheckColumnLayout(row.values->data(), row.shape, row.rows, row.columns), row.column)
        << "row " << (&row - rows);
  }
}

TEST_F(GxlCompilerObject, WordStackKeepsBlocksAcrossChunkBoundaries) {
  // Blocks of varying size past several 8192-word chunks, each filled with
  // its own pattern, then popped in reverse with the patterns intact.
  const std::uint32_t sizes[] = {8000, 150, 300, 9000, 0, 8186, 1, 20000, 7};
  std::vector<std::uint32_t*> blocks;
  for (std::uint32_t i = 0; i < std::size(sizes); ++i) {
    std::uint32_t* b = compiler.PushWords(sizes[i]);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) % 16, 0u);
    std::fill_n(b, sizes[i], i * 0x01010101u);
    blocks.push_back(b);
  }
  for (std::uint32_t i = static_cast<std::uint32_t>(blocks.size()); i-- > 0;) {
    for (std::uint32_t k = 0; k < sizes[i]; ++k) ASSERT_EQ(blocks[i][k], i * 0x01010101u) << i << " " << k;
    compiler.PopWords(blocks[i]);
  }
  // Popping and pushing again at a chunk boundary reuses the chunk.
  ShaderCompiler fresh;
  std::uint32_t* base = fresh.PushWords(8100);
  std::uint32_t* across = fresh.PushWords(200);
  ASSERT_NE(across, nullptr);
  EXPECT_NE(across, base + 8104);  // a new chunk
  fresh.PopWords(across);
  for (int i = 0; i < 100; ++i) {
    std::uint32_t* again = fresh.PushWords(200);
    EXPECT_EQ(again, across);
    fresh.PopWords(again);
  }
  fresh.PopWords(base);
  EXPECT_EQ(compiler.PushWords(1u << 29), nullptr);
}

TEST_F(GxlCompilerObject, ScratchGrowsWithoutKeepingItsContents) {
  for (std::uint32_t n : {1u, 16u, 17u, 100u, 5000u, 3u}) {
    std::uint32_t* s = compiler.ReserveScratch(n);
    ASSERT_NE(s, nullptr);
    FillIndicesWithNone(s, n);  // the whole request is usable (the sanitizer watches)
    EXPECT_EQ(s[n - 1], kNoIndex);
  }
  EXPECT_EQ(compiler.ReserveScratch(0xFFFFFFFFu), nullptr);
  EXPECT_NE(compiler.ReserveScratch(10), nullptr);
}

}  // namespace
}  // namespace compilertest
