// What fragments and debug information add to an assembly run: the symbolic
// register names of a fragment, numbered by the assembler and described in
// the "FINF" block, and the "DBUG" block that maps every instruction to its
// source file and line. Both blocks go right after the version token.
#include <cstring>
#include <memory>
#include <new>

#include "gxl/shader/assembler/asm_reduce.h"
#include "gxl/shader/assembler/shader_assembler.h"
#include "gxl/shader/core/comment_block.h"
#include "gxl/shader/core/constant_binder.h"
#include "gxl/shader/core/register_names.h"

namespace gxl::shader {

namespace {

constexpr DWORD kUsageTexcoord = 5, kUsageColor = 10;
constexpr std::uint32_t kTypeTemp = 0, kTypeInput = 1, kTypeTexture = 3, kTypeOutput = 6;
// Pixel profiles whose inputs are named by usage, without being recorded.
constexpr std::int32_t kFirstPs2Profile = 10, kLastPs2Profile = 12;

// The run's flags as "FINF" records them.
constexpr DWORD kFragmentInfoFlag = 0x4;

struct ConstantKind {
  char letter;
  std::uint32_t registerType;
  int set;  // index into nextRegister
};
constexpr ConstantKind kConstantKinds[] = {{'b', 14, 0}, {'i', 7, 1}, {'s', 10, 2}, {'c', 2, 3}};

// Prefixes are matched in any case, like the names themselves.
bool HasPrefix(const char* name, const char* prefix) {
  return (name[0] | 0x20) == prefix[0] && name[0] != '\0' && name[1] == '_';
}

// The order of "FINF" entries: names of inputs, outputs and temporaries by
// their whole text; two constants by the variable name, then the prefix.
int CompareFragmentNames(const char* a, const char* b) {
  auto symbolic = [](const char* n) { return HasPrefix(n, "v_") || HasPrefix(n, "r_") || HasPrefix(n, "o_"); };
  if (symbolic(a) || symbolic(b)) return std::strcmp(a, b);
  const int rest = std::strcmp(a + 2, b + 2);
  return rest ? rest : std::strncmp(a, b, 2);
}

}  // namespace

class FragmentInfo {
 public:
  explicit FragmentInfo(std::int32_t profile) : profileIndex(profile), isVs3(profile == 4 || profile == 5) {}

  std::uint32_t EntryCount() const { return constants.Size() + inputs.Size() + outputs.Size() + temporaries.Size(); }

