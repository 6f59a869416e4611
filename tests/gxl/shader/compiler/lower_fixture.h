// A parser and a compiler in one shader-tool run: trees built through the
// parser's operations are lowered into a program on a stand-in target, with
// variables bound to values of chosen banks, and run in the IR kit's
// interpreter.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "compiler_fixture.h"
#include "tests/gxl/shader/hlsl_fixture.h"

namespace compilertest {

// Components per register of a type's innermost vector or matrix row: each
// array element and matrix row starts a register, as constants are laid out.
inline std::uint32_t RegisterWidth(const ParseNode* type) {
  while (type && type->kind == NodeKind::ArrayType) type = static_cast<const ArrayTypeNode*>(type)->element;
  const TypeNode* t = AsTypeNode(type);
  return t && t->shape != kShapeScalar ? t->columns : 1;
}

class LowerTest : public shadertest::HlslTest {
 protected:
  LowerTest() {
    parser.PushScope(kScopeBlock, nullptr);  // locals own symbol slots
    Start();
  }

  // A fresh program on a target with these capability words.
  void Start(std::uint32_t operationCaps = 0, std::uint32_t flowCaps = 0, std::uint32_t options = 0,
             std::uint32_t addressRegisters = 0) {
    ProfileLimits limits = irkit::RecordingTarget::Limits(operationCaps, flowCaps);
    limits.addressRegisters = addressRegisters;
    program = StartProgram(compiler, pp, limits, options);
    ASSERT_NE(program, nullptr);
    compiler.valueMap.Clear();
    m_registers.clear();
  }
  std::uint32_t BankOf(StandardBank b) const { return program->StandardBankIndex(b); }

  // Gives a declared variable's components new values of `bank`, laid out
  // from register `reg` (none for the undefined bank), or literals of the
  // literal bank; the values.
  std::vector<std::uint32_t> Bind(ParseNode* stmts, std::uint32_t bank, std::uint32_t reg = 0,
                                  const std::vector<double>* literals = nullptr) {
    EXPECT_NE(stmts, nullptr) << Log();
    if (!stmts) return {};
    const ParseNodeKind11* v = VariableOf(stmts);
    while (compiler.valueMap.Size() < parser.SymbolSlotCount()) compiler.valueMap.Append(kNoIndex);
    const bool placed = bank != BankOf(StandardBank::Undefined) && !literals;
    const std::uint32_t width = RegisterWidth(v->nodes[0]);
    std::vector<std::uint32_t> values;
    for (std::uint32_t i = 0; i < v->valueCount; ++i) {
      const std::uint32_t k = program->AddValue(bank, placed ? reg + i / width : kNoIndex,
                                                placed ? i % width : kNoIndex, literals ? literals->at(i) : 0.0);
      IrValue* x = program->Value(k);
      x->symbolSlot = v->symbol + i;
      x->declaration = static_cast<DeclarationNode*>(stmts->first);
      x->variableComponent = i;
      compiler.valueMap[v->symbol + i] = k;
      values.push_back(k);
    }
    if (bank != BankOf(StandardBank::Undefined)) {
      EXPECT_EQ(compiler.ApplyTypeFlags(v->nodes[0], values.data(), v->valueCount), S_OK);
    }
    return values;
  }
  std::vector<std::uint32_t> Variable(const std::string& name, ParseNode* type, std::uint32_t bank,
                                      std::uint32_t reg = 0) {
    return Bind(Declare(name, type), bank, reg);
  }
  // Binds a declared variable to registers of `bank` (the input bank by
  // default) that hold `x` when the program runs.
  std::vector<std::uint32_t> BindInput(ParseNode* stmts, const std::vector<double>& x, std::uint32_t bank = kNoIndex) {
    const std::vector<std::uint32_t> values =
        Bind(stmts, bank == kNoIndex ? BankOf(StandardBank::Inputs) : bank, m_nextRegister);
    for (std::size_t i = 0; i < values.size() && i < x.size(); ++i) {
      const IrValue* v = program->Value(values[i]);
      m_registers[{v->bank, v->reg, v->component}] = x[i];
      m_nextRegister = std::max(m_nextRegister, v->reg + 1);
    }
    return values;
  }
  std::vector<std::uint32_t> Input(const std::string& name, ParseNode* type, const std::vector<double>& x,
                                   std::uint32_t bank = kNoIndex) {
    return BindInput(Declare(name, type), x, bank);
  }

  // The values of the expression; the lowering must give `expected`.
  std::vector<std::uint32_t> Lower(ParseNode* expression, HRESULT expected = S_OK, std::uint32_t targetFlag = 0) {
    EXPECT_NE(expression, nullptr) << Log();
    if (!expression) return {};
    std::vector<std::uint32_t> out(E(expression)->rows * E(expression)->columns, kNoIndex);
    EXPECT_EQ(compiler.LowerExpression(expression, out.data(), targetFlag), expected) << Log();
    return out;
  }
  // The values of `out`, each first moved into a temporary so that inputs and
  // relative reads passed through unchanged are read as well.
  std::vector<double> Run(const std::vector<std::uint32_t>& out) {
    std::vector<std::uint32_t> moved(out.size(), kNoIndex);
    const auto n = static_cast<std::uint32_t>(out.size());
    EXPECT_EQ(compiler.EmitInstruction(nullptr, IrWord(kOpMove, n), moved.data(), out.data(), nullptr, 0), S_OK);
    irkit::IrInterpreter run(*program);
    for (const auto& [key, x] : m_registers) run.SetRegister(std::get<0>(key), std::get<1>(key), std::get<2>(key), x);
    EXPECT_TRUE(run.Run()) << run.Error();
    return run.Values(moved);
  }
  std::vector<double> LowerAndRun(ParseNode* expression) { return Run(Lower(expression)); }

  // The operation groups emitted from instruction `from` on, in order.
  std::vector<std::uint32_t> Groups(std::uint32_t from = 0) const {
    std::vector<std::uint32_t> groups;
    for (std::uint32_t i = from; i < program->instructions.Count(); ++i)
      groups.push_back(program->Instruction(i)->Group());
    return groups;
  }

  PagePool irPages{0x100000, 0x10000};
  IrPoolScope irScope{&irPages};
  ShaderCompiler compiler;  // owns the program; goes before the pools
  irkit::RecordingTarget* program = nullptr;

 private:
  std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, double> m_registers;
  std::uint32_t m_nextRegister = 0;
};

}  // namespace compilertest
