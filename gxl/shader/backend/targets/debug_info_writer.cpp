// The debug information of a compiled program ("DBUG"): the source file and
// line of every emitted instruction, and for every declared variable the
// instructions that write it with the components they write. Also the
// preshader's code as "PRES".
#include <cstdlib>
#include <memory>
#include <new>

#include "gxl/shader/backend/targets/block_writers.h"
#include "gxl/shader/core/comment_block.h"
#include "gxl/shader/core/syntax_tree.h"
#include "gxl/shader/core/type_record.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"

namespace gxl::shader {

namespace {

struct DebugHeader {
  std::uint32_t size, creator, source, files, fileTable, instructions, instructionTable, variables, variableTable,
      entry;
};
struct InstructionRecord {
  std::uint16_t line;
  std::uint16_t file;
  std::uint32_t offset;
};
struct VariableRecord {
  std::uint32_t scope, name, type, writes, writeTable;
};
struct WriteRecord {
  std::uint32_t instruction;
  std::uint16_t components[4];
};
static_assert(sizeof(DebugHeader) == 40 && sizeof(InstructionRecord) == 8 && sizeof(VariableRecord) == 20 &&
              sizeof(WriteRecord) == 12);

template <class T>
std::unique_ptr<T[]> MakeArray(std::size_t n) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[n ? n : 1]());
}

class DebugInfoWriter {
 public:
  explicit DebugInfoWriter(const BlockTarget& target)
      : m_target(target), m_program(*target.program), m_block(kTagDebugInfo) {}
  HRESULT Write();

 private:
  HRESULT WriteInstructions(PodArray<std::uint32_t>* declared);
  HRESULT WriteVariables(PodArray<std::uint32_t>* declared);
  HRESULT WriteVariable(const std::uint32_t* run, std::uint32_t n, VariableRecord* record);

  const BlockTarget& m_target;
  ShaderProgram& m_program;
  CommentBlockBuilder m_block;
  DebugHeader m_header{sizeof(DebugHeader), 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::unique_ptr<InstructionRecord[]> m_instructions;
  std::unique_ptr<VariableRecord[]> m_variables;
  PodArray<std::uint32_t> m_files;  // name offsets, in order of first appearance
};

// Line and file of every record; every value written gets the record's index
// as its sequence, and the declared ones are collected.
HRESULT DebugInfoWriter::WriteInstructions(PodArray<std::uint32_t>* declared) {
  const std::uint32_t n = m_target.debugRecordCount;
  m_instructions = MakeArray<InstructionRecord>(n);
  const std::uint32_t valueCount = m_program.values.Count();
  auto seen = MakeArray<bool>(valueCount);
  if (!m_instructions || !seen) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < n; ++i) {
    const DebugLineRecord& d = m_target.debugRecords[i];
    InstructionRecord& record = m_instructions[i];
    record = {static_cast<std::uint16_t>(d.line), 0xFFFF, d.tokenOffset};
    if (d.file) {
      std::uint32_t offset = 0;
      const HRESULT hr =
          m_block.Append(d.file, CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kName, &offset);
      if (FAILED(hr)) return hr;
      std::uint32_t index = 0;
      while (index < m_files.Size() && m_files[index] != offset) ++index;
      if (index == m_files.Size() && !m_files.Append(offset)) return E_OUTOFMEMORY;
      record.file = static_cast<std::uint16_t>(index);
    }
    for (std::uint32_t result : d.results) {
      IrValue* v = m_program.Value(result);
      if (!v) continue;
      v->sequence = i;
      if (v->declaration && !seen[result]) {
        seen[result] = true;
        if (!declared->Append(result)) return E_OUTOFMEMORY;
      }
    }
  }
  m_header.files = static_cast<std::uint32_t>(m_files.Size());
  m_header.instructions = n;
  HRESULT hr = S_OK;
  if (m_header.files)
    hr = m_block.Append(m_files.Data(), m_header.files * 4, CommentBlockBuilder::kRecords, &m_header.fileTable);
  if (SUCCEEDED(hr) && n)
    hr = m_block.Append(m_instructions.get(), n * sizeof(InstructionRecord), CommentBlockBuilder::kRecords,
                        &m_header.instructionTable);
  return hr;
}

// One record for a run of values of one declaration; one write record per
// instruction among them.
HRESULT DebugInfoWriter::WriteVariable(const std::uint32_t* run, std::uint32_t n, VariableRecord* record) {
  const IrValue& first = *m_program.Value(run[0]);
  const DeclarationNode* declaration = first.declaration;
  *record = VariableRecord{};
  HRESULT hr = S_OK;
  if (declaration->scopeText)
    hr = m_block.Append(declaration->scopeText, CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kName,
                        &record->scope);
  if (const char* name = DeclarationNameText(declaration); SUCCEEDED(hr) && name)
    hr = m_block.Append(name, CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kName, &record->name);
  if (FAILED(hr)) return hr;
  if (declaration->declClass == kDeclVariable || declaration->declClass == kDeclFunction) {
    const ParseNode* type = declaration;
    if (declaration->declClass == kDeclFunction) {
      const ParseNode* d = declaration->description;
      type = d && d->kind == NodeKind::Kind10 ? static_cast<const ParseNodeKind10*>(d)->returnType : nullptr;
    }
    // A function without a return type has no type record.
    hr = type ? WriteTypeRecord(&m_block, type, 1, first.binding & kSamplerDimensionBits, &record->type) : S_OK;
    if (hr == E_FAIL) record->type = 0, hr = S_OK;
    if (FAILED(hr)) return hr;
  }
  std::uint32_t writes = 0;
  for (std::uint32_t i = 0; i < n; ++i)
    if (i == 0 || m_program.Value(run[i])->sequence != m_program.Value(run[i - 1])->sequence) ++writes;
  auto* records = static_cast<WriteRecord*>(std::calloc(writes, sizeof(WriteRecord)));
  if (!records) return E_OUTOFMEMORY;
  WriteRecord* w = records - 1;
  for (std::uint32_t i = 0; i < n; ++i) {
    const IrValue& v = *m_program.Value(run[i]);
    if (i == 0 || v.sequence != m_program.Value(run[i - 1])->sequence) {
      ++w;
      *w = WriteRecord{v.sequence, {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}};
    }
    if (v.component < 4) w->components[v.component] = static_cast<std::uint16_t>(v.variableComponent);
  }
  record->writes = writes;
  return m_block.Append(records, writes * sizeof(WriteRecord), CommentBlockBuilder::kOwnedData, &record->writeTable);
}

