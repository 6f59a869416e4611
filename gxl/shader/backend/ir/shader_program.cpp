// A program's records: appending, copying, and the lookups that follow links.
#include "gxl/shader/backend/ir/shader_program.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <utility>

#include "gxl/shader/backend/ir/work_rates.h"
#include "gxl/shader/core/page_pool.h"

namespace gxl::shader {

namespace {

RegisterBank* CopyBank(const RegisterBank& bank) {
  auto* copy = new (std::nothrow) RegisterBank;
  if (copy) copy->CopyFrom(&bank);
  return copy;
}

IrValue* CopyValue(const IrValue& value) {
  auto* copy = new IrValue;
  if (copy) copy->CopyFrom(&value);
  return copy;
}

IrInstruction* CopyInstruction(const IrInstruction& instruction) {
  auto* copy = new IrInstruction;
  if (copy && FAILED(copy->CopyFrom(&instruction))) {
    delete copy;
    return nullptr;
  }
  return copy;
}

}  // namespace

HRESULT ProgramLists::CopyFrom(const ProgramLists& other) {
  if (&other == this) return S_OK;
  HRESULT hr = banks.CopyFrom(other.banks, CopyBank);
  if (SUCCEEDED(hr)) hr = values.CopyFrom(other.values, CopyValue);
  if (SUCCEEDED(hr)) hr = instructions.CopyFrom(other.instructions, CopyInstruction);
  return hr;
}

ShaderProgram::ShaderProgram() { std::fill(std::begin(standardBanks), std::end(standardBanks), kNoIndex); }

ShaderProgram::~ShaderProgram() = default;

HRESULT ShaderProgram::CheckSemantics(std::uint32_t, std::uint32_t) { return E_FAIL; }

HRESULT ShaderProgram::SetupProfileLimits() {
  profileLimits.inputs = 64;
  profileLimits.temporaries = 64;
  profileLimits.addressRegisters = 0;
  profileLimits.floatConstants = 8192;
  profileLimits.capabilities &= ~3u;
  profileLimits.secondFlags |= 0x200;
  return S_OK;
}

HRESULT ShaderProgram::SelectInstructions() { return 1; }

std::uint64_t ShaderProgram::WalkWork(std::uint64_t records, std::uint32_t rate) const {
  // Sixteenths of the plain rate by the program's records, from 2^15 on, a
  // row per doubling: what a walk's time per record grows to as the program
  // outgrows the caches (the optimiser's passes over the corpus and the
  // unrolled nests, 2^13 to 2^21 records).
  static constexpr std::uint64_t kBySize[] = {26, 32, 42, 53, 69, 88, 96};
  const auto width = static_cast<std::uint32_t>(std::bit_width(std::uint64_t{instructions.Count()} + values.Count()));
  const std::uint64_t scale = !walksBySize || width <= 15 ? 16 : kBySize[std::min(width - 16, 6u)];
  return (records * rate * scale + 255) / 256;
}

HRESULT ShaderProgram::ChargeWork(std::uint64_t steps) {
  if (unmeteredWork && !workExhausted) return S_OK;
  // Fresh memory counts against the cap alone: the lowering's budget, which
  // decides how it lowers loops, stays the measure of what it builds.
  PagePool* const pool = InstructionPagePool();
  const std::uint64_t fresh =
      (pool ? pool->TakeFreshBytes() / workrate::kPageBytes * workrate::kFreshPage : 0) + std::exchange(capOwed, 0);
  const std::uint64_t underCap = workCap - std::min(workCap, workCharged);
  if (!workExhausted && steps <= WorkRemaining() && fresh <= underCap - steps) {
    workLeft -= steps;
    workCharged += steps + fresh;
    if (workCap - workCharged < workShareFloor) workShareSpent = true;
    return S_OK;
  }
  workExhausted = true;
  workLeft = 0;
  if (!holdWorkReport) ReportWorkBound();
  return E_FAIL;
}

void ShaderProgram::ReportWorkBound() {
  if (!workExhausted || workReported) return;
  workReported = true;
  GXL_SHADER_REPORT(*this, nullptr, msg::kWorkBoundExceeded);
}

std::uint64_t ShaderProgram::GrantRestOfCap(std::uint64_t budget) {
  if (workExhausted) return budget;
  const std::uint64_t spent = budget - std::min(budget, workLeft);
  walksBySize = true;
  workLeft = workCap - std::min(workCap, workCharged);
  return spent + workLeft;
}

HRESULT ShaderProgram::SetEntryName(const char* name) {
  m_entryName.reset();
  if (!name) return S_OK;
  const std::size_t length = std::strlen(name);
  m_entryName.reset(new (std::nothrow) char[length + 1]);
  if (!m_entryName) return E_OUTOFMEMORY;
  std::memcpy(m_entryName.get(), name, length + 1);
  return S_OK;
}

std::uint32_t ShaderProgram::AddRegisterBank(const char* name, std::uint32_t typeWord, std::uint32_t registerCount,
                                             std::uint32_t components) {
  auto* bank = new (std::nothrow) RegisterBank;
  if (!bank) return kNoIndex;
  bank->Init(name, typeWord, registerCount, components);
  return banks.Append(bank);
}

std::uint32_t ShaderProgram::AddRegisterBankCopy(const RegisterBank* bank) {
  return bank ? banks.Append(CopyBank(*bank)) : kNoIndex;
}

namespace {

// A literal's properties are fixed when it joins the program.
void Classify(const ShaderProgram& program, IrValue& value) {
  const RegisterBank* bank = program.banks[value.bank];
  if (bank && (bank->type & kBankLiteral) && value.relativeIndex == kNoIndex)
    value.flags |= ClassifyLiteral(value.rangeLow);
}

}  // namespace

std::uint32_t ShaderProgram::AddValue(std::uint32_t bank, std::uint32_t reg, std::uint32_t component,
                                      double literal) {
  auto* value = new IrValue;
  if (!value) return kNoIndex;
  value->Init(bank, reg, component, literal);
  Classify(*this, *value);
  return values.Append(value);
}

std::uint32_t ShaderProgram::AddValueCopy(const IrValue* source) {
  IrValue* value = source ? CopyValue(*source) : nullptr;
  if (!value) return kNoIndex;
  Classify(*this, *value);
  return values.Append(value);
}

std::uint32_t ShaderProgram::AddInstruction(std::uint32_t operationWord, std::uint32_t argumentCount,
                                            std::uint32_t resultCount) {
  auto* instruction = new IrInstruction;
  if (!instruction) return kNoIndex;
  if (FAILED(instruction->Init(operationWord, argumentCount, resultCount))) {
    delete instruction;
    return kNoIndex;
  }
  return instructions.Append(instruction);
}

std::uint32_t ShaderProgram::AddInstructionCopy(const IrInstruction* source) {
  IrInstruction* instruction = source ? CopyInstruction(*source) : nullptr;
  return instruction ? instructions.Append(instruction) : kNoIndex;
}

const char* ShaderProgram::ValueDirectionText(std::uint32_t value) const {
  const IrValue* v = values.Peek(value);
  const RegisterBank* bank = v ? banks[v->bank] : nullptr;
  return bank && (bank->type & kBankOutput) ? "output" : "input";
}

std::uint32_t ShaderProgram::RenumberingField(std::uint32_t value) const {
  const IrValue* v = values.Peek(value);
  return v ? v->renumber : kNoIndex;
}

std::uint32_t ShaderProgram::FindRenumberedRoot(const std::uint32_t* const map[2], std::uint32_t column,
                                                std::uint32_t row, std::uint32_t mode) const {
  std::uint32_t v;
  if (mode == 0) {
    v = map[row ? 1 : 0][column];
  } else {
    const std::uint32_t a = map[0][column], b = map[1][column];
    v = row ? std::max(a, b) : std::min(a, b);
  }
  // A chain never needs more steps than there are values; a cycle ends there.
  for (std::uint32_t steps = 0; steps < values.Count(); ++steps) {
    const IrValue* record = values.Peek(v);
    if (!record || record->renumber == v) break;
    v = record->renumber;
  }
  return v;
}

}  // namespace gxl::shader
