#include "gxl/shader/compiler/fragment_gathering.h"

#include <cstring>

#include "gxl/shader/core/comment_block.h"
#include "gxl/shader/core/message_log.h"
#include "gxl/shader/core/pod_array.h"
#include "gxl/shader/hlsl/hlsl_parser.h"
#include "gxl/shader/hlsl/hlsl_types.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"

namespace gxl::shader {

namespace {

constexpr DWORD kCommentToken = 0x0000FFFE;
constexpr DWORD kEndToken = 0x0000FFFF;
// The comment token holds the length of what follows it in 15 bits.
constexpr std::uint64_t kMaxBlockLength = 0x7FFF;
// Words of a block around its name and code: token, FourCC, two offsets.
constexpr std::uint64_t kBlockFrameWords = 4;
// A DataBuffer's size is a DWORD.
constexpr std::uint64_t kMaxSetBytes = 0xFFFFFFFFu;

struct Fragment {
  const char* name;
  std::uint32_t nameLength;
  std::uint32_t nameWords;  // the name with its terminator, in whole words
  const void* code;         // into the tree or into `compiled`
  std::uint32_t codeBytes;
  DataBuffer* compiled;  // the compile's result, owned by the list; null for asm code
};

// The fragments of one source, in declaration order; owns the compiled code.
class FragmentList {
 public:
  FragmentList() = default;
  ~FragmentList() {
    for (std::size_t i = 0; i < m_items.Size(); ++i)
      if (m_items[i].compiled) m_items[i].compiled->Release();
  }
  FragmentList(const FragmentList&) = delete;
  FragmentList& operator=(const FragmentList&) = delete;

  // Takes the compiled buffer over even when it fails.
  bool Append(const Fragment& fragment) {
    if (m_items.Append(fragment)) return true;
    if (fragment.compiled) fragment.compiled->Release();
    return false;
  }
  std::size_t Size() const { return m_items.Size(); }
  const Fragment& operator[](std::size_t i) const { return m_items[i]; }

 private:
  PodArray<Fragment> m_items;
};

std::uint64_t CodeWords(std::uint64_t bytes) { return (bytes + 3) / 4; }

// The kept initial value of a global that is a fragment, else null: a plain
// vertexfragment or pixelfragment variable (no array) that has a value.
const ParseNode* FragmentValue(const ParseNode* statement) {
  if (!statement || statement->kind != NodeKind::Declaration) return nullptr;
  if (static_cast<const DeclarationNode*>(statement)->declClass != kDeclVariable) return nullptr;
  const ParseNodeKind11* variable = VariableDescription(statement);
  const TypeNode* type = variable && variable->nodes[0] && variable->nodes[0]->kind == NodeKind::Type
                             ? static_cast<const TypeNode*>(variable->nodes[0])
                             : nullptr;
  if (!type || type->shape != kShapeObject || type->rows != 1 || type->columns != 1) return nullptr;
  if (type->baseType != kBasePixelFragment && type->baseType != kBaseVertexFragment) return nullptr;
  return variable->nodes[2];
}

// The value leaf under an initial value: through expressions to their first
// operand and lists to their value. Null when the walk ends elsewhere.
const ExpressionNode* ValueLeaf(const ParseNode* node) {
  while (node) {
    switch (node->kind) {
      case NodeKind::Kind13:
        node = static_cast<const ParseNodeKind13*>(node)->left;
        break;
      case NodeKind::List:
        node = static_cast<const ListNode*>(node)->Value();
        break;
      case NodeKind::Expression:
        return static_cast<const ExpressionNode*>(node);
      default:
        return nullptr;
    }
  }
  return nullptr;
}

const SourceToken* NameToken(const DeclarationNode* declaration) {
  return declaration->name && declaration->name->kind == NodeKind::Token
             ? &static_cast<const TokenNode*>(declaration->name)->token
             : nullptr;
}

class Gathering {
 public:
  Gathering(ShaderPreprocessor* context, std::uint32_t flags, FragmentFunctionCompiler* compiler)
      : m_log(context->Log()), m_flags(flags), m_compiler(compiler) {}

