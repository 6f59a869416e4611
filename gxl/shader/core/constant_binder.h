// The constant binder of assembly fragments: asm blocks compiled for the
// fragment linker name constants "c_", "b_", "i_" or "s_" plus an HLSL
// variable; the binder finds that variable through the parser's name lookup,
// tells the assembler how many registers it takes, and describes it in the
// fragment information ("FINF"). The parser supplies the lookup and takes the
// binder's messages through ConstantLookup.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "gxl/shader/core/comment_block.h"
#include "gxl/shader/core/constant_layout.h"
#include "gxl/shader/core/message_log.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

// What the binder needs of the parser: variables by name in the scope the
// binder was made for, and a place for its messages.
class ConstantLookup {
 public:
  virtual ~ConstantLookup() = default;
  // The declaration of the variable `name`, or null when there is none.
  virtual const DeclarationNode* FindVariable(const char* name) = 0;
  // One formatted message of the binder, logged like the parser's own.
  virtual void ReportBinderMessage(const SourceToken* at, MessageSeverity severity, std::uint32_t code,
                                   const char* text) = 0;
};

class ConstantBinder {
 public:
  explicit ConstantBinder(ConstantLookup* lookup) : m_lookup(lookup) {}

  // The registers the variable behind a prefixed name takes in its register
  // set: 0 (S_OK) when no variable has that name. A "b_" name needs a bool
  // scalar of one register (X2900), an "i_" name an int3 or int4 (X2901);
  // E_FAIL after either message.
  HRESULT CheckRegisterType(const SourceToken* position, const char* name, std::uint32_t* count);

  // Fills one constant record of the fragment information for a register
  // name, appending its name, type record and default value to the builder.
  // Names without a constant prefix are float4 registers of their own;
  // constants describe their variable (X2902 for a binding past c8191, X2905
  // for a sampler without its dimensions: E_FAIL).
  HRESULT BindVariable(CommentBlockBuilder* builder, ConstantEntryRecord* entry, const char* name, std::uint32_t reg,
                       DWORD version);

  // GXL_SHADER_REPORT(binder, position, entry, ...) formats into 255
  // characters and hands the text to the lookup.
  void Report(const SourceToken* at, MessageSeverity severity, std::uint32_t code, const char* format, ...)
      GXL_SHADER_PRINTF(5, 6);

 private:
  ConstantLookup* m_lookup;
};

// 'c', 'b', 'i' or 's' for a name with a constant prefix ("c_" ..., in any case), else 0.
char ConstantPrefixLetter(const char* name);

}  // namespace gxl::shader