HRESULT DebugInfoWriter::WriteVariables(PodArray<std::uint32_t>* declared) {
  const std::uint32_t n = static_cast<std::uint32_t>(declared->Size());
  SortIndicesByComparator(CompareDebugValues, declared->Data(), n, &m_program);
  std::uint32_t runs = 0;
  for (std::uint32_t i = 0; i < n; ++i)
    if (i == 0 || m_program.Value((*declared)[i])->declaration != m_program.Value((*declared)[i - 1])->declaration)
      ++runs;
  m_variables = MakeArray<VariableRecord>(runs);
  if (!m_variables) return E_OUTOFMEMORY;
  std::uint32_t record = 0;
  for (std::uint32_t start = 0; start < n;) {
    std::uint32_t end = start + 1;
    const DeclarationNode* declaration = m_program.Value((*declared)[start])->declaration;
    while (end < n && m_program.Value((*declared)[end])->declaration == declaration) ++end;
    const HRESULT hr = WriteVariable(declared->Data() + start, end - start, &m_variables[record++]);
    if (FAILED(hr)) return hr;
    start = end;
  }
  m_header.variables = runs;
  return runs ? m_block.Append(m_variables.get(), runs * sizeof(VariableRecord), CommentBlockBuilder::kRecords,
                               &m_header.variableTable)
              : S_OK;
}

HRESULT DebugInfoWriter::Write() {
  HRESULT hr = m_block.Append(&m_header, sizeof m_header, CommentBlockBuilder::kRecords, nullptr);
  PodArray<std::uint32_t> declared;
  if (SUCCEEDED(hr)) hr = WriteInstructions(&declared);
  if (SUCCEEDED(hr)) hr = WriteVariables(&declared);
  if (SUCCEEDED(hr) && m_program.EntryName())
    hr = m_block.Append(m_program.EntryName(), CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kName,
                        &m_header.entry);
  if (SUCCEEDED(hr) && m_target.sourceText) {
    static constexpr char kZero = 0;
    hr = m_block.Append(m_target.sourceText, m_target.sourceLength, CommentBlockBuilder::kText, &m_header.source);
    if (SUCCEEDED(hr)) hr = m_block.Append(&kZero, 1, CommentBlockBuilder::kText, nullptr);
  }
  if (SUCCEEDED(hr))
    hr = m_block.Append(kCompilerBanner, CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kText,
                        &m_header.creator);
  if (FAILED(hr)) return hr;

  const std::uint32_t dwords = m_block.SizeInDwords();
  if (dwords > kMaxCommentDwords) {
    GXL_SHADER_REPORT(m_program, nullptr, msg::kDebugInfoTooLarge);
    return S_OK;
  }
  // The offsets count the blocks in front of the instructions, this one included.
  const std::uint32_t inserted = m_target.insertedDwords ? *m_target.insertedDwords : 0;
  for (std::uint32_t i = 0; i < m_header.instructions; ++i) m_instructions[i].offset += (inserted + dwords) * 4;
  return InsertTargetBlock(m_target, m_block);
}

}  // namespace

HRESULT WriteDebugInfo(const BlockTarget& target) {
  if (!target.program || !target.tokens || (target.debugRecordCount && !target.debugRecords)) return E_FAIL;
  return DebugInfoWriter(target).Write();
}

HRESULT WritePreshader(const BlockTarget& target, PreshaderSource* preshader) {
  if (!target.program || !target.tokens || !preshader) return E_FAIL;
  HRESULT hr = preshader->PreparePreshader();
  if (FAILED(hr)) return hr;
  ComRef<DataBuffer> code;
  hr = preshader->CompilePreshader(code.Put());
  if (FAILED(hr)) return hr;
  if (hr != S_OK || !code) return S_OK;  // the preshader produced nothing: no block
  CommentBlockBuilder block(kTagPreshader);
  hr = block.Append(code->GetPointer(), code->GetSize(), CommentBlockBuilder::kByReference, nullptr);
  if (FAILED(hr)) return hr;
  if (block.SizeInDwords() > kMaxCommentDwords) {
    GXL_SHADER_REPORT(*target.program, nullptr, msg::kConstantTableTooLarge);
    return E_FAIL;
  }
  return InsertTargetBlock(target, block);
}

}  // namespace gxl::shader
