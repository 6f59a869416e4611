// An expression target over the IR pools, with the helpers that build
// programs whose registers are already placed, the blocks of its code read
// back by framing alone, and the textures library's evaluator to run it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "../log_text.h"
#include "../tree_kit.h"
#include "gxl/shader/backend/targets/expression_target.h"
#include "gxl/shader/core/page_pool.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/expression_program.h"

namespace exprtest {

using namespace gxl::shader;
using Values = std::vector<std::uint32_t>;
using Code = std::vector<std::uint32_t>;

// An expression target whose optimiser phases can be skipped (the test places
// the registers), and which places what the phases leave unplaced: each
// instruction's results in a temporary register of their own, each literal
// in a literal register.
class PlacedTarget : public ExpressionTarget {
 public:
  using ExpressionTarget::Compile;
  HRESULT Compile(std::uint32_t* result) override {
    if (skipPhases) return S_OK;
    const HRESULT hr = ExpressionTarget::Compile(result);
    if (FAILED(hr)) return hr;
    PlaceUnplaced();
    return S_OK;
  }
  void PlaceUnplaced() {
    std::uint32_t next = 0, literal = 0;
    for (std::uint32_t i = 0; i < values.Count(); ++i) {
      const IrValue* v = Value(i);
      if (v && v->reg != kNoIndex && OperandKindOf(BankOf(*v)->type) == kOperandTemporary)
        next = std::max(next, v->reg + 1);
      if (v && v->reg != kNoIndex && OperandKindOf(BankOf(*v)->type) == kOperandLiteral)
        literal = std::max(literal, v->reg * 4 + v->component + 1);
    }
    for (std::uint32_t p = 0; p < instructions.Count(); ++p) {
      const IrInstruction* in = Instruction(p);
      if (!in || !in->word) continue;
      bool placed = false;
      for (std::uint32_t r = 0; r < in->resultCount && r < 4; ++r) {
        IrValue* v = Value(in->results[r]);
        if (v && v->reg == kNoIndex) {
          v->reg = next;
          v->component = r;
          placed = true;
        }
      }
      next += placed ? 1 : 0;
    }
    for (std::uint32_t i = 0; i < values.Count(); ++i) {
      IrValue* v = Value(i);
      if (v && v->reg == kNoIndex && OperandKindOf(BankOf(*v)->type) == kOperandLiteral) {
        v->reg = literal / 4;
        v->component = literal++ % 4;
      }
    }
  }
  bool skipPhases = true;
};

class ExprTest : public ::testing::Test {
 protected:
  ExprTest() : scope(&pages) {}

  // A new target with a log of its own.
  PlacedTarget& Make(DWORD version, std::uint32_t options = kOptionNoPreshader) {
    target.reset();
    logs = std::make_unique<MessageLog>();
    target = std::make_unique<PlacedTarget>();
    EXPECT_EQ(target->Init(nullptr, logs.get(), version, options), S_OK);
    return *target;
  }
  std::uint32_t Bank(StandardBank b) const { return target->StandardBankIndex(b); }
  Values Reg(StandardBank bank, std::uint32_t reg, const char* components = "xyzw") {
    Values out;
    for (const char* c = components; *c; ++c)
      out.push_back(
          target->AddValue(Bank(bank), reg, static_cast<std::uint32_t>(std::strchr("xyzw", *c) - "xyzw"), 0.0));
    return out;
  }
  std::uint32_t Literal(double x, std::uint32_t reg, std::uint32_t component) {
    return target->AddValue(Bank(StandardBank::Literals), reg, component, x);
  }
  void SetSemantic(const Values& values, const char* semantic) {
    auto* node = new TokenNode(shadertest::IdentifierToken(semantic));
    for (std::uint32_t i = 0; i < values.size(); ++i) {
      target->Value(values[i])->semantic = node;
      target->Value(values[i])->variableOffset = i;
    }
  }
  std::uint32_t Put(std::uint32_t group, std::uint32_t width, const Values& arguments, const Values& results) {
    auto* inst = new IrInstruction;
    if (!inst || FAILED(inst->Init(IrWord(group, width), static_cast<std::uint32_t>(arguments.size()),
                                   static_cast<std::uint32_t>(results.size()), true)))
      throw std::runtime_error("cannot make an instruction");
    std::copy(arguments.begin(), arguments.end(), inst->arguments);
    std::copy(results.begin(), results.end(), inst->results);
    return target->instructions.Append(inst);
  }

  HRESULT Compile(Code* code) {
    gxl::ComRef<DataBuffer> buffer;
    const HRESULT hr = target->Compile(buffer.Put());
    code->clear();
    if (buffer) {
      const auto* words = static_cast<const std::uint32_t*>(buffer->GetPointer());
      code->assign(words, words + buffer->GetSize() / 4);
    }
    return hr;
  }
  Code MustCompile() {
    Code code;
    EXPECT_EQ(Compile(&code), S_OK) << shadertest::LogText(*logs);
    return code;
  }

  // The payload of a block (after its FourCC), found by the comment framing;
  // `found` false when the code has none.
  static Code Block(const Code& code, std::uint32_t tag, bool* found = nullptr) {
    for (std::size_t i = 1; i < code.size() && code[i] != 0x0000FFFF;) {
      const std::size_t length = (code[i] >> 16) & 0x7FFF;
      if ((code[i] & 0xFFFF) != 0xFFFE || i + 1 + length > code.size()) break;
      if (length && code[i + 1] == tag) {
        if (found) *found = true;
        return Code(code.begin() + static_cast<std::ptrdiff_t>(i) + 2,
                    code.begin() + static_cast<std::ptrdiff_t>(i + 1 + length));
      }
      i += 1 + length;
    }
    if (found) *found = false;
    return {};
  }
  // The tags of the comment blocks in order.
  static std::vector<std::uint32_t> Tags(const Code& code) {
    std::vector<std::uint32_t> tags;
    for (std::size_t i = 1; i < code.size() && (code[i] & 0xFFFF) == 0xFFFE; i += 1 + ((code[i] >> 16) & 0x7FFF))
      tags.push_back(code[i + 1]);
    return tags;
  }

  // Runs the code in the evaluator over inputs v0-v3, constants c0-c15 and
  // outputs o0-o3 (four components each).
  struct Files {
    double inputs[16] = {};
    double constants[64] = {};
    double outputs[16] = {};
  };
  static HRESULT Evaluate(const Code& code, Files& f) {
    ExpressionFiles files;
    files.inputs = f.inputs;
    files.inputMask = 15;
    files.constants = f.constants;
    files.constantMask = 63;
    for (int k = 0; k < 3; ++k) {
      files.outputs[k] = f.outputs;
      files.outputMasks[k] = 15;
    }
    return ExpressionProgram::Evaluate(code.data(), code.size() * 4, files);
  }

  shadertest::TreePool trees;
  PagePool pages{0x100000, 0x10000};
  IrPoolScope scope;
  std::unique_ptr<MessageLog> logs = std::make_unique<MessageLog>();
  std::unique_ptr<PlacedTarget> target;  // destroyed first: its nodes go back before the pools go
};

}  // namespace exprtest