  RegisterNameTable constants, inputs, outputs, temporaries;
  std::uint32_t nextRegister[4] = {};  // bool, int, sampler, float
  std::int32_t profileIndex;
  bool isVs3;
};

void FragmentInfoDeleter::operator()(FragmentInfo* info) const { delete info; }

HRESULT ShaderAssembler::CreateFragmentInfo() {
  m_fragmentInfo.reset(new (std::nothrow) FragmentInfo(m_profileIndex));
  return m_fragmentInfo ? S_OK : E_OUTOFMEMORY;
}

// Inputs, outputs and temporaries: a name keeps its number; a new one takes
// the next. Inputs and outputs are named by usage. Relative addressing is refused.
HRESULT ShaderAssembler::ResolveVaryingName(const TokenNode& nameNode, bool relative, char kind,
                                            std::uint32_t* number) {
  FragmentInfo& info = *m_fragmentInfo;
  RegisterNameTable& table = kind == 'v' ? info.inputs : kind == 'o' ? info.outputs : info.temporaries;
  const char* name = nameNode.token.value.text;
  const SourceToken& at = nameNode.token;
  const RegisterNameEntry* entry = table.Find(name);
  if (!entry) {
    DWORD usage = 0, index = 0;
    if (kind != 'r' && FAILED(ParseUsageName(name + 2, &usage, &index))) {
      if (kind == 'v') {
        GXL_ASM_REPORT(this, at, msg::kInvalidInputRegister, name);
      } else {
        GXL_ASM_REPORT(this, at, msg::kInvalidOutputRegister, name);
      }
      return E_FAIL;
    }
    RegisterNameEntry* added = nullptr;
    if (FAILED(table.Add(name, table.Size(), 1, &added))) return E_OUTOFMEMORY;
    entry = added;
  }
  if (relative) {
    if (kind == 'v') {
      GXL_ASM_REPORT(this, at, msg::kInputRegisterAddressing, name);
    } else if (kind == 'o') {
      GXL_ASM_REPORT(this, at, msg::kOutputRegisterAddressing, name);
    } else {
      GXL_ASM_REPORT(this, at, msg::kTemporaryRegisterAddressing, name);
    }
    return E_FAIL;
  }
  *number = entry->reg;
  return S_OK;
}

HRESULT ShaderAssembler::ResolveFragmentName(const TokenNode& nameNode, const AsmOperandNode* relative,
                                             std::uint32_t* type, std::uint32_t* number) {
  FragmentInfo& info = *m_fragmentInfo;
  const char* name = nameNode.token.value.text;
  const SourceToken& at = nameNode.token;
  if (std::strlen(name) <= 2) {
    GXL_ASM_REPORT(this, at, msg::kInvalidFragmentName, name);
    return E_FAIL;
  }
  if (HasPrefix(name, "v_") && info.profileIndex >= kFirstPs2Profile && info.profileIndex <= kLastPs2Profile) {
    DWORD usage = 0, index = 0;
    if (FAILED(ParseUsageName(name + 2, &usage, &index))) {
      GXL_ASM_REPORT(this, at, msg::kInvalidInputRegister, name);
      return E_FAIL;
    }
    if (usage != kUsageTexcoord && usage != kUsageColor) {
      GXL_ASM_REPORT(this, at, msg::kInvalidPixelInputRegister, name);
      return E_FAIL;
    }
    *type = usage == kUsageTexcoord ? kTypeTexture : kTypeInput;
    *number = index;
    return S_OK;
  }
  if (HasPrefix(name, "v_")) {
    *type = kTypeInput;
    return ResolveVaryingName(nameNode, relative != nullptr, 'v', number);
  }
  if (HasPrefix(name, "r_")) {
    *type = kTypeTemp;
    return ResolveVaryingName(nameNode, relative != nullptr, 'r', number);
  }
  if (HasPrefix(name, "o_") && info.isVs3) {
    *type = kTypeOutput;
    return ResolveVaryingName(nameNode, relative != nullptr, 'o', number);
  }
  const char letter = ConstantPrefixLetter(name);
  const ConstantKind* kind = nullptr;
  for (const ConstantKind& k : kConstantKinds)
    if (k.letter == letter) kind = &k;
  if (!kind) {
    GXL_ASM_REPORT(this, at, msg::kInvalidRegisterName, name);
    return E_FAIL;
  }
  const RegisterNameEntry* entry = info.constants.Find(name);
  if (!entry) {
    std::uint32_t count = 0;
    const HRESULT hr = m_binder->CheckRegisterType(&at, name, &count);
    if (FAILED(hr)) {
      m_errorFlag = true;
      return hr;
    }
    if (count == 0) {
      GXL_ASM_REPORT(this, at, msg::kConstantNotVariable, name, name + 2);
      return E_FAIL;
    }
    RegisterNameEntry* added = nullptr;
    if (FAILED(info.constants.Add(name, info.nextRegister[kind->set], count, &added))) return E_OUTOFMEMORY;
    info.nextRegister[kind->set] += count;
    entry = added;
  }
  *type = kind->registerType;
  *number = entry->reg;
  if (relative) {
    const std::uint32_t offset = relative->registerNumber;
    if (offset >= entry->count) {
      GXL_ASM_REPORT(this, at, msg::kConstantAddressOutOfBounds, name, static_cast<int>(entry->count),
                     static_cast<int>(offset));
      return E_FAIL;
    }
    *number += offset;
  }
  return S_OK;
}

HRESULT ShaderAssembler::InsertBlock(const CommentBlockBuilder& block) {
  const HRESULT hr = InsertAfterVersion(&m_tokens, block);
  if (FAILED(hr)) return hr;
  m_commentCount += block.SizeInDwords();
  m_validatedCount = m_tokens.Size();
  return S_OK;
}

HRESULT ShaderAssembler::WriteFragmentInfo() {
  const FragmentInfo& info = *m_fragmentInfo;
  const std::uint32_t n = info.EntryCount();
  if (n == 0) return S_OK;
  auto names = std::unique_ptr<const RegisterNameEntry*[]>(new (std::nothrow) const RegisterNameEntry*[n]);
  auto records = std::unique_ptr<ConstantEntryRecord[]>(new (std::nothrow) ConstantEntryRecord[n]());
  if (!names || !records) return E_OUTOFMEMORY;
  const RegisterNameEntry** end = names.get();
  for (const RegisterNameTable* table : {&info.constants, &info.inputs, &info.outputs, &info.temporaries}) {
    table->Collect(end);
    end += table->Size();
  }
  // An insertion sort: the order mixes two rules and is no strict weak
  // ordering, so the result must not depend on the algorithm's choices.
  for (std::uint32_t i = 1; i < n; ++i) {
    const RegisterNameEntry* e = names[i];
    std::uint32_t j = i;
    for (; j > 0 && CompareFragmentNames(e->name, names[j - 1]->name) < 0; --j) names[j] = names[j - 1];
    names[j] = e;
  }

  CommentBlockBuilder block(kTagFragmentInfo);
  ConstantTableHeader header{sizeof(ConstantTableHeader), 0, 0, n, 0, m_options | kFragmentInfoFlag, 0};
  HRESULT hr = block.Append(&header, sizeof header, CommentBlockBuilder::kRecords, nullptr);
  if (SUCCEEDED(hr))
    hr = block.Append(records.get(), n * sizeof(ConstantEntryRecord), CommentBlockBuilder::kRecords,
                      &header.constantInfo);
  for (std::uint32_t i = 0; i < n && SUCCEEDED(hr); ++i)
    hr = m_binder->BindVariable(&block, &records[i], names[i]->name, names[i]->reg, m_tokens[0]);
  if (SUCCEEDED(hr))
    hr = block.Append(kAssemblerBanner, CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kText,
                      &header.creator);
  if (FAILED(hr)) return hr;
  if (block.SizeInDwords() > kMaxCommentDwords) {
    GXL_ASM_REPORT(this, m_token, msg::kFragmentInfoTooLarge);
    return E_FAIL;
  }
  return InsertBlock(block);
}

HRESULT ShaderAssembler::WriteDebugInfo() {
  struct DebugHeader {
    std::uint32_t size, creator, source, files, fileTable, lines, lineTable, variables, variableTable, entry;
  };
  struct LineRecord {
    std::uint16_t line;
    std::uint16_t file;
    std::uint32_t offset;
  };
  static_assert(sizeof(DebugHeader) == 40 && sizeof(LineRecord) == 8);

  std::uint32_t m = 0;
  for (const ParseNode* in = m_instructions; in; in = in->second) ++m;
  auto lines = std::unique_ptr<LineRecord[]>(new (std::nothrow) LineRecord[m ? m : 1]());
  if (!lines) return E_OUTOFMEMORY;
  CommentBlockBuilder block(kTagDebugInfo);
  DebugHeader header{sizeof(DebugHeader), 0, 0, 0, 0, m, 0, 0, 0, 0};
  HRESULT hr = block.Append(&header, sizeof header, CommentBlockBuilder::kRecords, nullptr);
  if (FAILED(hr)) return hr;

  // The list runs from the last instruction to the first: filled from the
  // back, the records stand in program order.
  PodArray<std::uint32_t> files;
  std::uint32_t slot = m;
  for (const ParseNode* node = m_instructions; node; node = node->second) {
    const auto* in = static_cast<const AsmInstructionNode*>(node);
    LineRecord& record = lines[--slot];
    record = {static_cast<std::uint16_t>(in->token.line), 0xFFFF, in->tokenOffset};
    if (!in->token.file) continue;
    std::uint32_t nameOffset = 0;
    hr = block.Append(in->token.file, CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kName, &nameOffset);
    if (FAILED(hr)) return hr;
    std::uint32_t index = 0;
    while (index < files.Size() && files[index] != nameOffset) ++index;
    if (index == files.Size() && !files.Append(nameOffset)) return E_OUTOFMEMORY;
    record.file = static_cast<std::uint16_t>(index);
  }
  header.files = static_cast<std::uint32_t>(files.Size());
  if (header.files) hr = block.Append(files.Data(), header.files * 4, CommentBlockBuilder::kRecords, &header.fileTable);
  if (SUCCEEDED(hr)) hr = block.Append(lines.get(), m * 8, CommentBlockBuilder::kRecords, &header.lineTable);
  if (SUCCEEDED(hr) && m_entryName)
    hr = block.Append(m_entryName, CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kName, &header.entry);
  if (SUCCEEDED(hr) && m_sourceText) {
    static constexpr char kZero = 0;
    hr = block.Append(m_sourceText, m_sourceLength, CommentBlockBuilder::kText, &header.source);
    if (SUCCEEDED(hr)) hr = block.Append(&kZero, 1, CommentBlockBuilder::kText, nullptr);
  }
  if (SUCCEEDED(hr))
    hr = block.Append(kAssemblerBanner, CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kText,
                      &header.creator);
  if (FAILED(hr)) return hr;

  const std::uint32_t dwords = block.SizeInDwords();
  if (dwords > kMaxCommentDwords) {
    GXL_SHADER_REPORT(*m_log, &m_token, msg::kAsmDebugInfoTooLarge);
    return S_OK;
  }
  const std::uint32_t shift = static_cast<std::uint32_t>((m_commentCount + dwords) * 4);
  for (std::uint32_t i = 0; i < m; ++i) lines[i].offset += shift;
  return InsertBlock(block);
}

HRESULT ShaderAssembler::WriteCommentBlocks() {
  if (Fragment()) {
    const HRESULT hr = WriteFragmentInfo();
    if (FAILED(hr)) return hr;
  }
  return (m_options & kDebugInfo) ? WriteDebugInfo() : S_OK;
}

}  // namespace gxl::shader
