// Syntax-tree types as the constant tables describe them: type records (with
// member records for structs), component and register counts, the register
// image of a folded initial value, and the explicit register bindings a
// declaration carries. Shared by the assembler's fragment information and
// the back end's constant-table writer.
//
// Tree shapes read here: a type is a TypeNode, an ArrayTypeNode or a "Decls"
// list of member declarations (a declaration or a variable description
// stands for its type). A folded value is an expression of code 0 whose
// first operand is a "Value" list of ExpressionNodes, sub-kind 0 bool,
// 1 int, 2 unsigned (both in the low word) or 3 float (a double). Register
// annotations hang below the description's semantics node (its fifth): a
// ParseNodeKind17 whose register part is a list of the profile's TokenNode
// (when one is named) and the register's; lists and outer ParseNodeKind17s
// are searched through.
#pragma once

#include <cstdint>

#include "gxl/shader/core/comment_block.h"
#include "gxl/shader/core/constant_layout.h"
#include "gxl/shader/core/syntax_tree.h"
#include "platform/win_types.h"

namespace gxl::shader {

// Binding-word bits that choose the type code of a generic sampler.
constexpr std::uint32_t kSamplerDimensionBits = 0xE00000;

// The description of a variable declaration (or the description itself), or null.
const ParseNodeKind11* VariableOf(const ParseNode* declaration);
// The declaration's name text, or null.
const char* DeclarationNameText(const ParseNode* declaration);

// Appends the type record (arrays unwrapped, their dimensions multiplied
// into `elements`; a struct's member records with their names) and gives its
// offset. E_FAIL for a node that is no type; the builder's failures.
HRESULT WriteTypeRecord(CommentBlockBuilder* builder, const ParseNode* type, std::uint32_t elements,
                        std::uint32_t binding, std::uint32_t* offset);
// Scalar components of a type (saturating); 0 for what is no type.
std::uint32_t TypeComponentCount(const ParseNode* type);
// Registers and columns of a fragment constant's type: scalars and vectors
// one register of their columns, matrices a register per column of rows,
// objects 1 x 1, arrays their elements' registers times the dimension, structs
// the sum over their members with the widest member's columns. E_FAIL for
// other nodes.
HRESULT TypeRegisterShape(const ParseNode* type, std::uint32_t* registers, std::uint32_t* columns);
// Registers a type (or a declaration, through its type) takes in a register
// set: one per component for bools; a register per vector, matrix row (or
// column, when stored by columns) or object otherwise; saturating.
std::uint64_t LaidRegisters(const ParseNode* type, std::uint32_t set);

struct LiteralComponent {
  std::uint32_t kind;  // 0 bool, 1 int, 2 unsigned, 3 float
  std::uint32_t bits;  // bool, int and unsigned values
  double number;       // float values
};
// The components of a folded value, at most `capacity` into out; their count.
std::uint32_t ReadLiteralComponents(const ParseNode* value, LiteralComponent* out, std::uint32_t capacity);
// The folded value a variable keeps: its default value, else its kept value.
const ParseNode* FoldedValueOf(const ParseNodeKind11* variable);

// A new register image (std::malloc) of `registers` registers for the
// folded value of `type` in a register set: one 32-bit 0/1 per register for
// bools; four components per register otherwise, placed as the type lies in
// registers (matrix rows, or columns when stored by columns, each in its own
// register), integers with z preset to 1, floats to 0. Components the value
// lacks stay at the preset; what passes the registers is dropped. Null
// without memory; *bytes receives the size.
std::uint32_t* BuildRegisterImage(const ParseNode* type, const ParseNode* value, std::uint32_t registerSet,
                                  std::uint32_t registers, std::uint32_t* bytes);

// The explicit binding of a fragment constant for a register letter ('c',
// 'b', 'i' or 's') under a version token: among the register annotations
// of the variable, the one for this profile, else one for the same kind and
// major version with minor 0, else one without a profile. The register
// (saturated below kNoRegister), or kNoRegister when no annotation applies or
// its text is not the letter followed by digits only.
constexpr std::uint32_t kNoRegister = 0xFFFFFFFFu;
std::uint32_t FindExplicitRegister(const ParseNodeKind11* variable, char letter, DWORD version);
// Registers an explicit binding may name.
constexpr std::uint32_t kMaxBoundRegister = 8191;

}  // namespace gxl::shader
