#include "gxl/shader/core/constant_binder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gxl/shader/core/type_record.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kShapeScalar = 0, kShapeVector = 1;
constexpr std::uint32_t kBaseBool = 0, kBaseInt = 4, kBaseSampler = 20;
constexpr std::uint32_t kStorageStatic = 0x2;

const SourceToken* NameToken(const DeclarationNode* declaration) {
  const ParseNode* name = declaration ? declaration->name : nullptr;
  return name && name->kind == NodeKind::Token ? &static_cast<const TokenNode*>(name)->token : nullptr;
}

}  // namespace

char ConstantPrefixLetter(const char* name) {
  if (!name || !name[0] || name[1] != '_') return 0;
  switch (name[0] | 0x20) {
    case 'c':
    case 'b':
    case 'i':
    case 's':
      return static_cast<char>(name[0] | 0x20);
    default:
      return 0;
  }
}

void ConstantBinder::Report(const SourceToken* at, MessageSeverity severity, std::uint32_t code, const char* format,
                            ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  if (std::vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
  va_end(args);
  m_lookup->ReportBinderMessage(at, severity, code, text);
}

HRESULT ConstantBinder::CheckRegisterType(const SourceToken* position, const char* name, std::uint32_t* count) {
  *count = 0;
  const char letter = ConstantPrefixLetter(name);
  if (!letter) return S_OK;
  const DeclarationNode* declaration = m_lookup->FindVariable(name + 2);
  if (!declaration) return S_OK;
  std::uint32_t registers = 0, columns = 0;
  if (FAILED(TypeRegisterShape(declaration, &registers, &columns))) return S_OK;
  const TypeNode* type = AsTypeNode(declaration);
  if (letter == 'b' && !(registers == 1 && type && type->shape == kShapeScalar && type->baseType == kBaseBool)) {
    GXL_SHADER_REPORT(*this, position, msg::kBoolRegisterType, name);
    return E_FAIL;
  }
  if (letter == 'i' &&
      !(registers == 1 && type && type->shape == kShapeVector && type->baseType == kBaseInt && type->columns >= 3)) {
    GXL_SHADER_REPORT(*this, position, msg::kIntRegisterType, name);
    return E_FAIL;
  }
  *count = registers;
  return S_OK;
}

HRESULT ConstantBinder::BindVariable(CommentBlockBuilder* builder, ConstantEntryRecord* entry, const char* name,
                                     std::uint32_t reg, DWORD version) {
  const char letter = ConstantPrefixLetter(name);
  ConstantEntryRecord record{};
  record.registerIndex = static_cast<std::uint16_t>(reg);
  HRESULT hr;
  if (!letter) {
    // A symbolic input, output or temporary: one float4 register.
    record.registerSet = kRegisterSetFloat;
    record.registerCount = 1;
    hr = builder->Append(&kFloat4Register, sizeof kFloat4Register, CommentBlockBuilder::kUnalignedCopy,
                         &record.typeInfo);
    if (SUCCEEDED(hr))
      hr = builder->Append(name, CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kName, &record.name);
    if (SUCCEEDED(hr)) *entry = record;
    return hr;
  }

  const DeclarationNode* declaration = m_lookup->FindVariable(name + 2);
  const ParseNodeKind11* variable = VariableOf(declaration);
  std::uint32_t registers = 0, columns = 0;
  if (!variable || FAILED(TypeRegisterShape(variable, &registers, &columns))) return E_FAIL;
  const SourceToken* at = NameToken(declaration);
  const std::uint32_t bound = FindExplicitRegister(variable, letter, version);
  if (bound != kNoRegister) {
    if (bound > kMaxBoundRegister) {
      GXL_SHADER_REPORT(*this, at, msg::kConstantRegisterTooHigh, name, static_cast<int>(bound));
      return E_FAIL;
    }
    record.binding = static_cast<std::uint16_t>(bound << 2 | kBindingExplicit);
  }
  if (variable->storage & kStorageStatic) record.binding |= kBindingHasDefault;

  const ParseNode* value = FoldedValueOf(variable);
  if (value || (record.binding & kBindingHasDefault)) {
    // The initializer's components in order, four to a register.
    const std::size_t words = std::size_t{registers} * 4;
    auto* image = static_cast<std::uint32_t*>(std::calloc(words ? words : 1, sizeof(std::uint32_t)));
    auto* items = static_cast<LiteralComponent*>(std::malloc((words ? words : 1) * sizeof(LiteralComponent)));
    if (!image || !items) {
      std::free(image);
      std::free(items);
      return E_OUTOFMEMORY;
    }
    const std::uint32_t n = ReadLiteralComponents(value, items, static_cast<std::uint32_t>(words));
    for (std::uint32_t i = 0; i < n; ++i) {
      if (items[i].kind == 3) {
        const float f = static_cast<float>(items[i].number);
        std::memcpy(&image[i], &f, sizeof f);
      } else {
        image[i] = items[i].bits;
      }
    }
    std::free(items);
    hr = builder->Append(image, static_cast<std::uint32_t>(words * 4), CommentBlockBuilder::kUnalignedCopy,
                         &record.defaultValue);
    std::free(image);
    if (FAILED(hr)) return hr;
  }

  const TypeNode* plain = AsTypeNode(variable);
  if (plain && plain->baseType == kBaseSampler) {
    GXL_SHADER_REPORT(*this, at, msg::kSamplerTypeMissing, name);
    return E_FAIL;
  }
  hr = WriteTypeRecord(builder, variable, 1, 0, &record.typeInfo);
  if (SUCCEEDED(hr))
    hr = builder->Append(name, CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kName, &record.name);
  if (FAILED(hr)) return hr;
  record.registerSet = letter == 'b' ? kRegisterSetBool : letter == 'i' ? kRegisterSetInt : kRegisterSetFloat;
  record.registerCount = static_cast<std::uint16_t>(registers);
  *entry = record;
  return S_OK;
}

}  // namespace gxl::shader