  // First pass: compiles each fragment and measures the set.
  HRESULT Collect(const ProgramNode* tree) {
    for (const ParseNode* cell = tree->statements; cell; cell = cell->second) {
      const ParseNode* value = FragmentValue(cell->first);
      if (!value) continue;
      const HRESULT hr = Add(tree, static_cast<const DeclarationNode*>(cell->first), value);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

  // Second pass: the set in one allocation, sized by the first.
  HRESULT Write(DataBuffer** out) const {
    if (m_fragments.Size() == 0) return E_FAIL;
    if (m_totalWords * 4 > kMaxSetBytes) return E_OUTOFMEMORY;
    gxl::ComRef<DataBuffer> set;
    const HRESULT hr = GXLCreateDataBuffer(static_cast<DWORD>(m_totalWords * 4), set.Put());
    if (FAILED(hr)) return hr;
    auto* words = static_cast<DWORD*>(set->GetPointer());
    std::memset(words, 0, m_totalWords * 4);  // the padding of names and code
    DWORD* at = words;
    *at++ = kFragmentSetVersion;
    for (std::size_t i = 0; i < m_fragments.Size(); ++i) {
      const Fragment& f = m_fragments[i];
      const std::uint64_t codeWords = CodeWords(f.codeBytes);
      *at++ = kCommentToken | static_cast<DWORD>(3 + f.nameWords + codeWords) << 16;
      *at++ = kTagFragment;
      *at++ = 8;
      *at++ = 8 + 4 * f.nameWords;
      std::memcpy(at, f.name, f.nameLength);
      at += f.nameWords;
      if (f.codeBytes) std::memcpy(at, f.code, f.codeBytes);
      at += codeWords;
    }
    *at = kEndToken;
    *out = set.Detach();
    return S_OK;
  }

 private:
  HRESULT Add(const ProgramNode* tree, const DeclarationNode* declaration, const ParseNode* value) {
    const char* name = IdentifierText(declaration->name, "");
    const ExpressionNode* leaf = ValueLeaf(value);
    Fragment f{name, static_cast<std::uint32_t>(std::strlen(name)), 0, nullptr, 0, nullptr};
    f.nameWords = (f.nameLength + 4) / 4;
    const SourceToken* at = leaf ? &leaf->token : nullptr;
    gxl::ComRef<DataBuffer> compiled;
    if (leaf && leaf->value.subKind == kValueNode) {
      const ParseNodeKind13* compile = AsExpression(leaf->value.node);
      const ParseNodeKind13* call = compile ? AsExpression(compile->right) : nullptr;
      const char* profile = compile ? IdentifierText(compile->left) : nullptr;
      if (!call || !profile) return InternalError(declaration, name);
      at = &compile->token;
      HRESULT hr = m_compiler->CompileFunction(tree, call->left, call->right, profile, m_flags | kFragmentCompileFlags,
                                               compiled.Put());
      if (SUCCEEDED(hr) && !compiled) hr = E_FAIL;
      if (FAILED(hr)) {
        GXL_SHADER_REPORT(m_log, at, msg::kFragmentCompileFailed, name);
        return hr;
      }
      f.code = compiled->GetPointer();
      f.codeBytes = compiled->GetSize();
    } else if (leaf && leaf->value.subKind == kValueCode && (leaf->value.address || !leaf->value.third)) {
      f.code = leaf->value.address;
      f.codeBytes = leaf->value.third;
    } else {
      return InternalError(declaration, name);
    }
    const std::uint64_t blockWords = std::uint64_t{f.nameWords} + CodeWords(f.codeBytes);
    // Past the 15 bits the length would wrap and the set would not read back.
    if (3 + blockWords > kMaxBlockLength) {
      GXL_SHADER_REPORT(m_log, at, msg::kFragmentCompileFailed, name);
      return E_FAIL;
    }
    f.compiled = compiled.Detach();
    if (!m_fragments.Append(f)) return E_OUTOFMEMORY;
    m_totalWords += kBlockFrameWords + blockWords;
    return S_OK;
  }

  HRESULT InternalError(const DeclarationNode* declaration, const char* name) {
    GXL_SHADER_REPORT(m_log, NameToken(declaration), msg::kFragmentInternalError, name);
    return E_FAIL;
  }

  MessageLog& m_log;
  std::uint32_t m_flags;
  FragmentFunctionCompiler* m_compiler;
  FragmentList m_fragments;
  std::uint64_t m_totalWords = 2;  // version and end tokens
};

}  // namespace

HRESULT CompileFragmentSource(ShaderPreprocessor* context, std::uint32_t flags, FragmentFunctionCompiler* compiler,
                              DataBuffer** out) {
  if (!context || !compiler || !out) return E_INVALIDARG;
  HlslParser parser;
  ProgramNode* tree = nullptr;
  HRESULT hr = parser.Parse(flags, context, &tree);
  if (FAILED(hr)) return hr;
  if (!tree) return E_FAIL;
  Gathering gathering(context, flags, compiler);
  hr = gathering.Collect(tree);
  if (FAILED(hr)) return hr;
  return gathering.Write(out);
}

HRESULT FinishFragmentRun(ShaderPreprocessor* context, HRESULT opened, std::uint32_t flags,
                          FragmentFunctionCompiler* compiler, DataBuffer** fragments, DataBuffer** messages) {
  if (fragments) *fragments = nullptr;
  gxl::ComRef<DataBuffer> set;
  HRESULT hr = opened;
  if (SUCCEEDED(hr)) hr = compiler ? CompileFragmentSource(context, flags, compiler, set.Put()) : E_OUTOFMEMORY;
  if (SUCCEEDED(hr) && context->Log().ErrorCount() != 0) hr = GXLERR_INVALIDDATA;
  if (SUCCEEDED(hr) && fragments) *fragments = set.Detach();
  if (messages) context->Log().JoinMessages(messages);
  return hr;
}

}  // namespace gxl::shader
